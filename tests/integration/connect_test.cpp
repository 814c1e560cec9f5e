// Connecting the facade to the simulator: the negotiated sequence, the
// fallback to the message port, refused port requests, the connection check,
// the object lists and the requests with typed replies.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "tests/integration/e2e_env.h"

namespace orvanta::e2e {
namespace {

using ConnectTest = E2eTest;

TEST_F(ConnectTest, NegotiatedConnectRunsTheWholeSequenceInOrder) {
  StartSim();
  ASSERT_TRUE(Connect(Link::kNegotiated));

  const std::vector<Line> cmds = Commands();
  ASSERT_EQ(cmds.size(), 16u);
  // The negotiation port only hands out the message port.
  EXPECT_EQ(cmds[0].conn, "1/negotiation");
  EXPECT_EQ(cmds[0].text, "-GetApplicationName");
  EXPECT_EQ(cmds[0].reply, "0 Quorvin Simulator");
  EXPECT_EQ(cmds[1].conn, "1/negotiation");
  EXPECT_EQ(cmds[1].text, "-GetNextAvailablePortNumber");
  ASSERT_EQ(cmds[1].reply.rfind("0 ", 0), 0u) << cmds[1].reply;
  const int messagePort = std::stoi(cmds[1].reply.substr(2));
  EXPECT_TRUE(WaitForLine("1/negotiation", "close", "closed by client"));

  // The message connection is made on the port handed out.
  bool opened = false;
  for (const Line& l : Lines("open")) {
    if (l.conn == "2/handout") {
      opened = true;
      EXPECT_EQ(l.note, "port " + std::to_string(messagePort));
    }
  }
  EXPECT_TRUE(opened);
  EXPECT_EQ(client.GetNetworkNodeClient().GetPortNumber(), messagePort);
  EXPECT_EQ(client.GetServerApplicationName(), kAppName);
  EXPECT_EQ(client.GetServerName(), "127.0.0.1");
  EXPECT_EQ(client.GetServerIPAddress(), "127.0.0.1");

  std::vector<std::string> texts;
  for (size_t i = 2; i < cmds.size(); ++i) {
    EXPECT_EQ(cmds[i].conn, "2/handout") << cmds[i].text;
    texts.push_back(cmds[i].text);
  }
  EXPECT_EQ(texts, ExpectedMessageSequence());

  // Each stream listens on the very port the server handed out for it, and
  // the server reached it.
  std::set<int> ports;
  for (int i = 0; i < NetworkNodeClient::kStreamCount; ++i) {
    const Line& request = cmds[3 + 2 * i];
    const Line& create = cmds[4 + 2 * i];
    const int port = client.GetNetworkNodeClient().Stream(i).GetPortNumber();
    EXPECT_EQ(request.reply, "0 " + std::to_string(port)) << kStreamTypes[i];
    EXPECT_EQ(create.reply, "0");
    EXPECT_EQ(create.note, std::string("stream ") + kStreamTypes[i] +
                               " connected to 127.0.0.1:" + std::to_string(port));
    ports.insert(port);
  }
  EXPECT_EQ(ports.size(), 6u);

  // The connection check is one more "-SetComputerName" exchange.
  EXPECT_TRUE(client.IsConnected());
  const auto after = Commands(16);
  ASSERT_EQ(after.size(), 1u);
  EXPECT_EQ(after[0].conn, "2/handout");
  EXPECT_EQ(after[0].text, "-SetComputerName " + VintraClient::GetComputerName());
  EXPECT_TRUE(boxes.texts().empty());
}

// The negotiation port answers -GetApplicationName later than the bound: its
// reply is awaited and dropped before the port request, so the port handed
// out is the one used, and the connect says that a command got no reply.
TEST_F(ConnectTest, ALateApplicationNameReplyIsNeverReadAsThePortReply) {
  simOptions.late_reply = {1, 800};
  StartSim();
  client.SetReplyTimeout(500ms);
  ASSERT_TRUE(Connect(Link::kNegotiated)) << client.GetConnectError();
  const std::vector<Line> cmds = Commands();
  ASSERT_GE(cmds.size(), 2u);
  EXPECT_EQ(cmds[1].text, "-GetNextAvailablePortNumber");
  ASSERT_TRUE(cmds[0].replyUs.has_value());
  EXPECT_GE(cmds[1].timeUs, *cmds[0].replyUs);  // sent only once the late reply was in
  EXPECT_EQ(client.GetNetworkNodeClient().GetPortNumber(), std::stoi(cmds[1].reply.substr(2)));
  EXPECT_EQ(client.GetConnectWarnings(),
            "the server did not answer -GetApplicationName (no reply within 500 ms)");
  EXPECT_TRUE(ClientLogHas(
      "NOTICE: NetworkNodeClient::SendCommand() - Notice, the late reply to an earlier command "
      "has been discarded.  command: -GetApplicationName, reply: 0 Quorvin Simulator"));
  EXPECT_TRUE(client.IsConnected());
}

TEST_F(ConnectTest, RefusedNegotiationFallsBackToTheMessagePortWithoutAFirstPortRequest) {
  simOptions.negotiation_enabled = false;
  StartSim();
  ASSERT_TRUE(client.ConnectToServer("127.0.0.1", true, UnusedPort(), server->message_port()));

  const std::vector<Line> cmds = Commands();
  std::vector<std::string> texts;
  for (const Line& l : cmds) {
    EXPECT_EQ(l.conn, "1/message") << l.text;
    texts.push_back(l.text);
  }
  // The first port request is the first stream's: a "-CreateStream" follows it.
  EXPECT_EQ(texts, ExpectedMessageSequence());
  EXPECT_EQ(client.GetNetworkNodeClient().GetPortNumber(), server->message_port());
  EXPECT_TRUE(ClientLogHas(
      "ERROR: NetworkNodeClient::ConnectToServer() - Error Connecting To Server, error code: "
      "WSAECONNREFUSED - The attempt to connect was forcefully rejected."));
  EXPECT_TRUE(client.IsConnected());
}

TEST_F(ConnectTest, WithoutNegotiationTheNegotiationPortIsNeverTouched) {
  StartSim();
  ASSERT_TRUE(Connect());
  for (const Line& l : Lines()) EXPECT_EQ(l.conn.find("negotiation"), std::string::npos) << l.text;
  const std::vector<Line> cmds = Commands();
  ASSERT_FALSE(cmds.empty());
  EXPECT_EQ(cmds[0].conn, "1/message");
  EXPECT_EQ(CommandTexts(), ExpectedMessageSequence());
}

// The simulator answers the first port request with "-1" (a refusal) or "0"
// (status 0 and, read as a missing number, port 0).
class RefusedPortTest : public E2eTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(RefusedPortTest, AFailedFirstPortRequestLeavesNothingConnectedAndALaterConnectWorks) {
  simOptions.fault_command = "-GetNextAvailablePortNumber";
  simOptions.replace_reply_nth = 1;
  simOptions.replace_reply_text = GetParam();
  StartSim();

