#include "client/node_connection_client.h"

#include <cerrno>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <new>
#include <system_error>

#include "client/client_log_file.h"
#include "client/socket_errors.h"
#include "platform/text_format.h"

namespace orvanta {
namespace {

using text_format::Format;

// How long a blocked receive thread waits before it looks at its stop flag
// again. Shutting the sockets down wakes it at once; this only bounds the
// case where that does not.
constexpr int kStopPollMs = 50;
// How long CloseServerStream waits for the receive thread before it logs.
constexpr auto kThreadEndWait = std::chrono::milliseconds(500);
// How long a new set-up waits for a receive thread that was let go.
constexpr auto kOrphanEndWait = std::chrono::milliseconds(2000);

constexpr int kListenBacklog = 2;
// How much one receive call may read: as many whole records as fit.
constexpr int kRecvChunkBytes = 256 * 1024;

}  // namespace

NodeConnectionClient::~NodeConnectionClient() { StopThreadAndCloseSockets(false); }

void NodeConnectionClient::Log(int level, const std::string& text) const {
  if (mLogFile != nullptr) mLogFile->WriteLogEntry(level, text);
}

void NodeConnectionClient::LogSocketError(net::SocketCall call, int code) {
  const std::string text = net::SocketErrorText(call, code);
  if (text.empty()) return;
  Log(client_log::kError, text + "  mStreamType: " + mStreamType);
}

void NodeConnectionClient::ProcessRecieveError(int code) {
  LogSocketError(net::SocketCall::kStreamRecieve, code);
}

void NodeConnectionClient::ProcessCloseError(int code) {
  LogSocketError(net::SocketCall::kStreamClose, code);
}

// ---------------------------------------------------------------------------
// Set-up and tear-down

bool NodeConnectionClient::InitServerStream(int port) {
  if (IsSetUp() && !StopThreadAndCloseSockets(true)) return false;
  if (port < 0 || port > 65535) {
    // 0 lets the system choose; a larger number would wrap to another port.
    Log(client_log::kError,
        Format("NodeConnectionClient::InitServerStream() - Error, the port number %i is outside "
               "0..65535.  mStreamType: %s",
               port, mStreamType.c_str()));
    return false;
  }

  if (!CreateSocket()) return false;
  if (!BindSocket(port) || !ListenToSocket()) {
    // A listener that cannot listen is of no use; release it now.
    MutexLock lock(&mSocketLock);
    net::CloseSocket(mListenSocket);
    mListenSocket = net::kInvalidSocket;
    return false;
  }
  if (!CreateRecieveBuffer()) {
    MutexLock lock(&mSocketLock);
    net::CloseSocket(mListenSocket);
    mListenSocket = net::kInvalidSocket;
    return false;
  }

  int actual = port;
  {
    MutexLock lock(&mSocketLock);
    uint32_t address = 0;
    int bound = 0;
    if (net::LocalAddress(mListenSocket, &address, &bound) == 0) actual = bound;
  }
  mPortNumber.store(actual);

  mStopRequested.store(false);
  {
    MutexLock lock(&mThreadStateLock);
    mThreadEnded = false;
  }
  try {
    mDmaProcessor = std::thread(&NodeConnectionClient::ReceiveThreadMain, this);
  } catch (const std::system_error&) {
    {
      MutexLock lock(&mThreadStateLock);
      mThreadEnded = true;
    }
    Log(client_log::kError,
        Format("NodeConnectionClient::InitServerStream() - Error, unable to create new thread, "
               "AfxBeginThread() returned a null.  mStreamType: %s",
               mStreamType.c_str()));
    return false;
  }
  return true;
}

bool NodeConnectionClient::CreateSocket() {
  int error = 0;
  const net::SocketHandle s = net::CreateTcpSocket(&error);
  if (s == net::kInvalidSocket) {
    LogSocketError(net::SocketCall::kStreamCreateSocket, error);
    return false;
  }
  MutexLock lock(&mSocketLock);
  mListenSocket = s;
  return true;
}

bool NodeConnectionClient::BindSocket(int port) {
  return ListenerStep(net::SocketCall::kStreamBind,
                      [port](net::SocketHandle s) { return net::BindAny(s, port); });
}

bool NodeConnectionClient::ListenToSocket() {
  return ListenerStep(net::SocketCall::kStreamListen,
                      [](net::SocketHandle s) { return net::Listen(s, kListenBacklog); });
}

bool NodeConnectionClient::ListenerStep(net::SocketCall call,
                                        const std::function<int(net::SocketHandle)>& step) {
  int error = 0;
  {
    MutexLock lock(&mSocketLock);
    error = step(mListenSocket);
  }
  if (error != 0) {
    LogSocketError(call, error);
    return false;
  }
  return true;
}

bool NodeConnectionClient::CreateRecieveBuffer() {
  mRecvBuffer.reset();
  mRecvConsumed = 0;
  mRecvFilled = 0;
  mRecord = nullptr;
  mRecvBufferSize = mRecordSize * std::max(1, kRecvChunkBytes / mRecordSize);
  mRecvBuffer.reset(new (std::nothrow) unsigned char[static_cast<size_t>(mRecvBufferSize)]);
  if (!mRecvBuffer) {
    Log(client_log::kError,
        Format("NodeConnectionClient::CreateRecieveBuffer() - Error memory allocating failed, a "
               "null value was returned.  mRecvBufferSize: %i, mStreamType: %s",
               mRecvBufferSize, mStreamType.c_str()));
    mRecvBufferSize = 0;
    return false;
  }
  return true;
}

void NodeConnectionClient::RequestStop() {
  mStopRequested.store(true);
  MutexLock lock(&mSocketLock);
  net::ShutdownSocket(mListenSocket);
  net::ShutdownSocket(mDataSocket);
}

void NodeConnectionClient::CloseServerStream() { StopThreadAndCloseSockets(true); }

bool NodeConnectionClient::StopThreadAndCloseSockets(bool logged) {
  if (mDmaProcessor.joinable() && mDmaProcessor.get_id() == std::this_thread::get_id()) {
    // Closed from the stream's own callback: the thread cannot wait for
    // itself. It ends as soon as the callback returns and closes its sockets
    // on the way out.
    RequestStop();
    if (logged) {
      Log(client_log::kNotice,
          "NodeConnectionClient::CloseServerStream() - mDmaProcessor thread has been terminated "
          "successfully.");
      Log(client_log::kNotice,
          "NodeConnectionClient::CloseServerStream() - WaitForSingleObject for mDmaProcessor "
          "thread completed successfully.");
    }
    mOrphaned.store(true);
    mDmaProcessor.detach();
    return true;
  }
  if (mDmaProcessor.joinable()) {
    // The thread checks no flag while it is blocked in accept or recv;
    // shutting its sockets down makes those calls return, and it never holds
    // the log's lock while it waits.
    RequestStop();
    if (logged && !WaitForThreadEnd(kThreadEndWait)) {
      // Still inside the user's callback, which blocks. The thread is let go:
      // it closes its sockets itself once the callback returns, and the
      // object waits for it (bounded) before it is set up again.
      Log(client_log::kError,
          Format("NodeConnectionClient::CloseServerStream() - Error, mDmaProcessor thread was "
                 "unable to terminate. lastError: %i",
                 ETIMEDOUT));
      mOrphaned.store(true);
      mDmaProcessor.detach();
      return false;
    }
    if (logged) {
      Log(client_log::kNotice,
          "NodeConnectionClient::CloseServerStream() - mDmaProcessor thread has been terminated "
          "successfully.");
      Log(client_log::kNotice,
          "NodeConnectionClient::CloseServerStream() - WaitForSingleObject for mDmaProcessor "
          "thread completed successfully.");
    }
    // Outside a close (the destructor, a silent stop) the thread is waited
    // for: the sockets and the buffer must outlive it.
    mDmaProcessor.join();
  } else if (logged) {
    // A thread let go earlier: a new set-up waits for it, bounded. One that
    // is still inside its callback keeps the stream from being set up again.
    if (!WaitForThreadEnd(kOrphanEndWait)) {
      Log(client_log::kError,
          Format("NodeConnectionClient::CloseServerStream() - Error, the mDmaProcessor thread of "
                 "an earlier connection is still inside its callback, the stream cannot be set "
                 "up again yet.  mStreamType: %s",
                 mStreamType.c_str()));
      return false;
    }
  } else {
    // The destructor: the thread uses this object's sockets and buffer.
    MutexLock lock(&mThreadStateLock);
    while (!mThreadEnded) mThreadEndedCv.Wait();
  }

  CloseSockets(logged);
  mStopRequested.store(false);
  return true;
}

bool NodeConnectionClient::WaitForThreadEnd(std::chrono::milliseconds bound) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  MutexLock lock(&mThreadStateLock);
  while (!mThreadEnded) {
    if (!mThreadEndedCv.WaitUntil(deadline)) break;
  }
  return mThreadEnded;
}

