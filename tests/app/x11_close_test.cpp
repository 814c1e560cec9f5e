// A close request from the window manager while the window waits for the
// server, on a real X server (Xvfb). The offscreen platform has no window
// manager: there a close is a plain call, and a modal dialog cannot swallow
// it. Here the request arrives as a window manager sends it, a
// WM_PROTOCOLS / WM_DELETE_WINDOW client message to the window.
//
// Skips itself when Xvfb is not installed (scripts/deps.sh installs it).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QPushButton>

#include <cstdlib>
#include <cstring>
#include <string>

#include "sim_dialog_test.h"

namespace orvanta::testing {
namespace {

using namespace std::chrono_literals;

// One Xvfb for the test program, on a display number it picks itself.
class XServer {
 public:
  // Starts Xvfb and points DISPLAY at it; false (with `why`) when it cannot.
  bool Start(std::string& why) {
    int fds[2];
    if (::pipe(fds) != 0) {
      why = "no pipe";
      return false;
    }
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(fds[0]);
      const std::string fd = std::to_string(fds[1]);
      const int null = ::open("/dev/null", O_WRONLY);
      if (null >= 0) ::dup2(null, STDERR_FILENO);
      ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1366x768x24", "-nolisten",
               "tcp", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(fds[1]);
    if (pid_ < 0) {
      ::close(fds[0]);
      why = "fork failed";
      return false;
    }
    // Xvfb writes its display number once it accepts clients.
    std::string number;
    char c = 0;
    while (::read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    ::close(fds[0]);
    if (number.empty()) {
      Stop();
      why = "Xvfb did not start (is it installed? scripts/deps.sh installs it)";
      return false;
    }
    ::setenv("DISPLAY", (":" + number).c_str(), 1);
    return true;
  }

  void Stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

  ~XServer() { Stop(); }

 private:
  pid_t pid_ = -1;
};

XServer& TheXServer() {
  static XServer server;
  return server;
}

// Sends the window manager's close request to the top-level X window `id`,
// from a connection of its own, as a window manager does.
bool SendDeleteWindow(uint32_t id) {
  xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(connection) != 0) {
    xcb_disconnect(connection);
    return false;
  }
  auto atom = [connection](const char* name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, static_cast<uint16_t>(std::strlen(name)), name),
        nullptr);
    const xcb_atom_t value = reply != nullptr ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return value;
  };
  xcb_client_message_event_t event{};
  event.response_type = XCB_CLIENT_MESSAGE;
  event.format = 32;
  event.window = id;
  event.type = atom("WM_PROTOCOLS");
  event.data.data32[0] = atom("WM_DELETE_WINDOW");
  event.data.data32[1] = XCB_CURRENT_TIME;
  xcb_send_event(connection, 0, id, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&event));
  xcb_flush(connection);
  xcb_disconnect(connection);
  return true;
}

class X11CloseTest : public SimDialogTest {
 protected:
  static void SetUpTestSuite() {
    if (!qEnvironmentVariableIsEmpty("ORVANTA_X11_TEST_SKIP")) return;
    started_ = TheXServer().Start(why_);
    // The one QApplication of this program talks to that X server.
    if (started_) qputenv("QT_QPA_PLATFORM", "xcb");
  }

  void SetUp() override {
    if (!started_) GTEST_SKIP() << "no X server for this test: " << why_;
    SimDialogTest::SetUp();
  }

  void TearDown() override {
    if (started_) SimDialogTest::TearDown();
  }

  static inline bool started_ = false;
  static inline std::string why_ = "ORVANTA_X11_TEST_SKIP is set";
};

// The server never answers: the connect waits with its dialog up. The
// window manager's close request cancels the wait and closes the window;
// no failure box is shown for the cancelled connect.
TEST_F(X11CloseTest, WindowManagerCloseDuringConnectCancelsTheWaitAndCloses) {
  ASSERT_EQ(QGuiApplication::platformName().toStdString(), "xcb");
  sim->Stop();
  simOptions.reply_delay_ms = 60000;
  sim = std::make_unique<sim::SimServer>(simOptions, transcript);
  std::string error;
  ASSERT_TRUE(sim->Start(&error)) << error;
  client.SetServerPorts(sim->negotiation_port(), sim->message_port());
  SetServerName("127.0.0.1");

  bool sent = false;
  const auto id = static_cast<uint32_t>(window->winId());
  WhenModalOpens([&](QWidget* wait) {
    EXPECT_EQ(wait->objectName().toStdString(), "serverWaitDialog");
    QTimer::singleShot(200, [&] { sent = SendDeleteWindow(id); });
  });
  const auto start = std::chrono::steady_clock::now();
  Menu("connectToServerAction");
  EXPECT_TRUE(RunUntil([&] { return !window->isVisible(); }, 15s));
  const auto waited = std::chrono::steady_clock::now() - start;

  EXPECT_TRUE(sent);
  EXPECT_FALSE(window->isVisible()) << "the close request was swallowed";
  EXPECT_LT(waited, 10s);
  EXPECT_TRUE(boxes.boxes().empty()) << boxes.boxes()[0].text;
  EXPECT_FALSE(client.HasConnection());
}

}  // namespace
}  // namespace orvanta::testing
