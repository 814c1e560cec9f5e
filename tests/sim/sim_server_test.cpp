// The simulator in-process on loopback, driven by a raw frame client: the
// connect sequences, the replies, the data streams, the transcript, broken
// client frames and every fault injection.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/sim/raw_client.h"
#include "tools/quorvin-sim/sim_server.h"
#include "tools/quorvin-sim/transcript.h"

namespace orvanta::sim {
namespace {

using testing::Drain;
using testing::FdCloser;
using testing::GetLe16;
using testing::GetLe32;
using testing::GetLe64;
using testing::QuietFor;
using testing::RawClient;
using testing::RawFrame;
using testing::RawHeader;
using testing::RawListener;
using testing::ReadExactly;
using testing::WaitForClose;

constexpr auto kWait = std::chrono::milliseconds(5000);

std::string ReadWholeFile(const std::string& path) {
  std::string content;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) content.append(buf, n);
    std::fclose(f);
  }
  return content;
}

class SimServerTest : public ::testing::Test {
 protected:
  SimServerTest() {
    options_.negotiation_port = 0;
    options_.message_port = 0;
    options_.record_rate_hz = 200;
  }
  ~SimServerTest() override {
    if (server_) server_->Stop();
  }

  void StartServer() {
    TranscriptConfig config;
    config.keep_lines = true;
    std::string error;
    ASSERT_TRUE(transcript_.Open(config, &error)) << error;
    server_ = std::make_unique<SimServer>(options_, transcript_);
    ASSERT_TRUE(server_->Start(&error)) << error;
  }

  void ConnectDirect(RawClient* client) { ASSERT_TRUE(client->Connect(server_->message_port())); }

  // The first transcript line of `kind` whose text is `text`, as fields.
  std::vector<std::string> WaitForLine(const std::string& kind, const std::string& text) {
    auto line = transcript_.WaitForLine(
        [&](const std::string& l) {
          const auto f = SplitTranscriptLine(l);
          return f.size() == 7 && f[3] == kind && f[4] == text;
        },
        kWait);
    return line ? SplitTranscriptLine(*line) : std::vector<std::string>{};
  }

  // The `n`th transcript line (from 1) of `kind` whose text is `text`, as
  // fields.
  std::vector<std::string> NthLine(const std::string& kind, const std::string& text, int n) {
    int seen = 0;
    auto line = transcript_.WaitForLine(
        [&](const std::string& l) {
          const auto f = SplitTranscriptLine(l);
          return f.size() == 7 && f[3] == kind && f[4] == text && ++seen == n;
        },
        kWait);
    return line ? SplitTranscriptLine(*line) : std::vector<std::string>{};
  }

  // Sends -CreateStream for `type` to a listener of the test and returns the
  // accepted data connection (or -1).
  int CreateStream(RawClient& client, RawListener& listener, const std::string& type) {
    const auto reply =
        client.Exchange("-CreateStream 127.0.0.1 " + std::to_string(listener.port()) + " " + type);
    EXPECT_EQ(reply, "0");
    return listener.Accept(5000);
  }

  SimOptions options_;
  Transcript transcript_;
  std::unique_ptr<SimServer> server_;
};