void NodeConnectionClient::CloseSockets(bool logged) {
  net::SocketHandle listen_socket;
  net::SocketHandle data_socket;
  {
    MutexLock lock(&mSocketLock);
    listen_socket = mListenSocket;
    data_socket = mDataSocket;
    mListenSocket = net::kInvalidSocket;
    mDataSocket = net::kInvalidSocket;
  }
  if (listen_socket != net::kInvalidSocket) {
    const int error = net::CloseSocket(listen_socket);
    if (error != 0 && logged) ProcessCloseError(error);
  }
  if (data_socket != net::kInvalidSocket) {
    const int error = net::CloseSocket(data_socket);
    if (error != 0 && logged) ProcessCloseError(error);
  }
}

bool NodeConnectionClient::IsSetUp() const {
  if (mDmaProcessor.joinable()) return true;
  {
    MutexLock lock(&mThreadStateLock);
    if (!mThreadEnded) return true;  // let go by its own callback, still ending
  }
  MutexLock lock(&mSocketLock);
  return mListenSocket != net::kInvalidSocket || mDataSocket != net::kInvalidSocket;
}

int NodeConnectionClient::GetPortNumber() const { return mPortNumber.load(); }

// ---------------------------------------------------------------------------
// The receive thread

void NodeConnectionClient::ReceiveThreadMain() {
  if (AcceptClientSocket()) {
    while (RecieveData()) {
    }
  }
  if (mOrphaned.exchange(false)) {
    CloseSockets(false);
    mStopRequested.store(false);
  }
  // Notified under the lock: once a waiter sees the flag, this thread no
  // longer touches the object, which may then be destroyed.
  MutexLock lock(&mThreadStateLock);
  mThreadEnded = true;
  mThreadEndedCv.SignalAll();
}

