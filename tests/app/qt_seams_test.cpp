// The Qt implementations of the seams and the digits rules.
#include <QAbstractButton>
#include <QEventLoop>
#include <QMessageBox>
#include <QTimer>

#include <chrono>
#include <future>
#include <thread>

#include "app/digits.h"
#include "app/qt_file_chooser.h"
#include "app/qt_message_boxes.h"
#include "app_test_support.h"

namespace orvanta::testing {
namespace {

using namespace std::chrono_literals;

TEST(DigitsTest, ConversionFollowsTheFieldRules) {
  EXPECT_EQ(ParseDigitsField("0012"), 12);
  EXPECT_EQ(ParseDigitsField(""), 0);
  EXPECT_EQ(ParseDigitsField("  42abc"), 42);
  EXPECT_EQ(ParseDigitsField("-17"), -17);
  EXPECT_EQ(ParseDigitsField("+5"), 5);
  EXPECT_EQ(ParseDigitsField("x1"), 0);
  EXPECT_EQ(ParseDigitsField("2147483647"), 2147483647);
  EXPECT_EQ(ParseDigitsField("2147483648"), 2147483647);
  EXPECT_EQ(ParseDigitsField("-2147483648"), -2147483647 - 1);
  EXPECT_EQ(ParseDigitsField("-99999999999999999999"), -2147483647 - 1);
  EXPECT_EQ(FormatNumber(-3), "-3");
  EXPECT_TRUE(IsDigitsOnly("0123"));
  EXPECT_FALSE(IsDigitsOnly("1-"));
}

TEST(QtFileChooserTest, FilterPairsBecomeQtNameFilters) {
  EXPECT_EQ(QtFileChooser::ToQtNameFilters("Wav Files (*.wav)|*.wav||"), "Wav Files (*.wav)");
  EXPECT_EQ(QtFileChooser::ToQtNameFilters("Configuration Files (*.cfg)|*.cfg|"),
            "Configuration Files (*.cfg)");
  EXPECT_EQ(QtFileChooser::ToQtNameFilters("Text|*.txt;*.log|All Files (*.*)|*.*||"),
            "Text (*.txt *.log);;All Files (*.*)");
  EXPECT_EQ(QtFileChooser::ToQtNameFilters(""), "");
}

// Answers the next message box that opens with `button`, and reports what it
// showed.
struct BoxAnswerer {
  QMessageBox::StandardButton button = QMessageBox::Ok;
  QString text;
  QString title;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  bool answered = false;

  void Start() {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, timer, [this, timer] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr) return;
      text = box->text();
      title = box->windowTitle();
      icon = box->icon();
      answered = true;
      box->button(button)->click();
      timer->deleteLater();
    });
    timer->start(5);
  }
};

TEST(QtMessageBoxesTest, BoxOnTheWindowThreadShowsTextCaptionAndIcon) {
  TestApplication();
  QtMessageBoxes boxes;
  BoxAnswerer answerer;
  answerer.button = QMessageBox::No;
  answerer.Start();
  const BoxResult result =
      boxes.Show("Line one\r\n\r\nLine <b>two</b>", "Caption", BoxIcon::kError, BoxButtons::kYesNo);
  EXPECT_EQ(result, BoxResult::kNo);
  EXPECT_TRUE(answerer.answered);
  EXPECT_EQ(answerer.text, "Line one\n\nLine <b>two</b>");
  EXPECT_EQ(answerer.title, "Caption");
  EXPECT_EQ(answerer.icon, QMessageBox::Critical);
}

TEST(QtMessageBoxesTest, BoxFromAnotherThreadIsShownOnTheWindowThreadAndAnswered) {
  TestApplication();
  QtMessageBoxes boxes;
  BoxAnswerer answerer;
  answerer.button = QMessageBox::Cancel;
  answerer.Start();
  std::thread::id shownOn;
  auto caller = std::async(std::launch::async, [&] {
    return boxes.Show("Trials Completed Successfully", "Trial Processing", BoxIcon::kNone,
                      BoxButtons::kOkCancel);
  });
  ASSERT_TRUE(RunUntil([&] { return caller.wait_for(0s) == std::future_status::ready; }));
  EXPECT_EQ(caller.get(), BoxResult::kCancel);
  EXPECT_TRUE(answerer.answered);
  EXPECT_EQ(answerer.text, "Trials Completed Successfully");
  EXPECT_EQ(answerer.title, "Trial Processing");
}

TEST(QtMessageBoxesTest, CloseReleasesACallerWhoseBoxWasNeverShown) {
  TestApplication();
  QtMessageBoxes boxes;
  // The window thread does not run its loop: the box cannot be shown.
  auto caller = std::async(std::launch::async, [&] {
    return boxes.Show("Continue?", "Question", BoxIcon::kQuestion, BoxButtons::kYesNo);
  });
  EXPECT_EQ(caller.wait_for(50ms), std::future_status::timeout);
  boxes.Close();
  ASSERT_EQ(caller.wait_for(10s), std::future_status::ready);
  EXPECT_EQ(caller.get(), BoxResult::kNo);
  // Later callers on other threads are answered at once; the dropped box
  // never appears.
  auto late = std::async(std::launch::async, [&] { return boxes.Show("Late"); });
  ASSERT_EQ(late.wait_for(10s), std::future_status::ready);
  EXPECT_EQ(late.get(), BoxResult::kOk);
  Pump();
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

}  // namespace
}  // namespace orvanta::testing