TEST_F(SimServerTest, NegotiatedConnectHandsOutAOneShotMessagePort) {
  StartServer();
  RawClient first;
  ASSERT_TRUE(first.Connect(server_->negotiation_port()));
  EXPECT_EQ(first.Exchange("-GetApplicationName"), "0 Quorvin Simulator");
  const auto reply = first.Exchange("-GetNextAvailablePortNumber");
  ASSERT_TRUE(reply);
  ASSERT_EQ(reply->rfind("0 ", 0), 0u) << *reply;
  const int port = std::stoi(reply->substr(2));
  EXPECT_GT(port, 0);
  EXPECT_NE(port, server_->message_port());
  first.Close();

  RawClient message;
  ASSERT_TRUE(message.Connect(port));
  EXPECT_EQ(message.Exchange("-GetApplicationName"), "0 Quorvin Simulator");
  EXPECT_EQ(message.Exchange("-SetComputerName vm"), "0");

  // The port served one connection and is closed again.
  RawClient again;
  EXPECT_FALSE(again.Connect(port));

  // A command's line follows its reply: wait for the last one.
  ASSERT_FALSE(WaitForLine("cmd", "-SetComputerName vm").empty());
  // Lines of different connections may be written out of order (each one
  // after its reply went out); the arrival times order them.
  std::vector<std::pair<uint64_t, std::string>> timed;
  for (const auto& l : transcript_.Lines()) {
    const auto f = SplitTranscriptLine(l);
    if (f[3] == "cmd") timed.emplace_back(std::stoull(f[0]), f[2] + " " + f[4]);
  }
  std::stable_sort(timed.begin(), timed.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::string> cmds;
  cmds.reserve(timed.size());
  for (const auto& t : timed) cmds.push_back(t.second);
  ASSERT_EQ(cmds.size(), 4u);
  EXPECT_EQ(cmds[0], "1/negotiation -GetApplicationName");
  EXPECT_EQ(cmds[1], "1/negotiation -GetNextAvailablePortNumber");
  EXPECT_EQ(cmds[2], "2/handout -GetApplicationName");
  EXPECT_EQ(cmds[3], "2/handout -SetComputerName vm");
}

// The whole sequence of a client: negotiation, message connection, six
// stream sockets of its own on the ports handed out, the object lists, every
// object opened on its stream, and a disconnect that closes them.
TEST_F(SimServerTest, FullClientSessionWithAllSixStreams) {
  StartServer();
  int port = 0;
  {
    RawClient first;
    ASSERT_TRUE(first.Connect(server_->negotiation_port()));
    ASSERT_EQ(first.Exchange("-GetApplicationName"), "0 Quorvin Simulator");
    const auto reply = first.Exchange("-GetNextAvailablePortNumber");
    ASSERT_TRUE(reply);
    port = std::stoi(reply->substr(2));
  }
  RawClient m;
  ASSERT_TRUE(m.Connect(port));
  ASSERT_EQ(m.Exchange("-GetApplicationName"), "0 Quorvin Simulator");

  const char* types[] = {"SEScAcqEnt", "STScAcqEnt", "TTScAcqEnt",
                         "CscAcqEnt",  "VTAcqEnt",   "EventAcqEnt"};
  const size_t sizes[] = {112, 176, 304, 1044, 1828, 184};
  std::vector<std::unique_ptr<RawListener>> listeners;
  std::vector<std::unique_ptr<FdCloser>> streams;
  for (const char* type : types) {
    const auto reply = m.Exchange("-GetNextAvailablePortNumber");
    ASSERT_TRUE(reply);
    listeners.push_back(std::make_unique<RawListener>(std::stoi(reply->substr(2))));
    ASSERT_GT(listeners.back()->port(), 0) << "the handed-out port must be free to listen on";
    ASSERT_EQ(m.Exchange("-CreateStream 127.0.0.1 " + std::to_string(listeners.back()->port()) +
                         " " + type),
              "0");
    streams.push_back(std::make_unique<FdCloser>(listeners.back()->Accept(5000)));
    ASSERT_GE(streams.back()->get(), 0) << type;
  }
  ASSERT_EQ(m.Exchange("-SetComputerName vm"), "0");
  ASSERT_EQ(m.Exchange("-RequestQuorvinObjects"),
            "0 SE1 SE2 ST1 TT1 CSC1 CSC2 \"CSC Reference\" VT1 \"Digital Events\"");

  // One object on each stream; the spike streams index the combined list.
  const std::pair<const char*, int> opened[] = {{"SE1", 0},  {"ST1", 2}, {"TT1", 3},
                                                {"CSC2", 1}, {"VT1", 0}, {"Digital Events", -1}};
  for (int k = 0; k < 6; ++k) {
    ASSERT_EQ(m.Exchange(std::string("-OpenStream ") + opened[k].first + " " + types[k]), "0");
  }
  for (int k = 0; k < 6; ++k) {
    const auto record = ReadExactly(streams[k]->get(), sizes[k], 5000);
    ASSERT_TRUE(record) << types[k];
    if (k == 4) {
      EXPECT_EQ(GetLe16(*record, 2), 0);
    } else if (k != 5) {
      EXPECT_EQ(static_cast<int32_t>(GetLe32(*record, 8)), opened[k].second) << types[k];
    }
  }
  for (int k = 0; k < 6; ++k) {
    ASSERT_EQ(m.Exchange(std::string("-CloseStream ") + opened[k].first + " " + types[k]), "0");
  }
  m.Close();
  for (int k = 0; k < 6; ++k) EXPECT_TRUE(WaitForClose(streams[k]->get(), 5000)) << types[k];
}

TEST_F(SimServerTest, DirectConnectHandsOutStreamPortsTheClientCanBind) {
  StartServer();
  RawClient client;
  ConnectDirect(&client);
  std::set<int> ports;
  for (int i = 0; i < 6; ++i) {
    const auto reply = client.Exchange("-GetNextAvailablePortNumber");
    ASSERT_TRUE(reply);
    ASSERT_EQ(reply->rfind("0 ", 0), 0u);
    const int port = std::stoi(reply->substr(2));
    ports.insert(port);
    // On a message connection the port is the client's to listen on.
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    FdCloser closer(fd);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0) << port;
  }
  EXPECT_EQ(ports.size(), 6u);
}

TEST_F(SimServerTest, EveryCommandOfTheClientAndOfATrialIsAnswered) {
  options_.application_name = "Rig Sim";
  StartServer();
  RawClient c;
  ConnectDirect(&c);
  const std::vector<std::pair<std::string, std::string>> exchanges = {
      {"-GetApplicationName", "0 Rig Sim"},
      {"-SetComputerName lab-pc", "0"},
      {"-SetApplicationName \"Orvanta\"", "0"},
      {"-LogMessage hello there 2", "0"},
      {"-RequestRingBufferSize CSC1", "0 512 1044"},
      {"-RequestSamplingFrequency TT1", "0 32000"},
      {"-RequestADRange CSC Reference", "0 -1000 1000"},
      {"-RequestFeature ST1 2", "0 Energy"},
      {"-PostEvent \"Trial Start\" 5 0", "0"},
      {"-SetDigitalIOPortDirection \"DigitalIO\" 0 Output", "0"},
      {"-SetDIOPortOutput \"DigitalIO\" 0 8", "0"},
      {"-SetDIOPortOutput \"DigitalIO\" 0 0", "0"},
      {"-SetDAOutputMode  \"AO\" 1 BufferedOutput", "0"},
      {"-SetDAWavFile \"AO\" 1 \"tone.wav\" 0", "0"},
      {"-SelectDAWavBuffer  \"AO\" 1 0", "0"},
      {"-PlayDAWavFile \"AO\" 1", "0"},
      {"-Frobnicate 1 2", "-1 Unknown command: -Frobnicate"},
      {"", "-1 Empty command"},
      {"-OpenStream CSC1 VTAcqEnt", "-1 Unknown object and data type pairing: CSC1 VTAcqEnt"},
      {"-CloseStream CSC1 CscAcqEnt", "-1 Object is not open: CSC1"},
      {"-CreateStream 127.0.0.1 1 Bogus", "-1 Unknown stream type: Bogus"},
      {"-CreateStream here 1 CscAcqEnt", "-1 Invalid IPv4 address: here"},
  };
  for (const auto& [command, expected] : exchanges) {
    EXPECT_EQ(c.Exchange(command), expected) << command;
  }
  EXPECT_EQ(server_->model().DioPort("DigitalIO", 0)->changes, 2);
  EXPECT_EQ(server_->model().DaBoard("AO", 1)->plays, 1);
  EXPECT_EQ(server_->model().Events().at(0).text, "Trial Start");
  EXPECT_EQ(server_->commands_received(), static_cast<int64_t>(exchanges.size()));
}