bool NodeConnectionClient::WaitForData(net::SocketHandle socket) {
  for (;;) {
    if (mStopRequested.load()) return false;
    int error = 0;
    const net::WaitResult r = net::WaitReadable(socket, kStopPollMs, &error);
    if (mStopRequested.load()) return false;
    // Ready, or the wait failed: the following call reports what happened.
    if (r != net::WaitResult::kTimeout) return true;
  }
}

bool NodeConnectionClient::AcceptClientSocket() {
  net::SocketHandle listener;
  {
    MutexLock lock(&mSocketLock);
    listener = mListenSocket;
  }
  if (!WaitForData(listener)) return false;
  int error = 0;
  const net::SocketHandle s = net::Accept(listener, &error);
  if (s == net::kInvalidSocket) {
    // After a stop request the failure is the shutdown's doing, not news.
    if (!mStopRequested.load()) LogSocketError(net::SocketCall::kStreamAccept, error);
    return false;
  }
  MutexLock lock(&mSocketLock);
  mDataSocket = s;
  // A stop requested between the accept and here found no data socket to
  // shut down; the receive loop sees the flag instead.
  return true;
}

bool NodeConnectionClient::RecieveData() {
  // Records already received are not delivered after a stop request.
  if (mStopRequested.load(std::memory_order_relaxed)) return false;
  unsigned char* buffer = mRecvBuffer.get();
  if (mRecvFilled - mRecvConsumed < mRecordSize) {
    // Keep the partial record at the front, then read as much as the socket
    // has ready, at least up to the end of that record.
    const int partial = mRecvFilled - mRecvConsumed;
    if (partial > 0) std::memmove(buffer, buffer + mRecvConsumed, static_cast<size_t>(partial));
    mRecvConsumed = 0;
    mRecvFilled = partial;
    if (!FillRecieveBuffer()) return false;
  }
  mRecord = buffer + mRecvConsumed;
  mRecvConsumed += mRecordSize;
  ExecuteCallback();
  return true;
}