  EXPECT_FALSE(Connect(Link::kNegotiated));
  const std::vector<Line> cmds = Commands();
  ASSERT_EQ(cmds.size(), 2u);
  EXPECT_EQ(cmds[0].text, "-GetApplicationName");
  EXPECT_EQ(cmds[1].text, "-GetNextAvailablePortNumber");
  EXPECT_EQ(cmds[1].reply, GetParam());
  EXPECT_EQ(cmds[1].conn, "1/negotiation");
  EXPECT_TRUE(WaitForLine("1/negotiation", "close", "closed by client"));
  for (const Line& l : Lines("open")) EXPECT_EQ(l.conn, "1/negotiation");

  // Nothing half-connected: no connection, no streams, no traffic.
  EXPECT_FALSE(client.GetNetworkNodeClient().IsInitialized());
  EXPECT_FALSE(AnyStreamSetUp());
  EXPECT_EQ(client.GetServerName(), "Not Connected");
  EXPECT_EQ(client.GetServerIPAddress(), "Not Connected");
  EXPECT_FALSE(client.IsConnected());
  EXPECT_FALSE(client.DisconnectFromServer());
  EXPECT_EQ(Received(), 2);

  ASSERT_TRUE(Connect(Link::kNegotiated));
  const std::vector<Line> again = Commands(2);
  ASSERT_EQ(again.size(), 16u);
  EXPECT_EQ(again[0].conn, "2/negotiation");
  EXPECT_EQ(again[2].conn, "3/handout");
  EXPECT_TRUE(client.IsConnected());
}

INSTANTIATE_TEST_SUITE_P(Replies, RefusedPortTest, ::testing::Values("-1", "0"),
                         [](const auto& info) {
                           return std::string(info.param) == "-1" ? "MinusOne" : "PortZero";
                         });

TEST_F(ConnectTest, PortZeroIsTriedAndRefused) {
  simOptions.fault_command = "-GetNextAvailablePortNumber";
  simOptions.replace_reply_nth = 1;
  simOptions.replace_reply_text = "0";
  StartSim();
  EXPECT_FALSE(Connect(Link::kNegotiated));
  EXPECT_TRUE(ClientLogHas(
      "NOTICE: NetworkNodeClient::InitializeClient() - Attempting to initialize Message Client "
      "connection.  serverName: 127.0.0.1, portNumber: 0"));
  EXPECT_TRUE(ClientLogHas(
      "ERROR: NetworkNodeClient::InitializeClient() - Failure: Unable to initialize message "
      "client"));
}

TEST_F(ConnectTest, IsConnectedOnANeverConnectedClientSendsNothing) {
  StartSim();
  const auto start = Clock::now();
  EXPECT_FALSE(client.IsConnected());
  EXPECT_LT(MillisSince(start), 1000);
  std::string reply = "untouched";
  EXPECT_FALSE(client.SendCommand("-GetApplicationName", reply));
  EXPECT_EQ(reply, "untouched");
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(Received(), 0);
  EXPECT_TRUE(Lines("open").empty());
  EXPECT_TRUE(Lines("cmd").empty());
  EXPECT_TRUE(ClientLogEntries().empty());
}

TEST_F(ConnectTest, ObjectListsWithBlanksArriveQuotedAndSplitWhole) {
  simOptions.objects = {
      {"TT3", "TTScAcqEnt"}, {"Left Arm", "CscAcqEnt"}, {"Events", "EventAcqEnt"}};
  StartSim();
  ASSERT_TRUE(Connect());
  std::vector<std::string> names = {"stale"}, types = {"stale"};
  ASSERT_TRUE(client.GetObjectsAndTypes(names, types));
  EXPECT_EQ(names, (std::vector<std::string>{"TT3", "Left Arm", "Events"}));
  EXPECT_EQ(types, (std::vector<std::string>{"TTScAcqEnt", "CscAcqEnt", "EventAcqEnt"}));

  const auto cmds = Commands(14);
  ASSERT_EQ(cmds.size(), 2u);
  EXPECT_EQ(cmds[0].text, "-RequestQuorvinObjects");
  EXPECT_EQ(cmds[0].reply, "0 TT3 \"Left Arm\" Events");
  EXPECT_EQ(cmds[1].text, "-RequestQuorvinTypes");
  EXPECT_EQ(cmds[1].reply, "0 TTScAcqEnt CscAcqEnt EventAcqEnt");

  // Each stream knows the objects of its own types, in the server's order.
  NetworkNodeClient& node = client.GetNetworkNodeClient();
  for (int i :
       {NetworkNodeClient::kStreamSE, NetworkNodeClient::kStreamST, NetworkNodeClient::kStreamTT}) {
    EXPECT_EQ(node.Stream(i).GetTypeObjects(), std::vector<std::string>{"TT3"});
  }
  EXPECT_EQ(node.Stream(NetworkNodeClient::kStreamCSC).GetTypeObjects(),
            std::vector<std::string>{"Left Arm"});
  EXPECT_EQ(node.Stream(NetworkNodeClient::kStreamEV).GetTypeObjects(),
            std::vector<std::string>{"Events"});
  EXPECT_TRUE(node.Stream(NetworkNodeClient::kStreamVT).GetTypeObjects().empty());
}

TEST_F(ConnectTest, TheDefaultObjectListIsReadWhole) {
  StartSim();
  ASSERT_TRUE(Connect());
  std::vector<std::string> names, types;
  ASSERT_TRUE(client.GetObjectsAndTypes(names, types));
  EXPECT_EQ(names, (std::vector<std::string>{"SE1", "SE2", "ST1", "TT1", "CSC1", "CSC2",
                                             "CSC Reference", "VT1", "Digital Events"}));
  EXPECT_EQ(types, (std::vector<std::string>{"SEScAcqEnt", "SEScAcqEnt", "STScAcqEnt", "TTScAcqEnt",
                                             "CscAcqEnt", "CscAcqEnt", "CscAcqEnt", "VTAcqEnt",
                                             "EventAcqEnt"}));
}

TEST_F(ConnectTest, TypedRequestsGiveTheSimulatorsValues) {
  StartSim();
  ASSERT_TRUE(Connect());
  int a = -7, b = -7;
  EXPECT_TRUE(client.RequestRingBufferSize("CSC1", a, b));
  EXPECT_EQ(a, 512);
  EXPECT_EQ(b, 1044);
  EXPECT_TRUE(client.RequestRingBufferSize("TT1", a, b));
  EXPECT_EQ(a, 1024);
  EXPECT_EQ(b, 304);
  EXPECT_TRUE(client.RequestSamplingFrequency("CSC Reference", a));
  EXPECT_EQ(a, 32000);
  EXPECT_TRUE(client.RequestSamplingFrequency("VT1", a));
  EXPECT_EQ(a, 30);
  EXPECT_TRUE(client.RequestADRange("CSC1", a, b));
  EXPECT_EQ(a, -1000);
  EXPECT_EQ(b, 1000);
  EXPECT_TRUE(client.RequestADRange("SE2", a, b));
  EXPECT_EQ(a, -500);
  EXPECT_EQ(b, 500);
  // A refusal ("-1 " and a reason) fails and leaves the values at 0.
  EXPECT_FALSE(client.RequestSamplingFrequency("Digital Events", a));
  EXPECT_EQ(a, 0);
  EXPECT_FALSE(client.RequestADRange("No Such Object", a, b));
  EXPECT_EQ(a, 0);
  EXPECT_EQ(b, 0);

  std::string feature = "untouched";
  EXPECT_TRUE(client.RequestFeature("TT1", 5, feature));
  EXPECT_EQ(feature, "Peak Time");
  EXPECT_TRUE(client.RequestFeature("SE1", 0, feature));
  EXPECT_EQ(feature, "Peak");
  feature = "untouched";
  EXPECT_FALSE(client.RequestFeature("CSC1", 0, feature));
  EXPECT_EQ(feature, "untouched");

  EXPECT_TRUE(client.LogMessage("rat 12 on the track", 3));
  EXPECT_TRUE(client.SetApplicationName("Orvanta"));

  EXPECT_EQ(CommandTexts(14),
            (std::vector<std::string>{
                "-RequestRingBufferSize CSC1", "-RequestRingBufferSize TT1",
                "-RequestSamplingFrequency CSC Reference", "-RequestSamplingFrequency VT1",
                "-RequestADRange CSC1", "-RequestADRange SE2",
                "-RequestSamplingFrequency Digital Events", "-RequestADRange No Such Object",
                "-RequestFeature TT1 5", "-RequestFeature SE1 0", "-RequestFeature CSC1 0",
                "-LogMessage rat 12 on the track 3", "-SetApplicationName \"Orvanta\""}));
  const auto cmds = Commands(14);
  EXPECT_EQ(cmds[11].note, "logged \"rat 12 on the track\" level 3");
  EXPECT_EQ(cmds[12].note, "client application: Orvanta");
}

TEST_F(ConnectTest, RingBufferCopiesTheSmallerSizeOfWholeRecords) {
  StartSim();
  ASSERT_TRUE(Connect());
  // The simulator answers with the object's four latest records.
  std::vector<char> raw;
  int size = 0;
  ASSERT_TRUE(client.SendCommandBinaryReply("-RequestRingBuffer CSC2", raw, size));
  ASSERT_EQ(size, 4 * 1044);
  ASSERT_EQ(raw.size(), 4u * 1044);
  const std::string all(raw.data(), raw.size());
  for (int r = 0; r < 4; ++r) {
    EXPECT_EQ(Le32(all, r * 1044 + 8), 1) << "channel of record " << r;
    EXPECT_EQ(Le32(all, r * 1044 + 12), 32000);
    if (r > 0) {
      EXPECT_GE(Le64(all, r * 1044), Le64(all, (r - 1) * 1044));
    }
  }

  std::vector<char> buffer(1044 + 10, 'z');
  int copied = -1;
  ASSERT_TRUE(client.RequestRingBuffer("CSC Reference", buffer.data(), 1044, copied));
  EXPECT_EQ(copied, 1044);
  const std::string first(buffer.data(), 1044);
  EXPECT_EQ(Le32(first, 8), 2);
  EXPECT_EQ(Le32(first, 16), 512);
  EXPECT_EQ(std::string(buffer.data() + 1044, 10), std::string(10, 'z'));

  std::vector<char> large(5000, 'z');
  ASSERT_TRUE(client.RequestRingBuffer("CSC1", large.data(), 5000, copied));
  EXPECT_EQ(copied, 4 * 1044);
  EXPECT_EQ(std::string(large.data() + copied, 5000 - copied), std::string(5000 - copied, '\0'));
  EXPECT_EQ(Le32(std::string(large.data(), 1044), 8), 0);

  const auto cmds = Commands(14);
  ASSERT_EQ(cmds.size(), 3u);
  EXPECT_EQ(cmds[1].text, "-RequestRingBuffer CSC Reference");
  EXPECT_EQ(cmds[1].reply, "<4176 bytes>");
}

}  // namespace
}  // namespace orvanta::e2e