TEST_F(SimServerTest, ObjectListQuotesNamesWithBlanks) {
  options_.objects = {{"Plain", "CscAcqEnt"}, {"Two Words", "CscAcqEnt"}, {"Last", "EventAcqEnt"}};
  StartServer();
  RawClient c;
  ConnectDirect(&c);
  EXPECT_EQ(c.Exchange("-RequestQuorvinObjects"), "0 Plain \"Two Words\" Last");
  EXPECT_EQ(c.Exchange("-RequestQuorvinTypes"), "0 CscAcqEnt CscAcqEnt EventAcqEnt");
}

TEST_F(SimServerTest, RingBufferIsOneBinaryFrame) {
  StartServer();
  RawClient c;
  ConnectDirect(&c);
  ASSERT_TRUE(c.Send("-RequestRingBuffer TT1"));
  const auto f = c.ReadFrame();
  ASSERT_TRUE(f);
  EXPECT_EQ(f->version, 1);
  EXPECT_EQ(f->validation, 0xA5A5A5A5u);
  ASSERT_EQ(f->size, 4 * 304);
  for (int r = 0; r < 4; ++r) EXPECT_EQ(GetLe32(f->payload, r * 304 + 8), 3u);
  const auto line = WaitForLine("cmd", "-RequestRingBuffer TT1");
  ASSERT_EQ(line.size(), 7u);
  EXPECT_EQ(line[5], "<1216 bytes>");
}

struct StreamCase {
  const char* type;
  const char* object;
  size_t size;
  int index;  // expected object field; -1: none
  bool video;
};

class SimStreamTest : public SimServerTest, public ::testing::WithParamInterface<StreamCase> {};

TEST_P(SimStreamTest, OpenSendsRecordsOfTheObjectAndCloseStopsThem) {
  const StreamCase& sc = GetParam();
  StartServer();
  RawClient c;
  ConnectDirect(&c);
  RawListener listener;
  const int data = CreateStream(c, listener, sc.type);
  ASSERT_GE(data, 0);
  FdCloser closer(data);
  // Nothing flows before an object is opened.
  EXPECT_TRUE(QuietFor(data, 100));

  ASSERT_EQ(c.Exchange("-OpenStream " + std::string(sc.object) + " " + sc.type), "0");
  uint64_t last_time = 0;
  for (int i = 0; i < 3; ++i) {
    const auto record = ReadExactly(data, sc.size, 5000);
    ASSERT_TRUE(record) << sc.type << " record " << i;
    if (sc.video) {
      EXPECT_EQ(GetLe16(*record, 2), sc.index);
      EXPECT_EQ(GetLe16(*record, 0), 0x5654);
    } else if (sc.index >= 0) {
      EXPECT_EQ(static_cast<int32_t>(GetLe32(*record, 8)), sc.index);
    }
    const uint64_t t = GetLe64(*record, sc.video ? 8 : 0);
    EXPECT_GE(t, last_time);
    last_time = t;
  }

  ASSERT_EQ(c.Exchange("-CloseStream " + std::string(sc.object) + " " + sc.type), "0");
  // Records already on their way may still arrive, whole; then nothing.
  const size_t tail = Drain(data, 150, 3000);
  EXPECT_EQ(tail % sc.size, 0u);
  EXPECT_TRUE(QuietFor(data, 300));
}

INSTANTIATE_TEST_SUITE_P(AllSix, SimStreamTest,
                         ::testing::Values(StreamCase{"SEScAcqEnt", "SE2", 112, 1, false},
                                           StreamCase{"STScAcqEnt", "ST1", 176, 2, false},
                                           StreamCase{"TTScAcqEnt", "TT1", 304, 3, false},
                                           StreamCase{"CscAcqEnt", "CSC Reference", 1044, 2, false},
                                           StreamCase{"VTAcqEnt", "VT1", 1828, 0, true},
                                           StreamCase{"EventAcqEnt", "Digital Events", 184, -1,
                                                      false}),
                         [](const auto& info) { return std::string(info.param.type); });

// The time fields of the next `n` records on `fd` whose object field is
// `index`, skipping the others; fewer when they do not come within `ms`.
std::vector<uint64_t> RecordTimesOf(int fd, size_t size, int32_t index, size_t n, int ms = 5000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  std::vector<uint64_t> times;
  while (times.size() < n && std::chrono::steady_clock::now() < deadline) {
    const auto record = ReadExactly(fd, size, ms);
    if (!record) break;
    if (static_cast<int32_t>(GetLe32(*record, 8)) == index) times.push_back(GetLe64(*record, 0));
  }
  return times;
}

