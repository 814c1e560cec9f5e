// Shared pieces of the GUI tests: the QApplication, fakes of the window's
// own seams, and a fixture that builds a fresh model and main window.
#pragma once

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFontDatabase>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/app_seams.h"
#include "app/orvanta_dlg.h"
#include "fakes/fakes.h"
#include "support/program_env.h"

namespace orvanta::testing {

// One QApplication for the whole test program, on the offscreen platform
// unless the caller chose another.
inline QApplication& TestApplication() {
  static int argc = 1;
  static char name[] = "app_test";
  static char* argv[] = {name, nullptr};
  static QApplication* application = [] {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    auto* app = new QApplication(argc, argv);
#ifdef _WIN32
    // The offscreen platform finds no fonts of its own on Windows, and its
    // stand-in is half again as wide as any real one, so that sizes measured
    // here would say nothing. The dialog font of the Windows platform under
    // wine is Tahoma 8 pt: load it from the system's font folder.
    const QString fonts = qEnvironmentVariable("WINDIR", QStringLiteral("C:/windows")) + "/Fonts";
    if (QFontDatabase::addApplicationFont(fonts + "/tahoma.ttf") >= 0) {
      QApplication::setFont(QFont(QStringLiteral("Tahoma"), 8));
    }
#endif
    return app;
  }();
  return *application;
}

// Runs the queued work of the window thread: the listener calls and the
// boxes of commits (which may queue more work).
inline void Pump() {
  for (int i = 0; i < 5; ++i) {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
  }
}

// Runs the event loop until `done` or the bound has passed; false on time-out.
template <class Pred>
bool RunUntil(Pred done, std::chrono::milliseconds bound = std::chrono::seconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Hands the next modal window (or server wait dialog) that opens to `act` (on the window thread,
// from inside its own event loop). A window `act` leaves open is rejected
// after a bound, so that a test fails instead of hanging; a modal window
// that never comes is reported.
inline void WhenModalOpens(std::function<void(QWidget*)> act) {
  auto* timer = new QTimer;
  const auto started = std::chrono::steady_clock::now();
  QObject::connect(timer, &QTimer::timeout, [timer, act = std::move(act), started] {
    QWidget* modal = QApplication::activeModalWidget();
    // The server wait dialog holds the other windows' input back itself, so
    // that a close request still reaches the main window: it is not modal.
    for (QWidget* top : QApplication::topLevelWidgets()) {
      if (modal == nullptr && top->isVisible() &&
          top->objectName() == QLatin1String("serverWaitDialog")) {
        modal = top;
      }
    }
    if (modal != nullptr && modal->isVisible()) {
      timer->stop();
      timer->deleteLater();
      QPointer<QWidget> guard(modal);
      act(modal);
      QTimer::singleShot(10000, [guard] {
        if (guard && guard->isVisible()) {
          ADD_FAILURE() << "modal window left open: " << guard->objectName().toStdString();
          guard->close();
        }
      });
      return;
    }
    if (std::chrono::steady_clock::now() - started > std::chrono::seconds(10)) {
      timer->stop();
      timer->deleteLater();
    }
  });
  timer->start(5);
}

// Answers file dialogs from a script; records what they were asked.
class FakeFileChooser : public FileChooser {
 public:
  std::optional<std::string> ChooseFileToOpen(const FileDialogOptions& options) override {
    return Answer(options, "open");
  }
  std::optional<std::string> ChooseFileToSave(const FileDialogOptions& options) override {
    return Answer(options, "save");
  }
  std::optional<std::string> ChooseFolder(const std::string& title,
                                          const std::string& start) override {
    FileDialogOptions options;
    options.title = title;
    options.initialName = start;
    return Answer(options, "folder");
  }
  void QueueAnswer(std::optional<std::string> answer) { answers_.push_back(std::move(answer)); }
  const std::vector<FileDialogOptions>& asked() const { return asked_; }
  const std::vector<std::string>& kinds() const { return kinds_; }

 private:
  std::optional<std::string> Answer(const FileDialogOptions& options, const char* kind) {
    asked_.push_back(options);
    kinds_.emplace_back(kind);
    if (answers_.empty()) return std::nullopt;
    std::optional<std::string> answer = answers_.front();
    answers_.erase(answers_.begin());
    return answer;
  }
  std::vector<std::optional<std::string>> answers_;
  std::vector<FileDialogOptions> asked_;
  std::vector<std::string> kinds_;
};

class FakeServerLink : public ServerLink {
 public:
  bool IsConnected() override {
    ++isConnectedCalls;
    return connected;
  }
  bool ConnectToServer(const std::string& name, bool negotiate) override {
    connectCalls.push_back(name + (negotiate ? ":negotiate" : ""));
    return connected = connectResult;
  }
  std::string ConnectError() override { return connectResult ? std::string() : connectError; }
  int ReplyTimeoutMs() override { return replyTimeoutMs; }
  void SetReplyTimeoutMs(int ms) override { replyTimeoutMs = ms; }
  std::string connectError;
  int replyTimeoutMs = 5000;
  bool DisconnectFromServer() override {
    ++disconnectCalls;
    connected = false;
    return true;
  }
  bool connected = false;
  bool connectResult = true;
  int isConnectedCalls = 0;
  int disconnectCalls = 0;
  std::vector<std::string> connectCalls;
};

// The texts of a list's items, in list order.
inline std::vector<std::string> Entries(QListWidget* list) {
  std::vector<std::string> out;
  out.reserve(list->count());
  for (int i = 0; i < list->count(); ++i) out.push_back(list->item(i)->text().toStdString());
  return out;
}

// A temporary folder, removed with its contents.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "orvanta_app_XXXXXX").string();
    char* made = ::mkdtemp(pattern.data());
    if (made != nullptr) path_ = made;
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }
  std::string WithSeparator() const { return path_ + "/"; }

 private:
  std::string path_;
};

// A fresh model (log, deck, trial list) and a main window over it, shown
// and active, with every seam answered by a fake.
//
// The model is the shared fixture's (no log file; the window slot holds the
// main window while it exists). `window` here is the main window, hiding the
// fixture's recording window, which these tests do not use; `server` is the
// window's fake view of the server.
// The window tests' own folder, a base so that it goes after the program's
// objects: the log the window opens there is closed first (Windows removes
// no folder that holds an open file).
struct DialogFolder {
  TempDir dir;
};

class DialogTest : public ::testing::Test, protected DialogFolder, public ProgramEnv {
 protected:
  DialogTest()
      : ProgramEnv(
            Options{.logFile = false, .recordWindow = false, .folderPrefix = "orvanta-app-"}) {}

