#include "python/src/py_client.h"

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <atomic>
#include <cstring>
#include <deque>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "client/socket_layer.h"

namespace orvanta::python {

namespace {

using SteadyClock = std::chrono::steady_clock;

// What became of one command: the reply and the exchange's status.
struct Reply {
  std::string command;
  std::string text;
  std::string status;  // "replied", "no reply", "not sent"
  std::string reason;  // ExchangeStatus::Describe(); empty when replied
  bool replied() const { return status == "replied"; }
};

std::string StatusName(const ExchangeStatus& status) {
  switch (status.result) {
    case ExchangeResult::kReplied:
      return "replied";
    case ExchangeResult::kNotSent:
      return "not sent";
    case ExchangeResult::kNoReply:
    case ExchangeResult::kStopped:
      return "no reply";
  }
  return "no reply";
}

// The streams by data type: the record size and the callback setter.
struct StreamKind {
  const char* type;
  int index;
  int recordSize;
  void (VintraClient::*setCallback)(StreamCallback, void*);
};
constexpr StreamKind kStreamKinds[] = {
    {"SEScAcqEnt", 0, 112, &VintraClient::SetCallbackFunctionSE},
    {"STScAcqEnt", 1, 176, &VintraClient::SetCallbackFunctionST},
    {"TTScAcqEnt", 2, 304, &VintraClient::SetCallbackFunctionTT},
    {"CscAcqEnt", 3, 1044, &VintraClient::SetCallbackFunctionCSC},
    {"EventAcqEnt", 4, 184, &VintraClient::SetCallbackFunctionEV},
    {"VTAcqEnt", 5, 1828, &VintraClient::SetCallbackFunctionVT},
};

std::vector<std::pair<std::string, std::string>> ObjectsOf(PyClient& client) {
  RequireConnection(client);
  std::vector<std::string> names, types;
  bool ok = false;
  StopSignal cancel;  // the request ends by its own bound
  CallInterruptibly([&] { ok = client.client.GetObjectsAndTypes(names, types); }, cancel);
  if (!ok) Raise(ModuleExceptions().server, "the server did not list its objects and types");
  std::vector<std::pair<std::string, std::string>> objects;
  for (size_t i = 0; i < names.size(); ++i) {
    objects.emplace_back(names[i], i < types.size() ? types[i] : std::string());
  }
  return objects;
}

using Buffer = std::vector<unsigned char>;

// Batch memory handed back when the NumPy array that owned it is freed, so
// that a stream at full rate does not map fresh pages for every batch. A
// leaf lock: taken under a stream's lock, and alone when an array goes.
class BufferPool {
 public:
  static constexpr size_t kKept = 8;
  std::unique_ptr<Buffer> Take(size_t bytes) EXCLUDES(mutex_) {
    {
      MutexLock lock(&mutex_);
      if (!free_.empty()) {
        std::unique_ptr<Buffer> buffer = std::move(free_.back());
        free_.pop_back();
        return buffer;
      }
    }
    auto buffer = std::make_unique<Buffer>();
    buffer->reserve(bytes);
    return buffer;
  }
  void Give(std::unique_ptr<Buffer> buffer) EXCLUDES(mutex_) {
    buffer->clear();  // keeps its capacity
    MutexLock lock(&mutex_);
    if (free_.size() < kKept) free_.push_back(std::move(buffer));
  }

 private:
  Mutex mutex_;
  std::vector<std::unique_ptr<Buffer>> free_ GUARDED_BY(mutex_);
};

// What a batch's array owns: its memory, and where to hand it back.
struct Lease {
  std::unique_ptr<Buffer> buffer;
  std::weak_ptr<BufferPool> pool;
};

// The records of one acquisition object, gathered into batches on the
// stream's receive thread: each record is copied once, into the batch that
// becomes a NumPy array's memory when Python takes it.
class PyStream {
 public:
  PyStream(std::shared_ptr<PyClient> owner, std::string object, const StreamKind& kind,
           size_t batchSize, size_t maxBatches)
      : owner_(std::move(owner)),
        object_(std::move(object)),
        kind_(kind),
        batchBytes_(batchSize * static_cast<size_t>(kind.recordSize)),
        maxBatches_(maxBatches) {}
  ~PyStream() {
    try {
      Close();
    } catch (...) {
      // A destructor says nothing; the stream is gone either way.
    }
  }
  PyStream(const PyStream&) = delete;
  PyStream& operator=(const PyStream&) = delete;