// A scheduled object sends only its records, at their times after each open,
// among the continuous records of another; its transcript lines stamp each
// send, and the next command's line the time since the last one.
TEST_F(SimServerTest, EmitSendsTheObjectsRecordsAfterEachOpenAndStampsTheNextCommand) {
  options_.schedules = {{"SE2", {200, 100}}, {"SE2", {300}}};  // merged in order of time
  StartServer();
  RawClient c;
  ConnectDirect(&c);
  RawListener listener;
  const int data = CreateStream(c, listener, "SEScAcqEnt");
  ASSERT_GE(data, 0);
  FdCloser closer(data);
  ASSERT_EQ(c.Exchange("-OpenStream SE1 SEScAcqEnt"), "0");
  EXPECT_EQ(WaitForLine("cmd", "-OpenStream SE1 SEScAcqEnt").at(6),
            "open SE1 on the SEScAcqEnt stream, object index 0");

  for (int round = 1; round <= 2; ++round) {
    SCOPED_TRACE(round);
    ASSERT_EQ(c.Exchange("-OpenStream SE2 SEScAcqEnt"), "0");
    const auto open = NthLine("cmd", "-OpenStream SE2 SEScAcqEnt", round);
    ASSERT_EQ(open.size(), 7u);
    const std::vector<uint64_t> times = RecordTimesOf(data, 112, 1, 3);
    ASSERT_EQ(times.size(), 3u);
    uint64_t sent_us = 0;
    for (int k = 0; k < 3; ++k) {
      const uint64_t offset = 100000u * (k + 1);
      EXPECT_GE(times[k], std::stoull(open[0]) + offset);  // never early
      const auto line = NthLine("record", "SE2", 3 * (round - 1) + k + 1);
      ASSERT_EQ(line.size(), 7u);
      EXPECT_EQ(line[1] + "|" + line[2] + "|" + line[5], "-|1/message|");
      const std::string seq = "seq=" + std::to_string(k + 1) + "/3 due_us=";
      ASSERT_EQ(line[6].rfind(seq, 0), 0u) << line[6];
      const uint64_t due_us = std::stoull(line[6].substr(seq.size()));
      EXPECT_GE(due_us, std::stoull(open[0]) + offset);
      EXPECT_LE(due_us, std::stoull(open[1]) + offset);
      sent_us = std::stoull(line[0]);
      EXPECT_GE(sent_us, due_us);
    }
    ASSERT_EQ(c.Exchange("-PostEvent \"a\" 1 0"), "0");
    const auto post = NthLine("cmd", "-PostEvent \"a\" 1 0", round);
    ASSERT_EQ(post.size(), 7u);
    EXPECT_EQ(post[6], "event " + std::to_string(round) + " \"a\" ttl 1; after_record_us=" +
                           std::to_string(std::stoull(post[0]) - sent_us) + " seq=3 object=SE2");
    ASSERT_EQ(c.Exchange("-CloseStream SE2 SEScAcqEnt"), "0");
  }
  // Closed, and its schedule spent: nothing more of SE2.
  EXPECT_TRUE(RecordTimesOf(data, 112, 1, 1, 500).empty());
}

TEST_F(SimServerTest, BurstSendsExactlyItsCountEachOnItsOwnDeadline) {
  const ParseResult parsed = ParseOptions({"--burst", "TT1@0+2x300"});
  ASSERT_EQ(parsed.status, ParseStatus::kRun) << parsed.error;
  options_.schedules = parsed.options.schedules;
  StartServer();
  RawClient c;
  ConnectDirect(&c);
  RawListener listener;
  const int data = CreateStream(c, listener, "TTScAcqEnt");
  ASSERT_GE(data, 0);
  FdCloser closer(data);
  ASSERT_EQ(c.Exchange("-OpenStream TT1 TTScAcqEnt"), "0");
  const auto all = ReadExactly(data, 300 * 304, 10000);
  ASSERT_TRUE(all);
  for (size_t r = 0; r < 300; ++r) ASSERT_EQ(GetLe32(*all, r * 304 + 8), 3u) << r;
  EXPECT_TRUE(QuietFor(data, 300));

  ASSERT_EQ(NthLine("record", "TT1", 300).size(), 7u);
  uint64_t first_due = 0;
  int k = 0;
  for (const auto& l : transcript_.Lines()) {
    const auto f = SplitTranscriptLine(l);
    if (f[3] != "record") continue;
    ++k;
    const std::string seq = "seq=" + std::to_string(k) + "/300 due_us=";
    ASSERT_EQ(f[6].rfind(seq, 0), 0u) << f[6];
    const uint64_t due = std::stoull(f[6].substr(seq.size()));
    if (k == 1) first_due = due;
    // Deadlines from the open, not from the last send: no drift.
    EXPECT_EQ(due, first_due + 2000u * (k - 1));
    EXPECT_GE(std::stoull(f[0]), due);
  }
  EXPECT_EQ(k, 300);
}

