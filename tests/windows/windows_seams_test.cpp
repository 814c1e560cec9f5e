// The Windows halves of the platform seams, under wine: Winsock codes, the
// console handler, drive-letter paths and the replacing rename.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "client/socket_errors.h"
#include "client/socket_layer.h"
#include "fakes/fakes.h"
#include "fakes/temp_folder.h"
#include "log/log_file.h"
#include "platform/console_stop.h"
#include "platform/output_file.h"
#include "platform/paths.h"
#include "platform/stop_signal.h"
#include "record/record_io.h"
#include "script/setup_file_save.h"

namespace orvanta::console_detail {
BOOL WINAPI OnConsoleEvent(DWORD type);
}

namespace orvanta {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(WinsockTest, CodesReachTheTextsAsWSAGetLastErrorGivesThem) {
  ASSERT_EQ(0, net::Startup());
  int error = 0;
  net::SocketHandle probe = net::CreateTcpSocket(&error);
  ASSERT_NE(net::kInvalidSocket, probe);
  uint32_t address = 0;
  int port = 0;
  ASSERT_EQ(0, net::BindAny(probe, 0));
  ASSERT_EQ(0, net::LocalAddress(probe, &address, &port));
  ASSERT_EQ(0, net::CloseSocket(probe));  // nobody listens on `port` now

