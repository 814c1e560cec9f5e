// The window manager's close request (WM_DELETE_WINDOW, sent as a window
// manager sends it) during a connect, on a real X server of its own (Xvfb):
// offscreen there is no window manager, and no modal dialog can swallow it.
// Skips itself without Xvfb (scripts/deps.sh installs it).
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

#include "sim_dialog_test.h"

namespace orvanta::testing {
namespace {

using namespace std::chrono_literals;

pid_t gXvfb = -1;

// Starts Xvfb on a display number it picks and points DISPLAY at it.
bool StartXvfb() {
  int fds[2];
  if (::pipe(fds) != 0) return false;
  gXvfb = ::fork();
  if (gXvfb == 0) {
    ::dup2(::open("/dev/null", O_WRONLY), STDERR_FILENO);
    ::execlp("Xvfb", "Xvfb", "-displayfd", std::to_string(fds[1]).c_str(), "-screen", "0",
             "1366x768x24", "-nolisten", "tcp", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(fds[1]);
  std::string number;
  char c = 0;
  while (gXvfb > 0 && ::read(fds[0], &c, 1) == 1 && c != '\n') number += c;
  ::close(fds[0]);
  if (!number.empty()) ::setenv("DISPLAY", (":" + number).c_str(), 1);
  return !number.empty();
}

// WM_PROTOCOLS / WM_DELETE_WINDOW to window `id`, from a connection of its own.
void SendDeleteWindow(uint32_t id) {
  xcb_connection_t* x = xcb_connect(nullptr, nullptr);
  auto atom = [x](const char* name) {
    auto* reply = xcb_intern_atom_reply(
        x, xcb_intern_atom(x, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
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
  xcb_send_event(x, 0, id, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&event));
  // A round trip before the connection goes: the server has then carried
  // the event out (a request still unread when the client hangs up can be
  // dropped with it).
  std::free(xcb_get_input_focus_reply(x, xcb_get_input_focus(x), nullptr));
  xcb_disconnect(x);
}

class X11CloseTest : public SimDialogTest {
 protected:
  static void SetUpTestSuite() {
    // The one QApplication of this program talks to that X server.
    if ((started_ = StartXvfb())) qputenv("QT_QPA_PLATFORM", "xcb");
  }
  static void TearDownTestSuite() {
    if (gXvfb > 0 && ::kill(gXvfb, SIGTERM) == 0) ::waitpid(gXvfb, nullptr, 0);
  }
  void SetUp() override {
    if (!started_) GTEST_SKIP() << "Xvfb could not be started (scripts/deps.sh installs it)";
    SimDialogTest::SetUp();
  }
  void TearDown() override {
    if (started_) SimDialogTest::TearDown();
  }
  static inline bool started_ = false;
};

// A server that never answers: the close request cancels the connect and
// closes the window, with no failure box.
TEST_F(X11CloseTest, WindowManagerCloseDuringConnectCancelsTheWaitAndCloses) {
  ASSERT_EQ(QGuiApplication::platformName().toStdString(), "xcb");
  sim->Stop();
  simOptions.reply_delay_ms = 60000;
  sim = std::make_unique<sim::SimServer>(simOptions, transcript);
  std::string error;
  ASSERT_TRUE(sim->Start(&error)) << error;
  client.SetServerPorts(sim->negotiation_port(), sim->message_port());
  SetServerName("127.0.0.1");
  const auto id = static_cast<uint32_t>(window->winId());
  WhenModalOpens([&](QWidget* wait) {
    EXPECT_EQ(wait->objectName().toStdString(), "serverWaitDialog");
    QTimer::singleShot(200, [id] { SendDeleteWindow(id); });
  });
  const auto start = std::chrono::steady_clock::now();
  Menu("connectToServerAction");
  EXPECT_TRUE(RunUntil([&] { return !window->isVisible(); }, 15s)) << "the close was swallowed";
  EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
  EXPECT_TRUE(boxes.boxes().empty()) << boxes.boxes()[0].text;
  EXPECT_FALSE(client.HasConnection());
}

}  // namespace
}  // namespace orvanta::testing