bool NodeConnectionClient::FillRecieveBuffer() {
  net::SocketHandle socket;
  {
    MutexLock lock(&mSocketLock);
    socket = mDataSocket;
  }
  unsigned char* buffer = mRecvBuffer.get();
  while (mRecvFilled < mRecordSize) {
    // Bytes already waiting are taken at once; only an empty socket is
    // waited for, in the wait that sees a stop request.
    int error = 0;
    long n = net::RecvReady(socket, buffer + mRecvFilled,
                            static_cast<size_t>(mRecvBufferSize - mRecvFilled), &error);
    if (n == net::kRecvWouldBlock) {
      if (!WaitForData(socket)) return false;
      n = net::RecvSome(socket, buffer + mRecvFilled,
                        static_cast<size_t>(mRecvBufferSize - mRecvFilled), &error);
    }
    if (n == 0) {
      if (!mStopRequested.load()) {
        Log(client_log::kNotice,
            Format("NodeConnectionClient::RecieveData() - Attempt to recieve data has failed, "
                   "socket has been closed gracefully.  mStreamType: %s",
                   mStreamType.c_str()));
      }
      return false;
    }
    if (n < 0) {
      if (!mStopRequested.load()) ProcessRecieveError(error);
      return false;
    }
    mRecvFilled += static_cast<int>(n);
  }
  return true;
}

// ---------------------------------------------------------------------------
// Open counts

bool NodeConnectionClient::AddStreamObject(const std::string& objectName) {
  Log(client_log::kNotice,
      Format("NodeConnectionClient::AddStreamObject() - Notice, Attempting to add object to our "
             "stream list, objectName: %s, mStreamType %s.",
             objectName.c_str(), mStreamType.c_str()));
  for (size_t i = 0; i < mStreamObjects.size(); ++i) {
    if (mStreamObjects[i] == objectName) {
      ++mStreamObjectCounts[i];
      Log(client_log::kNotice,
          Format("NodeConnectionClient::AddStreamObject() - Notice, Stream Object is already in "
                 "our list, count has been incremented.  count: %i, mStreamType %s.",
                 mStreamObjectCounts[i], mStreamType.c_str()));
      return true;
    }
  }
  mStreamObjects.push_back(objectName);
  mStreamObjectCounts.push_back(1);
  Log(client_log::kNotice,
      Format("NodeConnectionClient::AddStreamObject() - Notice, Attempt to add stream object to "
             "our list was successful.  objectName: %s, mStreamType %s.",
             objectName.c_str(), mStreamType.c_str()));
  return true;
}

bool NodeConnectionClient::RemoveStreamObject(const std::string& objectName) {
  Log(client_log::kNotice,
      Format("NodeConnectionClient::RemoveStreamObject() - Notice, Attempting to remove object "
             "from our stream list, objectName: %s, mStreamType %s.",
             objectName.c_str(), mStreamType.c_str()));
  for (size_t i = 0; i < mStreamObjects.size(); ++i) {
    if (mStreamObjects[i] == objectName) {
      --mStreamObjectCounts[i];
      Log(client_log::kNotice,
          Format("NodeConnectionClient::RemoveStreamObject() - Notice, Stream Object count has "
                 "been decremented.  count: %i, mStreamType %s.",
                 mStreamObjectCounts[i], mStreamType.c_str()));
      if (mStreamObjectCounts[i] > 0) return false;
      mStreamObjects.erase(mStreamObjects.begin() + static_cast<long>(i));
      mStreamObjectCounts.erase(mStreamObjectCounts.begin() + static_cast<long>(i));
      Log(client_log::kNotice,
          Format("NodeConnectionClient::RemoveStreamObject() - Notice, Stream Object count was "
                 "zero, therefore object has been removed.  objectName: %s, mStreamType %s.",
                 objectName.c_str(), mStreamType.c_str()));
      return true;
    }
  }
  Log(client_log::kError,
      Format("NodeConnectionClient::RemoveStreamObject() - Error, Attempt to remove object from "
             "our list failed, the object was not found.  objectName: %s, mStreamType %s.",
             objectName.c_str(), mStreamType.c_str()));
  return false;
}

int NodeConnectionClient::GetStreamObjectCount(const std::string& objectName) const {
  for (size_t i = 0; i < mStreamObjects.size(); ++i)
    if (mStreamObjects[i] == objectName) return mStreamObjectCounts[i];
  return 0;
}

}  // namespace orvanta