  net::SocketHandle socket = net::CreateTcpSocket(&error);
  const int refused = net::ConnectBounded(socket, 0x7F000001, port, 10000, nullptr);
  EXPECT_EQ(WSAECONNREFUSED, refused);
  EXPECT_EQ(
      "NetworkNodeClient::ConnectToServer() - Error Connecting To Server, error code: "
      "WSAECONNREFUSED - The attempt to connect was forcefully rejected.",
      net::SocketErrorText(net::SocketCall::kConnect, refused));
  ASSERT_EQ(0, net::CloseSocket(socket));
  EXPECT_EQ(WSAENOTSOCK, net::CloseSocket(socket));  // released already
  EXPECT_EQ(WSAECONNRESET, net::WsaCodeFromErrno(WSAECONNRESET));
}

TEST(WinsockTest, APeersShutdownEndsAWaitAndAnUnknownNameGivesTheResolversCode) {
  int error = 0;
  const net::SocketHandle listener = net::CreateTcpSocket(&error);
  uint32_t address = 0;
  int port = 0;
  ASSERT_EQ(0, net::BindAny(listener, 0));
  ASSERT_EQ(0, net::Listen(listener, 1));
  ASSERT_EQ(0, net::LocalAddress(listener, &address, &port));
  const net::SocketHandle client = net::CreateTcpSocket(&error);
  ASSERT_EQ(0, net::ConnectBounded(client, 0x7F000001, port, 10000, nullptr));
  const net::SocketHandle server = net::Accept(listener, &error);
  ASSERT_NE(net::kInvalidSocket, server) << error;
  char byte = 0;
  EXPECT_EQ(net::kRecvWouldBlock, net::RecvReady(client, &byte, 1, &error));
  std::thread peer([&] {
    std::this_thread::sleep_for(200ms);
    net::ShutdownSocket(server);
  });
  EXPECT_EQ(net::WaitResult::kReady, net::WaitReadable(client, 20000, &error));
  EXPECT_EQ(0, net::RecvSome(client, &byte, 1, &error));  // the peer's close
  peer.join();
  for (net::SocketHandle s : {client, server, listener}) EXPECT_EQ(0, net::CloseSocket(s));

  EXPECT_EQ(0, net::ResolveIPv4("127.0.0.1", &address));
  EXPECT_EQ(0x7F000001u, address);
  EXPECT_EQ(WSAHOST_NOT_FOUND, net::ResolveIPv4("no-such-host.invalid", &address));
}

TEST(ConsoleStopTest, CtrlCStopsARunAndACloseWaitsForItsEnd) {
  PrepareConsoleStops();
  StopSignal stop;
  std::vector<int> counts;
  auto watcher = std::make_unique<ConsoleStopWatcher>([&](int count) {
    counts.push_back(count);
    stop.Request();
  });
  std::atomic<bool> stopped{false};
  std::thread run([&] { stopped = stop.WaitFor(60s); });
  EXPECT_TRUE(console_detail::OnConsoleEvent(CTRL_C_EVENT));
  run.join();  // a stop, not the 60 s
  EXPECT_TRUE(stopped);
  EXPECT_TRUE(console_detail::OnConsoleEvent(CTRL_BREAK_EVENT));
  EXPECT_EQ((std::vector<int>{1, 2}), counts);
  EXPECT_FALSE(console_detail::OnConsoleEvent(0xFFFF));  // not ours to handle

  // Closing the console: the handler returns (and the system ends the
  // process) only once the program has ended its run.
  std::atomic<bool> returned{false};
  std::thread close([&] {
    console_detail::OnConsoleEvent(CTRL_CLOSE_EVENT);
    returned = true;
  });
  std::this_thread::sleep_for(300ms);
  EXPECT_FALSE(returned);
  watcher.reset();
  close.join();
  EXPECT_EQ((std::vector<int>{1, 2, 3}), counts);
}

TEST(DriveLetterPathTest, TheLogKeepsDriveAndFolderAndOutputFilesMoveAsideBeside) {
  testing::TempFolder folder;
  ASSERT_EQ(':', folder.path().at(1)) << folder.path();
  const std::string here = CurrentDirectoryWithSeparator();
  EXPECT_EQ(':', here.at(1));
  EXPECT_EQ('\\', here.back());
  testing::FixedClock clock;
  testing::RecordingMessageBoxes boxes;
  MainWindowRef window;
  testing::FakeShellOpener shell;
  {
    LogFile log(clock, boxes, window, shell);
    ASSERT_EQ(0, log.SetLogFilename(folder.path() + "\\session.log"));
    EXPECT_EQ(folder.path() + "\\session.txt", log.GetFilePath());
    // Without a drive, a folder is not kept: the file lands here.
    EXPECT_EQ("plain.txt", log.ResolveLogFilename("\\elsewhere\\plain.log"));
  }
  EXPECT_NE(std::string::npos, ReadFile(folder.path() + "\\session.txt").find("session.txt"));

  const std::string timeline = folder.path() + "\\timeline.csv";
  std::ofstream(timeline, std::ios::binary) << "trial,type\n";
  OutputFileFailure failure;
  auto file = OpenOutputFile(timeline, "trial,", failure);
  ASSERT_NE(nullptr, file) << failure.reason;
  EXPECT_EQ(folder.path() + "\\timeline.", file->movedAside().substr(0, timeline.size() - 3));
  EXPECT_EQ("trial,type\n", ReadFile(file->movedAside()));
  OutputFileFailure second;
  EXPECT_EQ(nullptr, OpenOutputFile(timeline, "trial,", second));
  EXPECT_EQ(OutputFileFailure::kInUse, second.kind);
}

TEST(ReplaceTest, MoveFileExReplacesAFileOnceItsReaderLetsGo) {
  testing::TempFolder folder;
  const std::string path = folder.path() + "\\session.json";
  std::ofstream(path, std::ios::binary) << "old";
  // A file open for reading cannot be replaced; the save waits a moment
  // for the reader (a viewer, a virus scanner) to let go.
  auto reader = std::make_unique<std::ifstream>(path, std::ios::binary);
  std::thread letGo([&] {
    std::this_thread::sleep_for(300ms);
    reader.reset();
  });
  std::string error;
  EXPECT_TRUE(record::ReplaceFileAtomically(path, "new", error)) << error;
  letGo.join();
  EXPECT_EQ("new", ReadFile(path));
  EXPECT_EQ("", ReplaceSetupFile(path, [](std::FILE* f) { std::fputs("newer", f); }));
  EXPECT_EQ("newer", ReadFile(path));

  // A reader that does not let go: the save fails after a bounded wait,
  // the file unharmed and no temporary file left.
  std::ifstream holder(path, std::ios::binary);
  EXPECT_FALSE(record::ReplaceFileAtomically(path, "lost", error));
  EXPECT_EQ(0u, error.rfind("cannot write " + path + ": ", 0)) << error;
  EXPECT_EQ(0u, ReplaceSetupFile(path, [](std::FILE* f) {
                  std::fputs("lost", f);
                }).rfind("cannot replace the file: ", 0));
  holder.close();
  EXPECT_EQ("newer", ReadFile(path));
  EXPECT_EQ(1, std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()));
}

}  // namespace
}  // namespace orvanta