TEST_F(SimServerTest, PostedEventsReachOpenEventStreamsAtOnce) {
  options_.record_rate_hz = 0.2;  // one simulated TTL record, then a long pause
  StartServer();
  RawClient c;
  ConnectDirect(&c);
  RawListener listener;
  const int data = CreateStream(c, listener, "EventAcqEnt");
  ASSERT_GE(data, 0);
  FdCloser closer(data);
  ASSERT_EQ(c.Exchange("-OpenStream Digital Events EventAcqEnt"), "0");
  const auto simulated = ReadExactly(data, 184, 5000);
  ASSERT_TRUE(simulated);
  EXPECT_EQ(GetLe32(*simulated, 16), 0u);

  // Another client posts; the event arrives on this client's stream.
  RawClient poster;
  ConnectDirect(&poster);
  ASSERT_EQ(poster.Exchange("-PostEvent \"Tone On\" 12 0"), "0");
  const auto posted = ReadExactly(data, 184, 3000);
  ASSERT_TRUE(posted);
  EXPECT_EQ(GetLe32(*posted, 12), 12u);
  EXPECT_EQ(GetLe32(*posted, 16), 1u);
  EXPECT_EQ(posted->substr(56, 8), std::string("Tone On\0", 8));
  EXPECT_EQ(GetLe64(*posted, 0), server_->model().Events().at(0).time_us);
}

TEST_F(SimServerTest, StreamCreatedAfterOpenSendsTheOpenObjects) {
  StartServer();
  RawClient c;
  ConnectDirect(&c);
  EXPECT_EQ(c.Exchange("-OpenStream CSC2 CscAcqEnt"), "0");
  EXPECT_EQ(c.Exchange("-OpenStream CSC2 CscAcqEnt"), "0");  // opening twice is harmless
  RawListener listener;
  const int data = CreateStream(c, listener, "CscAcqEnt");
  ASSERT_GE(data, 0);
  FdCloser closer(data);
  const auto record = ReadExactly(data, 1044, 5000);
  ASSERT_TRUE(record);
  EXPECT_EQ(GetLe32(*record, 8), 1u);
}

TEST_F(SimServerTest, StreamsEndWithTheirMessageConnection) {
  StartServer();
  RawClient c;
  ConnectDirect(&c);
  RawListener listener;
  const int data = CreateStream(c, listener, "SEScAcqEnt");
  ASSERT_GE(data, 0);
  FdCloser closer(data);
  ASSERT_EQ(c.Exchange("-OpenStream SE1 SEScAcqEnt"), "0");
  c.Close();
  EXPECT_TRUE(WaitForClose(data, 5000));
  EXPECT_FALSE(WaitForLine("close", "closed by client").empty());
}

TEST_F(SimServerTest, CreateStreamToAClosedPortFailsWithAReason) {
  StartServer();
  int port;
  {
    RawListener gone;
    port = gone.port();
  }
  RawClient c;
  ConnectDirect(&c);
  const auto reply = c.Exchange("-CreateStream 127.0.0.1 " + std::to_string(port) + " CscAcqEnt");
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->rfind("-1 Unable to connect to 127.0.0.1:" + std::to_string(port) + ": ", 0), 0u)
      << *reply;
}

TEST_F(SimServerTest, TranscriptLinesCarryTimesConnectionReplyAndState) {
  StartServer();
  RawClient c;
  ConnectDirect(&c);
  ASSERT_EQ(c.Exchange("-SetDIOPortOutput \"DigitalIO\" 0 8"), "0");
  ASSERT_EQ(c.Exchange("-LogMessage tab\there 1"), "0");
  const auto pulse = WaitForLine("cmd", "-SetDIOPortOutput \"DigitalIO\" 0 8");
  ASSERT_EQ(pulse.size(), 7u);
  const uint64_t recv_us = std::stoull(pulse[0]);
  const uint64_t reply_us = std::stoull(pulse[1]);
  EXPECT_GT(recv_us, 0u);
  EXPECT_GE(reply_us, recv_us);
  EXPECT_EQ(pulse[2], "1/message");
  EXPECT_EQ(pulse[5], "0");
  EXPECT_EQ(pulse[6],
            "dio \"DigitalIO\" 0 value 0x0008 (8) direction Input (warning: the port is not set to "
            "Output)");
  // Control characters are escaped, so a line stays one line of 7 fields.
  EXPECT_EQ(WaitForLine("cmd", "-LogMessage tab\\there 1").size(), 7u);

  const auto lines = transcript_.Lines();
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(SplitTranscriptLine(lines[0])[3], "start");
  uint64_t previous = 0;
  for (const auto& l : lines) {
    const auto f = SplitTranscriptLine(l);
    ASSERT_EQ(f.size(), 7u) << l;
    EXPECT_GE(std::stoull(f[0]), previous) << l;  // one clock, in order
    previous = std::stoull(f[0]);
  }
}

TEST_F(SimServerTest, TranscriptFileHasTheHeaderAndEveryLine) {
  char dir_template[] = "/tmp/quorvin-sim-test-XXXXXX";
  ASSERT_NE(mkdtemp(dir_template), nullptr);
  const std::string path = std::string(dir_template) + "/transcript.tsv";
  {
    Transcript file_transcript;
    TranscriptConfig config;
    config.path = path;
    std::string error;
    ASSERT_TRUE(file_transcript.Open(config, &error)) << error;
    SimServer server(options_, file_transcript);
    ASSERT_TRUE(server.Start(&error)) << error;
    RawClient c;
    ASSERT_TRUE(c.Connect(server.message_port()));
    ASSERT_EQ(c.Exchange("-PostEvent \"a\" 1 0"), "0");
    // Flushed per line: the file holds the command (written just after its
    // reply) while the server still runs.
    const std::string expected = "\tcmd\t-PostEvent \"a\" 1 0\t0\tevent 1 \"a\" ttl 1\n";
    std::string content;
    for (int i = 0; i < 500 && content.find(expected) == std::string::npos; ++i) {
      if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      content = ReadWholeFile(path);
    }
    EXPECT_EQ(content.rfind(std::string(kTranscriptHeader) + "\n", 0), 0u);
    EXPECT_NE(content.find(expected), std::string::npos) << content;
    server.Stop();
  }
  const std::string content = ReadWholeFile(path);
  EXPECT_NE(content.find("\tstop\tsimulator stopped\t\t1 commands received\n"), std::string::npos)
      << content;
  std::remove(path.c_str());
  rmdir(dir_template);
}

