// The data stream side of the client: the six stream endpoints, their set-up
// and tear-down through "-GetNextAvailablePortNumber" / "-CreateStream",
// objects opened and closed on them, and the server's object lists that say
// which stream serves which object.
//
// Threads. The operations that exchange commands run with the exchange lock
// held (REQUIRES); the exchange is passed in so that the analysis can check
// it. The object lists are guarded by their own lock and may be read from
// any thread.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "client/client_log_file.h"
#include "client/message_exchange.h"
#include "client/node_connection_client.h"
#include "platform/mutex.h"
#include "platform/stop_signal.h"
#include "platform/thread_annotations.h"

namespace orvanta {

class StreamSide {
 public:
  // The six streams, in stream order: SE, ST, TT, CSC, VT, EV.
  static constexpr int kStreamCount = 6;

  // The log is not owned and must outlive the streams.
  explicit StreamSide(ClientLogFile& log);
  StreamSide(const StreamSide&) = delete;
  StreamSide& operator=(const StreamSide&) = delete;

  NodeConnectionClient& Stream(int index) { return *mStreams[index]; }
  // The stream serving a data type, or null.
  NodeConnectionClient* StreamForDataType(const std::string& dataType);

  // Sets the six streams up: a port asked of the server, a listener on it,
  // and "-CreateStream" naming `address`, for each stream in order. 0, or -1
  // when a port request failed or `cancel` (may be null) was requested.
  int InitializeLocked(MessageExchange& exchange, const std::string& address,
                       const StopSignal* cancel) REQUIRES(exchange.lock());
  bool OpenLocked(MessageExchange& exchange, const std::string& objectName,
                  const std::string& dataType) REQUIRES(exchange.lock());
  bool CloseLocked(MessageExchange& exchange, const std::string& objectName,
                   const std::string& dataType) REQUIRES(exchange.lock());
  // The streams' share of a shutdown: the listed objects are closed while
  // the server answers, then every stream is stopped and closed.
  void ShutDownLocked(MessageExchange& exchange) REQUIRES(exchange.lock());
  bool IsInitialized() const { return mInitialized.load(); }

  // The server's object lists, paired by position.
  std::vector<std::string> GetObjectNames() const EXCLUDES(mListsLock);
  std::vector<std::string> GetObjectTypes() const EXCLUDES(mListsLock);
  void ClearObjectLists() EXCLUDES(mListsLock);
  void SetObjectNames(const std::vector<std::string>& names) EXCLUDES(mListsLock);
  void SetObjectTypes(const std::vector<std::string>& types) EXCLUDES(mListsLock);
  // Hands the lists to every stream. Call without the exchange lock: a
  // stream callback that is running may itself be waiting to exchange.
  void UpdateObjectLists(const std::vector<std::string>& names,
                         const std::vector<std::string>& types);

 private:
  // Streams set up by a connect that failed half-way are not left running.
  void CloseSetUpLocked(MessageExchange& exchange) REQUIRES(exchange.lock());
  void Log(int level, const std::string& text) { mLog.WriteLogEntry(level, text); }

  ClientLogFile& mLog;
  NodeConnectionClientSE mStreamSE;
  NodeConnectionClientST mStreamST;
  NodeConnectionClientTT mStreamTT;
  NodeConnectionClientCSC mStreamCSC;
  NodeConnectionClientVT mStreamVT;
  NodeConnectionClientEV mStreamEV;
  NodeConnectionClient* const mStreams[kStreamCount];
  std::atomic<bool> mInitialized{false};

  mutable Mutex mListsLock;
  std::vector<std::string> mObjectNames GUARDED_BY(mListsLock);
  std::vector<std::string> mObjectTypes GUARDED_BY(mListsLock);
};

}  // namespace orvanta