  void SetUp() override {
    TestApplication();
    ASSERT_FALSE(dir.path().empty());
    CreateWindow();
  }

  void TearDown() override {
    DestroyWindow();
    Pump();
  }

  void CreateWindow() {
    // The log file goes to the test's own folder.
    core.applicationDirectory() = dir.WithSeparator();
    window = std::make_unique<OrvantaDlg>(core, files, ServerLinkForWindow());
    mainWindow.Register(window.get());
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get(), 5000));
    Pump();
  }

  void DestroyWindow() { window.reset(); }

  // The window's view of the server: the fake unless a fixture brings a real
  // client.
  virtual ServerLink& ServerLinkForWindow() { return server; }

  template <class T>
  T* Find(const char* name) {
    T* widget = window->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  QLineEdit* Edit(const char* name) { return Find<QLineEdit>(name); }

  // Chooses a menu command as the menu does, and runs the queued work.
  void Menu(const char* actionName) {
    QAction* action = window->findChild<QAction*>(QString::fromLatin1(actionName));
    ASSERT_NE(action, nullptr) << actionName;
    action->trigger();
    Pump();
  }

  // Types `text` into the field (replacing its content) and presses Enter.
  void EnterText(QLineEdit* edit, const QString& text) {
    edit->setFocus(Qt::OtherFocusReason);
    edit->setText(text);
    QTest::keyClick(edit, Qt::Key_Return);
    Pump();
  }

  // Clicks a button and runs the queued work. A check box is clicked on its
  // indicator (the widget may be wider than the box and its text).
  void Click(QWidget* widget) {
    if (widget->inherits("QCheckBox")) {
      QTest::mouseClick(widget, Qt::LeftButton, {}, QPoint(6, widget->height() / 2));
    } else {
      QTest::mouseClick(widget, Qt::LeftButton);
    }
    Pump();
  }

  Trial* TrialNamed(const std::string& name) {
    Trial* trial = nullptr;
    if (trials.GetTrial(name, trial) != 0) return nullptr;
    return trial;
  }

  MainWindowRef& mainWindow = windowRef;
  FakeFileChooser files;
  FakeServerLink server;  // hides the fixture's simulator (see SimDialogTest)
  std::unique_ptr<OrvantaDlg> window;
};

}  // namespace orvanta::testing