TEST_F(SimServerTest, BrokenClientFramesCloseOnlyThatConnection) {
  StartServer();
  const std::vector<std::pair<std::string, std::string>> cases = {
      {RawHeader(2, 0xA5A5A5A5u, 5) + "abcd", "bad frame from client: version 2"},
      {RawHeader(1, 0x12345678u, 5) + "abcd", "bad frame from client: validation code 0x12345678"},
      {RawHeader(1, 0xA5A5A5A5u, 0), "bad frame from client: payload size 0"},
      {RawHeader(1, 0xA5A5A5A5u, 0x40000000), "bad frame from client: payload size 1073741824"},
  };
  for (const auto& [bytes, error] : cases) {
    RawClient c;
    ConnectDirect(&c);
    ASSERT_TRUE(c.SendRaw(bytes));
    EXPECT_TRUE(WaitForClose(c.fd(), 5000)) << error;
    EXPECT_FALSE(WaitForLine("error", error).empty()) << error;
  }
  // A connection closed in the middle of a frame is reported, too.
  {
    RawClient c;
    ConnectDirect(&c);
    ASSERT_TRUE(c.SendRaw(RawHeader(1, 0xA5A5A5A5u, 10) + "abc"));
    c.Close();
    EXPECT_FALSE(WaitForLine("close", "closed by client in the middle of a frame").empty());
  }
  RawClient healthy;
  ConnectDirect(&healthy);
  EXPECT_EQ(healthy.Exchange("-GetApplicationName"), "0 Quorvin Simulator");
}