  void Open() {
    PyClient& client = *owner_;
    RequireConnection(client);
    if (client.streamOpen[kind_.index]) {
      Raise(ModuleExceptions().server,
            "a stream of " + std::string(kind_.type) + " records is open already; close it first");
    }
    (client.client.*kind_.setCallback)(&PyStream::OnRecords, this);
    client.streamOpen[kind_.index] = true;
    registered_ = true;
    bool ok = false;
    StopSignal cancel;
    CallInterruptibly([&] { ok = client.client.OpenStream(object_, kind_.type); }, cancel);
    if (!ok) {
      Close();
      Raise(ModuleExceptions().server,
            "the server did not open the object " + object_ + " (" + kind_.type + ")");
    }
    opened_ = true;
  }

  // Ends the stream: the server is asked to stop sending, and no record
  // reaches this object afterwards. Idempotent.
  void Close() {
    if (!registered_) return;
    PyClient& client = *owner_;
    if (opened_ && client.client.HasConnection()) {
      py::gil_scoped_release release;
      client.client.CloseStream(object_, kind_.type);
    }
    opened_ = false;
    // Once the registration is replaced no callback runs with this object.
    (client.client.*kind_.setCallback)(nullptr, nullptr);
    client.streamOpen[kind_.index] = false;
    registered_ = false;
    MutexLock lock(&mutex_);
    closed_ = true;
    changed_.SignalAll();
  }

  // The next batch as a (records, record size) array of bytes, or None when
  // the stream has ended or `timeout` (seconds; negative: none) passed
  // without a record. A batch is handed over when full, or when it holds
  // records and `flush` seconds have passed since the wait began.
  py::object Next(double timeout, double flush) {
    const auto start = SteadyClock::now();
    const auto flushAt = start + std::chrono::duration_cast<SteadyClock::duration>(
                                     std::chrono::duration<double>(flush));
    const bool bounded = timeout >= 0;
    const auto endAt = start + std::chrono::duration_cast<SteadyClock::duration>(
                                   std::chrono::duration<double>(bounded ? timeout : 0));
    std::unique_ptr<Buffer> batch;
    for (;;) {
      {
        py::gil_scoped_release release;
        MutexLock lock(&mutex_);
        const auto slice = SteadyClock::now() + kSignalSlice;
        while (ready_.empty() && !closed_) {
          const auto now = SteadyClock::now();
          if (filling_ && !filling_->empty() && now >= flushAt) break;
          if ((bounded && now >= endAt) || now >= slice) break;
          auto until = slice;
          if (flushAt > now && flushAt < until) until = flushAt;
          if (bounded && endAt < until) until = endAt;
          changed_.WaitUntil(until);
        }
        if (!ready_.empty()) {
          batch = std::move(ready_.front());
          ready_.pop_front();
        } else if (filling_ && !filling_->empty()) {
          // A batch that is not full goes at the flush time, at the end of the
          // stream, and when the time-out ends the wait.
          const auto now = SteadyClock::now();
          if (now >= flushAt || closed_ || (bounded && now >= endAt)) batch = std::move(filling_);
        }
        if (batch || closed_ || (bounded && SteadyClock::now() >= endAt)) break;
      }
      if (SignalRaised()) throw py::error_already_set();
    }
    if (!batch) return py::none();
    const auto records = static_cast<py::ssize_t>(batch->size() / kind_.recordSize);
    unsigned char* data = batch->data();
    auto* lease = new Lease{std::move(batch), pool_};
    py::capsule owner(lease, [](void* p) {
      std::unique_ptr<Lease> held(static_cast<Lease*>(p));
      if (std::shared_ptr<BufferPool> pool = held->pool.lock()) pool->Give(std::move(held->buffer));
    });
    return py::array_t<unsigned char>({records, static_cast<py::ssize_t>(kind_.recordSize)}, data,
                                      owner);
  }

