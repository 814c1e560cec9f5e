// The data stream endpoints. For each of six record kinds the client listens
// on a port, the acquisition server connects to it, and a receive thread cuts
// the byte stream into fixed-size records and hands each one to a registered
// callback together with the name of the object it belongs to.
//
// NodeConnectionClient is the common base; the six kinds differ only in the
// record size, the stream's name, the objects it serves and how a record
// names its object, which one table tells (stream_kinds.cpp).
//
// Threads: InitServerStream, CloseServerStream, AddStreamObject and
// RemoveStreamObject run on the caller's thread (the owning NetworkNodeClient
// serialises them). The receive thread runs ExecuteCallback and with it the
// user's callback. Callback registration and the object list are guarded
// against the receive thread by mCallbackLock; a registration made while a
// callback is running waits until that callback has returned, so once a
// setter has returned the earlier callback is no longer called.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "client/record_tap.h"
#include "client/socket_errors.h"
#include "client/socket_layer.h"
#include "client/stream_callback.h"
#include "platform/mutex.h"
#include "platform/thread_annotations.h"

namespace orvanta {

class ClientLogFile;

// The lock of a stream's callback registration. Recursive: the callback runs
// with it held, and may register again or update the object list on its own
// stream.
class CAPABILITY("mutex") CallbackMutex {
 public:
  void Lock() ACQUIRE() { mMutex.lock(); }
  void Unlock() RELEASE() { mMutex.unlock(); }

 private:
  std::recursive_mutex mMutex;
};

class SCOPED_CAPABILITY CallbackLock {
 public:
  explicit CallbackLock(CallbackMutex* mutex) ACQUIRE(mutex) : mMutex(mutex) { mMutex->Lock(); }
  ~CallbackLock() RELEASE() { mMutex->Unlock(); }
  CallbackLock(const CallbackLock&) = delete;
  CallbackLock& operator=(const CallbackLock&) = delete;

 private:
  CallbackMutex* const mMutex;
};

// The six record kinds.
enum class StreamKindId { kSE, kST, kTT, kCSC, kVT, kEV };

class NodeConnectionClient {
 public:
  // `log` is the owning client's log; not owned, must outlive the stream.
  NodeConnectionClient(StreamKindId kind, ClientLogFile* log);
  NodeConnectionClient(const NodeConnectionClient&) = delete;
  NodeConnectionClient& operator=(const NodeConnectionClient&) = delete;
  // A stream still set up is stopped and its sockets closed, without log
  // entries; normally CloseServerStream has done that already.
  virtual ~NodeConnectionClient();

  // Only the setter of the stream's own kind registers; the others do
  // nothing. A null callback or a null context delivers nothing.
  virtual void SetCallbackFunctionSE(StreamCallback callback, void* context);
  virtual void SetCallbackFunctionST(StreamCallback callback, void* context);
  virtual void SetCallbackFunctionTT(StreamCallback callback, void* context);
  virtual void SetCallbackFunctionCSC(StreamCallback callback, void* context);
  virtual void SetCallbackFunctionEV(StreamCallback callback, void* context);
  virtual void SetCallbackFunctionVT(StreamCallback callback, void* context);

  // Adds (or with null removes) the tap that sees every record's object
  // before the callback. Once it returns, a removed tap is no longer called.
  void SetRecordTap(RecordTap* tap);

  // Keeps, in order, the names whose data type this stream serves. The two
  // lists are paired by position; names without a type are skipped.
  void UpdateObjectList(const std::vector<std::string>& names,
                        const std::vector<std::string>& types);

  // Listens on `port` on all local addresses (0: any free port), allocates
  // the receive buffer and starts the receive thread, which accepts one
  // connection and reads records until it closes. A stream that is still set
  // up is closed first. False (logged) when a step fails.
  bool InitServerStream(int port);

  // Stops the receive thread (it may be blocked in accept or recv; its
  // sockets are shut down so that the call returns), waits for it (500 ms)
  // and closes the sockets. A thread still inside a blocking callback then
  // is let go (logged at ERROR): it closes its sockets itself when the
  // callback returns, and the next set-up waits for it, bounded (2 s). Safe
  // on a stream never set up.
  void CloseServerStream();

  // Asks the receive thread to stop and shuts its sockets down, without
  // waiting and without log entries; CloseServerStream finishes the job.
  void RequestStop();

  // Open counts of the objects opened on this stream.
  bool AddStreamObject(const std::string& objectName);
  bool RemoveStreamObject(const std::string& objectName);

  // The port listened on (the actual one when 0 was asked for); 0 before.
  int GetPortNumber() const;
  int GetRecordSize() const { return mRecordSize; }
  const std::string& GetStreamType() const { return mStreamType; }
  // True while a receive thread or a socket of this stream exists.
  bool IsSetUp() const;
  // The open count of an object, 0 when it is not open.
  int GetStreamObjectCount(const std::string& objectName) const;
  std::vector<std::string> GetTypeObjects() const;