TEST_F(SimServerTest, SeveralClientsAtOnceKeepTheirOwnReplies) {
  StartServer();
  constexpr int kClients = 4;
  std::vector<std::thread> threads;
  std::atomic<int> good{0};
  threads.reserve(kClients);
  for (int i = 0; i < kClients; ++i) {
    threads.emplace_back([this, i, &good] {
      RawClient c;
      if (!c.Connect(server_->message_port())) return;
      int ok = 0;
      for (int n = 0; n < 50; ++n) {
        const std::string obj = (n + i) % 2 ? "CSC1" : "TT1";
        const std::string expected = obj == "CSC1" ? "0 512 1044" : "0 1024 304";
        if (c.Exchange("-RequestRingBufferSize " + obj) == expected) ++ok;
      }
      if (ok == 50) good.fetch_add(1);
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(good.load(), kClients);
  EXPECT_EQ(server_->commands_received(), kClients * 50);
}

TEST_F(SimServerTest, StopEndsConnectionsAndStreamsPromptly) {
  options_.record_rate_hz = 0;  // as fast as possible, into a reader that never reads
  StartServer();
  RawClient c;
  ConnectDirect(&c);
  RawListener listener;
  const int data = CreateStream(c, listener, "VTAcqEnt");
  ASSERT_GE(data, 0);
  FdCloser closer(data);
  ASSERT_EQ(c.Exchange("-OpenStream VT1 VTAcqEnt"), "0");
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_GT(server_->records_sent(), 0u);
  const auto start = std::chrono::steady_clock::now();
  server_->Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_TRUE(WaitForClose(c.fd(), 2000));
  EXPECT_TRUE(WaitForClose(data, 5000));
  EXPECT_FALSE(WaitForLine("close", "simulator stopping").empty());
}

// --- Fault injection -------------------------------------------------------

TEST_F(SimServerTest, ReplyDelayHoldsEveryReply) {
  options_.reply_delay_ms = 120;
  StartServer();
  RawClient c;
  ConnectDirect(&c);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(c.Exchange("-GetApplicationName"), "0 Quorvin Simulator");
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(120));
  const auto line = WaitForLine("cmd", "-GetApplicationName");
  ASSERT_EQ(line.size(), 7u);
  EXPECT_GE(std::stoull(line[1]) - std::stoull(line[0]), 120000u);
}

TEST_F(SimServerTest, NoReplyToTheNthCommandThenGoesOn) {
  options_.no_reply_nth = 2;
  StartServer();
  RawClient c;
  ConnectDirect(&c);
  EXPECT_EQ(c.Exchange("-GetApplicationName"), "0 Quorvin Simulator");
  ASSERT_TRUE(c.Send("-PostEvent \"lost\" 1 0"));
  EXPECT_TRUE(QuietFor(c.fd(), 300));
  EXPECT_EQ(c.Exchange("-RequestSamplingFrequency CSC1"), "0 32000");
  const auto line = WaitForLine("cmd", "-PostEvent \"lost\" 1 0");
  ASSERT_EQ(line.size(), 7u);
  EXPECT_EQ(line[1], "-");
  EXPECT_EQ(line[5], "");
  EXPECT_NE(line[6].find("fault: no reply (command 2)"), std::string::npos);
  // The command itself was carried out.
  EXPECT_EQ(server_->model().Events().size(), 1u);
}

TEST_F(SimServerTest, CloseAfterNCommandsAnswersThemAndCloses) {
  options_.close_after_n = 2;
  StartServer();
  RawClient c;
  ConnectDirect(&c);
  EXPECT_EQ(c.Exchange("-GetApplicationName"), "0 Quorvin Simulator");
  EXPECT_EQ(c.Exchange("-SetComputerName pc"), "0");
  EXPECT_TRUE(WaitForClose(c.fd(), 5000));
  EXPECT_FALSE(WaitForLine("close", "closed by simulator after command 2 (--close-after)").empty());
  // The count runs over the whole simulator: later connections are served.
  RawClient next;
  ConnectDirect(&next);
  EXPECT_EQ(next.Exchange("-GetApplicationName"), "0 Quorvin Simulator");
  EXPECT_TRUE(QuietFor(next.fd(), 100));
}

TEST_F(SimServerTest, BadVersionInTheNthReply) {
  options_.bad_version = {2, 0};
  StartServer();
  RawClient c;
  ConnectDirect(&c);
  EXPECT_EQ(c.Exchange("-GetApplicationName"), "0 Quorvin Simulator");
  ASSERT_TRUE(c.Send("-GetApplicationName"));
  const auto f = c.ReadFrame();
  ASSERT_TRUE(f);
  EXPECT_EQ(f->version, 0);
  EXPECT_EQ(f->validation, 0xA5A5A5A5u);
  EXPECT_EQ(f->Text(), "0 Quorvin Simulator");
  EXPECT_EQ(c.Exchange("-GetApplicationName"), "0 Quorvin Simulator");
}

TEST_F(SimServerTest, BadValidationCodeInTheNthReply) {
  options_.bad_validation_nth = 1;
  StartServer();
  RawClient c;
  ConnectDirect(&c);
  ASSERT_TRUE(c.Send("-SetComputerName pc"));
  const auto f = c.ReadFrame();
  ASSERT_TRUE(f);
  EXPECT_EQ(f->version, 1);
  EXPECT_EQ(f->validation, 0x5A5A5A5Au);
  EXPECT_EQ(f->payload, std::string("0\0", 2));
  const auto line = WaitForLine("cmd", "-SetComputerName pc");
  ASSERT_EQ(line.size(), 7u);
  EXPECT_NE(line[6].find("fault: validation code 0x5A5A5A5A in the reply header"),
            std::string::npos);
}

TEST_F(SimServerTest, AbsurdPayloadSizeInTheNthReply) {
  options_.absurd_size = {1, 0x7FFFFFFF};
  StartServer();
  RawClient c;
  ConnectDirect(&c);
  ASSERT_TRUE(c.Send("-GetApplicationName"));
  const auto header = ReadExactly(c.fd(), 12, 5000);
  ASSERT_TRUE(header);
  EXPECT_EQ(GetLe32(*header, 0), 1u);
  EXPECT_EQ(GetLe32(*header, 8), 0x7FFFFFFFu);
  // The real payload follows, far short of the size announced.
  const auto rest = ReadExactly(c.fd(), 20, 5000);
  ASSERT_TRUE(rest);
  EXPECT_EQ(*rest, std::string("0 Quorvin Simulator\0", 20));
  EXPECT_TRUE(QuietFor(c.fd(), 100));
}

TEST_F(SimServerTest, FaultCommandCountsOnlyThatCommand) {
  options_.fault_command = "-SetDIOPortOutput";
  options_.no_reply_nth = 2;
  StartServer();
  RawClient c;
  ConnectDirect(&c);
  EXPECT_EQ(c.Exchange("-SetDigitalIOPortDirection \"D\" 0 Output"), "0");
  EXPECT_EQ(c.Exchange("-SetDIOPortOutput \"D\" 0 8"), "0");
  EXPECT_EQ(c.Exchange("-SetDigitalIOPortDirection \"D\" 0 Output"), "0");
  ASSERT_TRUE(c.Send("-SetDIOPortOutput \"D\" 0 0"));
  EXPECT_TRUE(QuietFor(c.fd(), 300));
  EXPECT_EQ(server_->model().DioPort("D", 0)->value, 0);
}

TEST_F(SimServerTest, ReplaceReplyAnswersTheNthPortRequestWithoutOpeningAPort) {
  options_.fault_command = "-GetNextAvailablePortNumber";
  options_.replace_reply_nth = 1;
  options_.replace_reply_text = "-1";
  StartServer();
  RawClient c;
  ASSERT_TRUE(c.Connect(server_->negotiation_port()));
  EXPECT_EQ(c.Exchange("-GetApplicationName"), "0 Quorvin Simulator");
  EXPECT_EQ(c.Exchange("-GetNextAvailablePortNumber"), "-1");
  const auto line = WaitForLine("cmd", "-GetNextAvailablePortNumber");
  ASSERT_EQ(line.size(), 7u);
  EXPECT_EQ(line[6], "fault: reply replaced, command not carried out (command 1)");
  // The second one is carried out again.
  const auto second = c.Exchange("-GetNextAvailablePortNumber");
  ASSERT_TRUE(second);
  EXPECT_EQ(second->rfind("0 ", 0), 0u);
}

TEST_F(SimServerTest, RefusedNegotiationOpensOnlyTheMessagePort) {
  options_.negotiation_enabled = false;
  StartServer();
  EXPECT_EQ(server_->negotiation_port(), 0);
  EXPECT_EQ(server_->StartupLine(), "quorvin-sim listening negotiation=off message=" +
                                        std::to_string(server_->message_port()));
  EXPECT_FALSE(WaitForLine("start", "negotiation off").empty());
  RawClient c;
  ConnectDirect(&c);
  EXPECT_EQ(c.Exchange("-GetApplicationName"), "0 Quorvin Simulator");
}

TEST(SimTranscriptEchoTest, AStdoutNobodyReadsNeverHoldsUpTheServer) {
  signal(SIGPIPE, SIG_IGN);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  FILE* echo = fdopen(fds[1], "w");
  ASSERT_NE(echo, nullptr);
  Transcript transcript;
  TranscriptConfig config;
  config.echo = echo;
  config.echo_queue_limit = 50;
  std::string error;
  ASSERT_TRUE(transcript.Open(config, &error));
  SimOptions options;
  options.negotiation_port = 0;
  options.message_port = 0;
  SimServer server(options, transcript);
  ASSERT_TRUE(server.Start(&error)) << error;

  // Far more transcript than the pipe holds, and nobody reads it.
  RawClient c;
  ASSERT_TRUE(c.Connect(server.message_port()));
  const std::string message(400, 'm');
  int answered = 0;
  for (int i = 0; i < 1000; ++i) {
    if (c.Exchange("-LogMessage " + message + " 1", 2000) == "0") ++answered;
  }
  EXPECT_EQ(answered, 1000);
  c.Close();
  server.Stop();

  // Once stdout is read again, the echo ends with what it kept and says how
  // much it dropped.
  std::string echoed;
  std::thread reader([&echoed, fd = fds[0]] {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    char buf[65536];
    while (std::chrono::steady_clock::now() < deadline) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      const ssize_t n = read(fd, buf, sizeof buf);
      if (n <= 0) break;
      echoed.append(buf, static_cast<size_t>(n));
    }
  });
  transcript.Close();
  std::fclose(echo);
  reader.join();
  close(fds[0]);
  EXPECT_EQ(echoed.rfind(std::string(kTranscriptHeader) + "\n", 0), 0u);
  const std::string dropped = " transcript lines not echoed: stdout was not read\n";
  ASSERT_GT(echoed.size(), dropped.size());
  EXPECT_EQ(echoed.substr(echoed.size() - dropped.size()), dropped);
}

TEST(SimServerOpenTest, BusyPortIsReportedNotFatal) {
  RawListener busy_any;  // holds a port on every address
  SimOptions options;
  options.negotiation_port = 0;
  options.message_port = busy_any.port();
  Transcript transcript;
  SimServer server(options, transcript);
  std::string error;
  EXPECT_FALSE(server.Open(&error));
  EXPECT_NE(error.find("cannot listen on 127.0.0.1:" + std::to_string(busy_any.port())),
            std::string::npos)
      << error;
}

// A flooding local client: connections and handouts beyond the caps are
// refused and logged, streams go back only to the client's own address, and
// frames being read hold a bounded amount of memory. The simulator stays up
// and keeps answering the clients it has.
TEST_F(SimServerTest, LimitsHoldAgainstAFloodingClient) {
  options_.max_connections = 3;
  options_.max_handouts = 1;
  StartServer();
  RawClient negotiation, first, second, refused;
  ASSERT_TRUE(negotiation.Connect(server_->negotiation_port()));
  const auto handed = negotiation.Exchange("-GetNextAvailablePortNumber");
  ASSERT_TRUE(handed && handed->rfind("0 ", 0) == 0) << handed.value_or("(none)");
  EXPECT_EQ(negotiation.Exchange("-GetNextAvailablePortNumber"),
            "-1 Too many message ports handed out and not yet connected (--max-handouts 1); try "
            "again later");
  ConnectDirect(&first);
  ConnectDirect(&second);
  ASSERT_TRUE(refused.Connect(server_->message_port()));
  EXPECT_TRUE(WaitForClose(refused.fd(), 5000));
  EXPECT_TRUE(transcript_.WaitForLine(
      [](const std::string& l) {
        return l.find("\terror\tconnection from 127.0.0.1:") != std::string::npos &&
               l.find(" on message port ") != std::string::npos &&
               l.find(" refused: 3 connections open (--max-connections 3)") != std::string::npos;
      },
      kWait));

  // Streams go back to the address the message connection came from only.
  RawListener listener;
  EXPECT_EQ(
      first.Exchange("-CreateStream 127.0.0.2 " + std::to_string(listener.port()) + " CscAcqEnt"),
      "-1 Refused to stream to 127.0.0.2: streams go back to the client's own address "
      "127.0.0.1 (--stream-to-any-address allows others)");
  EXPECT_EQ(listener.Accept(200), -1);
}

TEST_F(SimServerTest, FramesBeingReadTakeBoundedMemory) {
  StartServer();
  // 1 MiB frames that never finish: the budget holds 16 of them.
  const int64_t frames = kMaxPendingFrameBytes / (1 << 20);
  std::vector<std::unique_ptr<RawClient>> clients;
  for (int64_t i = 0; i <= frames; ++i) {
    clients.push_back(std::make_unique<RawClient>());
    ASSERT_TRUE(clients.back()->Connect(server_->message_port()));
    ASSERT_TRUE(clients.back()->SendRaw(RawHeader(1, 0xA5A5A5A5u, 1 << 20) + "x"));
  }
  EXPECT_TRUE(transcript_.WaitForLine(
      [](const std::string& l) {
        return l.find(
                   "\terror\tframe of 1048576 bytes refused: frames being read over all "
                   "connections would take more than 16777216 bytes") != std::string::npos;
      },
      kWait));
  RawClient fresh;
  ConnectDirect(&fresh);
  EXPECT_EQ(fresh.Exchange("-GetApplicationName"), "0 Quorvin Simulator");
}

}  // namespace
}  // namespace orvanta::sim
