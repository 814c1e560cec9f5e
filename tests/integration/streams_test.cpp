// Data streams from the simulator to the facade's callbacks: records cut at
// their size and named by their object, close and disconnect stopping them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/integration/e2e_env.h"

namespace orvanta::e2e {
namespace {

class StreamsTest : public E2eTest {
 protected:
  void SetUp() override {
    StartSim();
    ASSERT_TRUE(Connect());
    std::vector<std::string> names, types;
    ASSERT_TRUE(client.GetObjectsAndTypes(names, types));
    client.SetCallbackFunctionSE(&RecordSink::Callback, &se);
    client.SetCallbackFunctionCSC(&RecordSink::Callback, &csc);
    client.SetCallbackFunctionVT(&RecordSink::Callback, &vt);
    client.SetCallbackFunctionEV(&RecordSink::Callback, &ev);
    skip_ = Commands().size();
  }

  // Commands sent since the set-up.
  std::vector<Line> NewCommands() const { return Commands(skip_); }

  size_t skip_ = 0;
};

// Checks that every record is a whole CSC record of `channel`, in time order.
void ExpectCscRecords(const std::vector<RecordSink::Record>& records, int channel) {
  uint64_t last = 0;
  for (const auto& r : records) {
    EXPECT_EQ(r.count, 1);
    EXPECT_EQ(Le32(r.bytes, 8), channel) << r.name;
    EXPECT_EQ(Le32(r.bytes, 12), 32000) << r.name;
    EXPECT_EQ(Le32(r.bytes, 16), 512) << r.name;
    EXPECT_GT(Le64(r.bytes, 0), last) << r.name;
    last = Le64(r.bytes, 0);
  }
}

TEST_F(StreamsTest, CscRecordsReachTheCallbackWholeWithTheirObjectsName) {
  ASSERT_TRUE(client.OpenStream("CSC1", "CscAcqEnt"));
  ASSERT_TRUE(client.OpenStream("CSC Reference", "CscAcqEnt"));
  ASSERT_TRUE(WaitUntil(
      [&] { return csc.Named("CSC1").size() >= 5 && csc.Named("CSC Reference").size() >= 5; }));
  ASSERT_TRUE(client.CloseStream("CSC1", "CscAcqEnt"));
  ASSERT_TRUE(client.CloseStream("CSC Reference", "CscAcqEnt"));

  const auto cmds = NewCommands();
  ASSERT_EQ(cmds.size(), 4u);
  EXPECT_EQ(cmds[0].text, "-OpenStream CSC1 CscAcqEnt");
  EXPECT_EQ(cmds[1].text, "-OpenStream CSC Reference CscAcqEnt");
  EXPECT_EQ(cmds[1].note, "open \"CSC Reference\" on the CscAcqEnt stream, object index 2");
  EXPECT_EQ(cmds[2].text, "-CloseStream CSC1 CscAcqEnt");
  EXPECT_EQ(cmds[3].text, "-CloseStream CSC Reference CscAcqEnt");
  for (const Line& c : cmds) EXPECT_EQ(c.reply, "0") << c.text;

  // Every record the simulator sent arrived as one callback: the byte
  // stream was cut at 1044 bytes, never elsewhere.
  ASSERT_TRUE(WaitUntil([&] { return csc.Count() == server->records_sent(); }))
      << csc.Count() << " of " << server->records_sent();
  for (const auto& r : csc.Records())
    EXPECT_TRUE(r.name == "CSC1" || r.name == "CSC Reference") << r.name;
  ExpectCscRecords(csc.Named("CSC1"), 0);
  ExpectCscRecords(csc.Named("CSC Reference"), 2);
  EXPECT_EQ(se.Count() + vt.Count() + ev.Count(), 0u);
  EXPECT_TRUE(boxes.texts().empty());
}

TEST_F(StreamsTest, CloseStreamStopsDeliveryAndReopeningResumesIt) {
  ASSERT_TRUE(client.OpenStream("CSC2", "CscAcqEnt"));
  ASSERT_TRUE(WaitUntil([&] { return csc.Count() >= 3; }));
  ASSERT_TRUE(client.CloseStream("CSC2", "CscAcqEnt"));
  std::this_thread::sleep_for(50ms);  // a record already on its way may still land
  ASSERT_TRUE(WaitUntil([&] { return csc.Count() == server->records_sent(); }));
  const size_t closedAt = csc.Count();
  std::this_thread::sleep_for(300ms);  // 15 records' time at 50 Hz
  EXPECT_EQ(csc.Count(), closedAt);
  EXPECT_EQ(server->records_sent(), closedAt);

  // Closing an object that is no longer open sends nothing.
  EXPECT_FALSE(client.CloseStream("CSC2", "CscAcqEnt"));
  ASSERT_TRUE(client.OpenStream("CSC2", "CscAcqEnt"));
  ASSERT_TRUE(WaitUntil([&] { return csc.Count() >= closedAt + 3; }));
  ExpectCscRecords(csc.Records(), 1);
  EXPECT_EQ(CommandTexts(skip_),
            (std::vector<std::string>{"-OpenStream CSC2 CscAcqEnt", "-CloseStream CSC2 CscAcqEnt",
                                      "-OpenStream CSC2 CscAcqEnt"}));
}

TEST_F(StreamsTest, EventRecordsCarryThePostedEventToTheCallback) {
  ASSERT_TRUE(client.OpenStream("Digital Events", "EventAcqEnt"));
  ASSERT_TRUE(WaitUntil([&] { return ev.Count() >= 2; }));
  std::string reply;
  ASSERT_TRUE(client.SendCommand("-PostEvent \"Reward Given\" 7 0", reply));
  EXPECT_EQ(reply.rfind('0', 0), 0u) << reply;

  const RecordSink::Record* posted = nullptr;
  std::vector<RecordSink::Record> records;
  ASSERT_TRUE(WaitUntil([&] {
    records = ev.Records();
    for (const auto& r : records)
      if (Le32(r.bytes, 16) == 1) posted = &r;
    return posted != nullptr;
  }));
  EXPECT_EQ(posted->name, "Digital Events");
  EXPECT_EQ(posted->count, 1);
  EXPECT_EQ(Le32(posted->bytes, 12), 7);
  EXPECT_EQ(std::string(posted->bytes.c_str() + 56), "Reward Given");
  // The records follow each other whole: event numbers count up from 1.
  for (size_t i = 0; i < records.size(); ++i) {
    EXPECT_EQ(records[i].name, "Digital Events");
    EXPECT_EQ(Le32(records[i].bytes, 8), static_cast<int32_t>(i + 1));
  }
  EXPECT_EQ(csc.Count(), 0u);
}

TEST_F(StreamsTest, VideoRecordsAreNamedByTheirTrackerId) {
  ASSERT_TRUE(client.OpenStream("VT1", "VTAcqEnt"));
  ASSERT_TRUE(WaitUntil([&] { return vt.Count() >= 2; }));
  for (const auto& r : vt.Records()) {
    EXPECT_EQ(r.name, "VT1");
    EXPECT_EQ(static_cast<unsigned char>(r.bytes[0]) | static_cast<unsigned char>(r.bytes[1]) << 8,
              0x5654);
  }
}

TEST_F(StreamsTest, AnObjectThatIsNotListedIsNotOpened) {
  EXPECT_FALSE(client.OpenStream("CSC1", "EventAcqEnt"));
  EXPECT_FALSE(client.OpenStream("CSC9", "CscAcqEnt"));
  EXPECT_TRUE(NewCommands().empty());
  EXPECT_TRUE(ClientLogHas(
      "ERROR: NetworkNodeClient::OpenStream() - Error, invalid parameter, unrecognized object "
      "name and data type pairing.  objectName: CSC9, dataType: CscAcqEnt"));
}

TEST_F(StreamsTest, DisconnectClosesTheOpenObjectsAndEndsTheStreamThreads) {
  ASSERT_TRUE(client.OpenStream("CSC2", "CscAcqEnt"));
  ASSERT_TRUE(client.OpenStream("CSC2", "CscAcqEnt"));
  ASSERT_TRUE(client.OpenStream("VT1", "VTAcqEnt"));
  ASSERT_TRUE(client.OpenStream("Digital Events", "EventAcqEnt"));
  ASSERT_TRUE(WaitUntil([&] { return csc.Count() >= 2 && vt.Count() >= 2 && ev.Count() >= 2; }));
  const size_t terminatedBefore = ClientLogCount(
      "NOTICE: NodeConnectionClient::CloseServerStream() - mDmaProcessor thread has been "
      "terminated successfully.");

  ASSERT_TRUE(client.DisconnectFromServer());
  // The closes go out in the server's object order, while the connection is
  // still up; the object opened twice is only counted down.
  const auto cmds = NewCommands();
  ASSERT_EQ(cmds.size(), 6u);
  EXPECT_EQ(cmds[4].text, "-CloseStream VT1 VTAcqEnt");
  EXPECT_EQ(cmds[5].text, "-CloseStream Digital Events EventAcqEnt");
  EXPECT_EQ(cmds[4].reply, "0");
  EXPECT_EQ(cmds[5].reply, "0");
  EXPECT_EQ(client.GetNetworkNodeClient()
                .Stream(NetworkNodeClient::kStreamCSC)
                .GetStreamObjectCount("CSC2"),
            1);
  EXPECT_TRUE(WaitForLine("1/message", "close", "closed by client"));

  // Every receive thread has ended and its sockets are closed.
  EXPECT_FALSE(AnyStreamSetUp());
  EXPECT_EQ(ClientLogCount("NOTICE: NodeConnectionClient::CloseServerStream() - mDmaProcessor "
                           "thread has been terminated successfully.") -
                terminatedBefore,
            6u);
  const size_t delivered = csc.Count() + vt.Count() + ev.Count();
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(csc.Count() + vt.Count() + ev.Count(), delivered);
  EXPECT_FALSE(client.IsConnected());
  EXPECT_EQ(client.GetServerName(), "Not Connected");
}

}  // namespace
}  // namespace orvanta::e2e