  uint64_t dropped() const {
    MutexLock lock(&mutex_);
    return dropped_;
  }
  uint64_t received() const {
    MutexLock lock(&mutex_);
    return received_;
  }
  const std::string& object() const { return object_; }
  const char* type() const { return kind_.type; }
  int recordSize() const { return kind_.recordSize; }

 private:
  // On the stream's receive thread.
  static void OnRecords(void* context, const unsigned char* records, int recordCount,
                        std::string objectName) {  // NOLINT(performance-unnecessary-value-param)
    static_cast<PyStream*>(context)->Append(records, recordCount, objectName);
  }
  void Append(const unsigned char* records, int recordCount, const std::string& objectName) {
    if (objectName != object_ || recordCount <= 0) return;
    const size_t bytes = static_cast<size_t>(recordCount) * kind_.recordSize;
    MutexLock lock(&mutex_);
    received_ += static_cast<uint64_t>(recordCount);
    if (!filling_) filling_ = pool_->Take(batchBytes_);
    // The first record of a batch wakes a reader that waits to flush.
    if (filling_->empty()) changed_.SignalAll();
    filling_->insert(filling_->end(), records, records + bytes);
    if (filling_->size() >= batchBytes_) {
      if (ready_.size() < maxBatches_) {
        ready_.push_back(std::move(filling_));
      } else {
        dropped_ += filling_->size() / kind_.recordSize;
        filling_->clear();
      }
      changed_.SignalAll();
    }
  }

  const std::shared_ptr<PyClient> owner_;
  const std::string object_;
  const StreamKind kind_;
  const size_t batchBytes_;
  const size_t maxBatches_;
  const std::shared_ptr<BufferPool> pool_ = std::make_shared<BufferPool>();
  bool registered_ = false;  // Python thread only
  bool opened_ = false;      // Python thread only