 protected:
  void Log(int level, const std::string& text) const;

  const StreamKindId mKind;
  const int mRecordSize;
  const std::string mStreamType;

 private:
  // Called on the receive thread with one complete record at mRecord: hands
  // it to the callback with the name of its object (stream_kinds.cpp).
  void ExecuteCallback();
  void StoreCallback(StreamKindId kind, StreamCallback callback, void* context);
  // Hands the record to the callback with the name at `index` of
  // mTypeObjects; an index out of range is logged at ERROR. With no
  // callback or no context the record is dropped silently.
  void DeliverIndexed(long index);
  // Little-endian fields of the record at mRecord.
  int32_t RecordInt32(int offset) const;
  uint16_t RecordUInt16(int offset) const;

  bool CreateSocket();
  bool BindSocket(int port);
  bool ListenToSocket();
  // One call on the listener, under the socket lock; a failure is logged.
  bool ListenerStep(net::SocketCall call, const std::function<int(net::SocketHandle)>& step);
  bool CreateRecieveBuffer();
  bool AcceptClientSocket();
  // Hands the next record to ExecuteCallback, reading more when fewer than
  // one whole record is buffered. False when the connection ended, a
  // receive failed or a stop was requested.
  bool RecieveData();
  // Reads until at least one whole record is buffered.
  bool FillRecieveBuffer();
  void ProcessRecieveError(int code);
  void ProcessCloseError(int code);
  void LogSocketError(net::SocketCall call, int code);
  void ReceiveThreadMain();
  // False when the thread was let go, or one let go earlier has not ended.
  bool StopThreadAndCloseSockets(bool logged);
  // Waits up to `bound` for the receive thread to end; true once it has.
  bool WaitForThreadEnd(std::chrono::milliseconds bound) EXCLUDES(mThreadStateLock);
  void CloseSockets(bool logged);
  // Waits until the socket can be read or a stop is requested; false on stop.
  bool WaitForData(net::SocketHandle socket);

  // The receive buffer: bytes are read into it in large chunks, as many
  // records as the socket has ready, and each record is handed to the
  // callback in place. Receive thread only while it runs.
  std::unique_ptr<unsigned char[]> mRecvBuffer;
  int mRecvBufferSize = 0;                 // its capacity, a whole number of records
  int mRecvConsumed = 0;                   // bytes of the buffer already delivered
  int mRecvFilled = 0;                     // bytes of the buffer received
  const unsigned char* mRecord = nullptr;  // the record being delivered

  // Callback registration and the object list, read by the receive thread.
  mutable CallbackMutex mCallbackLock;
  std::vector<std::string> mTypeObjects GUARDED_BY(mCallbackLock);
  StreamCallback mCallbackFunction GUARDED_BY(mCallbackLock) = nullptr;
  void* mCallbackContext GUARDED_BY(mCallbackLock) = nullptr;
  RecordTap* mRecordTap GUARDED_BY(mCallbackLock) = nullptr;

  ClientLogFile* const mLogFile;

  // The sockets: the listener is written only on the caller's thread while no
  // receive thread runs; the data socket is written by the receive thread.
  mutable Mutex mSocketLock;
  net::SocketHandle mDataSocket GUARDED_BY(mSocketLock) = net::kInvalidSocket;
  net::SocketHandle mListenSocket GUARDED_BY(mSocketLock) = net::kInvalidSocket;
  std::atomic<int> mPortNumber{0};

  std::vector<std::string> mStreamObjects;  // caller's thread only
  std::vector<int> mStreamObjectCounts;

  std::thread mDmaProcessor;  // the receive thread, joinable while it exists
  std::atomic<bool> mStopRequested{false};
  // Set when the stream was closed from its own callback and the thread was
  // let go; the thread then closes the sockets itself.
  std::atomic<bool> mOrphaned{false};
  mutable Mutex mThreadStateLock;
  CondVar mThreadEndedCv{&mThreadStateLock};
  bool mThreadEnded GUARDED_BY(mThreadStateLock) = true;
};

// The streams by kind, as the client names them.
template <StreamKindId Kind>
class NodeConnectionClientOf : public NodeConnectionClient {
 public:
  explicit NodeConnectionClientOf(ClientLogFile* log) : NodeConnectionClient(Kind, log) {}
};

using NodeConnectionClientSE = NodeConnectionClientOf<StreamKindId::kSE>;
using NodeConnectionClientST = NodeConnectionClientOf<StreamKindId::kST>;
using NodeConnectionClientTT = NodeConnectionClientOf<StreamKindId::kTT>;
using NodeConnectionClientCSC = NodeConnectionClientOf<StreamKindId::kCSC>;
using NodeConnectionClientVT = NodeConnectionClientOf<StreamKindId::kVT>;
using NodeConnectionClientEV = NodeConnectionClientOf<StreamKindId::kEV>;

}  // namespace orvanta