  mutable Mutex mutex_;
  CondVar changed_{&mutex_};
  std::unique_ptr<Buffer> filling_ GUARDED_BY(mutex_);
  std::deque<std::unique_ptr<Buffer>> ready_ GUARDED_BY(mutex_);
  uint64_t dropped_ GUARDED_BY(mutex_) = 0;
  uint64_t received_ GUARDED_BY(mutex_) = 0;
  bool closed_ GUARDED_BY(mutex_) = false;
};

std::shared_ptr<PyClient> Connect(const std::optional<std::string>& server, int negotiationPort,
                                  int messagePort, int replyTimeoutMs, bool negotiate,
                                  const std::optional<std::string>& clientLog) {
  if (negotiationPort < 1 || negotiationPort > 65535 || messagePort < 1 || messagePort > 65535) {
    Raise(PyExc_ValueError, "a port is a number from 1 to 65535");
  }
  if (replyTimeoutMs < 0) Raise(PyExc_ValueError, "reply_timeout_ms is 0 (no bound) or more");
  auto client = std::make_shared<PyClient>();
  client->server = server && !server->empty() ? *server : net::HostName();
  client->negotiate = negotiate;
  client->negotiationPort = negotiationPort;
  client->messagePort = messagePort;
  if (clientLog && !client->client.SetLogFileName(*clientLog)) {
    Raise(ModuleExceptions().orvanta, "cannot open the client log " + *clientLog + ": " +
                                          client->client.GetLogOpenFailure().reason);
  }
  client->client.SetReplyTimeout(std::chrono::milliseconds(replyTimeoutMs));
  StopSignal cancel;
  bool ok = false;
  CallInterruptibly(
      [&] {
        ok = client->client.ConnectToServer(client->server, negotiate, negotiationPort, messagePort,
                                            &cancel);
      },
      cancel);
  if (!ok) {
    const std::string reason = client->client.GetConnectError();
    {
      py::gil_scoped_release release;
      client->client.DisconnectFromServer();
    }
    Raise(ModuleExceptions().server,
          "cannot connect to the acquisition server at " + client->server +
              (reason.empty() ? std::string() : ": " + reason) + " (" +
              (negotiate ? "negotiation port " + std::to_string(negotiationPort) + ", "
                         : std::string()) +
              "message port " + std::to_string(messagePort) + ")");
  }
  return client;
}

// The baseline of the stream benchmark: the records of `object` counted by
// a plain C++ callback on the stream thread (as the C++ stream benchmark
// does), over `seconds` after `warmUp` seconds. Records per second.
struct Counter {
  std::string object;
  std::atomic<uint64_t> records{0};
};
void CountRecords(void* context, const unsigned char* /*records*/, int recordCount,
                  std::string objectName) {  // NOLINT(performance-unnecessary-value-param)
  auto* counter = static_cast<Counter*>(context);
  if (objectName == counter->object) {
    counter->records.fetch_add(static_cast<uint64_t>(recordCount), std::memory_order_relaxed);
  }
}
double CountStreamRecords(PyClient& client, const std::string& object, const std::string& type,
                          double warmUp, double seconds) {
  RequireConnection(client);
  const StreamKind* kind = nullptr;
  for (const StreamKind& k : kStreamKinds) {
    if (type == k.type) kind = &k;
  }
  if (kind == nullptr || client.streamOpen[kind->index]) {
    Raise(PyExc_ValueError, "no stream for " + type + ", or one is open already");
  }
  Counter counter;
  counter.object = object;
  double rate = 0;
  bool ok = false;
  {
    py::gil_scoped_release release;
    (client.client.*kind->setCallback)(&CountRecords, &counter);
    ok = client.client.OpenStream(object, kind->type);
    if (ok) {
      std::this_thread::sleep_for(std::chrono::duration<double>(warmUp));
      const uint64_t r0 = counter.records.load();
      const auto start = SteadyClock::now();
      std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
      const uint64_t r1 = counter.records.load();
      rate = static_cast<double>(r1 - r0) /
             std::chrono::duration<double>(SteadyClock::now() - start).count();
      client.client.CloseStream(object, kind->type);
    }
    (client.client.*kind->setCallback)(nullptr, nullptr);
  }
  if (!ok) Raise(ModuleExceptions().server, "the server did not open the object " + object);
  return rate;
}

void Disconnect(PyClient& client) {
  py::gil_scoped_release release;
  client.client.DisconnectFromServer();
}

}  // namespace

void RequireConnection(const PyClient& client) {
  if (!client.client.HasConnection()) {
    Raise(ModuleExceptions().server, "not connected to the acquisition server");
  }
}

void BindClient(py::module_& m) {
  py::class_<Reply>(m, "Reply", "What became of one command sent to the server.")
      .def_readonly("command", &Reply::command)
      .def_readonly("text", &Reply::text, "The reply's text; empty unless replied.")
      .def_readonly("status", &Reply::status, "'replied', 'no reply' or 'not sent'.")
      .def_readonly("reason", &Reply::reason,
                    "Why it failed ('no reply within 5000 ms', 'connection closed', ...); empty "
                    "when replied.")
      .def_property_readonly("replied", &Reply::replied)
      .def("__bool__", &Reply::replied)
      .def("__repr__", [](const Reply& r) {
        return "Reply(status='" + r.status + "', text='" + r.text + "'" +
               (r.reason.empty() ? std::string() : ", reason='" + r.reason + "'") + ")";
      });

  m.def("_count_stream_records", &CountStreamRecords, py::arg("client"), py::arg("object"),
        py::arg("type"), py::arg("warm_up"), py::arg("seconds"));

  py::class_<PyStream, std::shared_ptr<PyStream>>(m, "_RawStream")
      .def("next_batch", &PyStream::Next, py::arg("timeout"), py::arg("flush"))
      .def("close", &PyStream::Close)
      .def_property_readonly("dropped", &PyStream::dropped)
      .def_property_readonly("received", &PyStream::received)
      .def_property_readonly("object", &PyStream::object)
      .def_property_readonly("type", &PyStream::type)
      .def_property_readonly("record_size", &PyStream::recordSize);

  py::class_<PyClient, std::shared_ptr<PyClient>>(
      m, "Client",
      "A connection to the acquisition server, made by the client the window and orvanta-run "
      "use. A context manager: leaving the block disconnects.")
      .def(py::init(&Connect), py::arg("server") = py::none(), py::arg("negotiation_port") = 26200,
           py::arg("message_port") = 26100, py::arg("reply_timeout_ms") = 5000,
           py::arg("negotiate") = true, py::arg("client_log") = py::none(),
           "Connects (the negotiation port hands out a message port; without negotiate, or when "
           "nobody listens there, the message port is used). `server` defaults to this "
           "computer's host name. Every wait is bounded by reply_timeout_ms (0: no bound) and "
           "ends on Ctrl+C. Raises ServerError with the reason when the connect fails.")
      .def("__enter__", [](std::shared_ptr<PyClient> self) { return self; })
      .def("__exit__", [](PyClient& self, const py::args&) { Disconnect(self); })
      .def("close", &Disconnect, "Disconnects (closing the data streams). Idempotent.")
      .def_property_readonly(
          "connected", [](const PyClient& c) { return c.client.HasConnection(); },
          "True while a connection is set up (no traffic).")
      .def_property_readonly("server", [](const PyClient& c) { return c.server; })
      .def_property_readonly("server_address",
                             [](const PyClient& c) { return c.client.GetServerIPAddress(); })
      .def_property_readonly("server_application",
                             [](const PyClient& c) { return c.client.GetServerApplicationName(); })
      .def(
          "send",
          [](PyClient& self, const std::string& command) {
            Reply reply;
            reply.command = command;
            StopSignal stop;
            ExchangeStatus status;
            std::string text;
            CallInterruptibly([&] { status = self.client.Exchange(command, text, &stop); }, stop);
            reply.status = StatusName(status);
            reply.reason = status.Describe();
            if (status.IsReplied()) reply.text = text;
            return reply;
          },
          py::arg("command"),
          "Sends one command and waits for its reply (bounded by reply_timeout_ms; Ctrl+C ends "
          "the wait and the owed reply is drained before the next command). Returns a Reply.")
      .def(
          "is_alive",
          [](PyClient& self) {
            StopSignal cancel;
            bool ok = false;
            CallInterruptibly([&] { ok = self.client.IsConnected(&cancel); }, cancel);
            return ok;
          },
          "The connection check of the Start button: a real exchange; True when it was "
          "answered.")
      .def_property_readonly("objects", &ObjectsOf,
                             "The server's acquisition objects as (name, data type) pairs, in the "
                             "server's order.")
      .def(
          "_open_stream",
          [](const std::shared_ptr<PyClient>& self, const std::string& object,
             const std::string& type, size_t batchSize, size_t maxBatches) {
            const StreamKind* kind = nullptr;
            for (const StreamKind& k : kStreamKinds) {
              if (type == k.type) kind = &k;
            }
            if (kind == nullptr) {
              Raise(ModuleExceptions().server, "the object " + object + " has the data type '" +
                                                   type + "', which no data stream carries");
            }
            if (batchSize == 0 || maxBatches == 0) {
              Raise(PyExc_ValueError, "batch_size and max_batches are 1 or more");
            }
            auto stream = std::make_shared<PyStream>(self, object, *kind, batchSize, maxBatches);
            stream->Open();
            return stream;
          },
          py::arg("object"), py::arg("type"), py::arg("batch_size"), py::arg("max_batches"));
}

}  // namespace orvanta::python
