// The window's parts on their own: the edge panel writes only its side of
// the trial type, and the menu object hands each command on as its signal
// once the menu has closed.
#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>

#include <memory>

#include "app/edge_panel.h"
#include "app/edit_rules.h"
#include "app/trial_field_table.h"
#include "app/window_menu.h"
#include "app_test_support.h"

namespace orvanta::testing {
namespace {

class EdgePanelTest : public DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    trial = AddType("Edge", 1, 100, 100);
    ASSERT_NE(trial, nullptr);
  }
  std::unique_ptr<EdgePanel> MakePanel(const EdgeSideUi& side) {
    auto panel = std::make_unique<EdgePanel>(
        side, TrialEditLink{rules, [this] { return trial; }, [this] { ++changes; }});
    panel->Show(*trial);
    return panel;
  }
  template <class T>
  static T* In(QWidget* panel, const char* name) {
    T* widget = panel->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }

  EditRules rules{boxes};
  Trial* trial = nullptr;
  int changes = 0;
};

// The end panel's switch and fields write the end of the trial; the start
// stays as it was.
TEST_F(EdgePanelTest, EndPanelWritesTheEndOfTheTrialOnly) {
  std::unique_ptr<EdgePanel> panel = MakePanel(kEndOfTrialUi);
  EXPECT_EQ(panel->objectName(), "endOfTrialGroup");
  EXPECT_EQ(panel->title(), "End of Trial");
  auto* pulse = In<QCheckBox>(panel.get(), "endGenerateTtlPulseCheck");
  EXPECT_EQ(pulse->property("controlId").toInt(), 1051);
  EXPECT_FALSE(In<QLineEdit>(panel.get(), "endBitNumberEdit")->isEnabled());
  pulse->click();
  EXPECT_TRUE(trial->GetEndOfTrialGenerateTTLPulse());
  EXPECT_FALSE(trial->GetStartOfTrialGenerateTTLPulse());
  EXPECT_EQ(changes, 1);

  panel->Show(*trial);
  QLineEdit* bit = In<QLineEdit>(panel.get(), "endBitNumberEdit");
  ASSERT_TRUE(bit->isEnabled());
  bit->setText("7");
  rules.Commit(bit);
  EXPECT_EQ(trial->GetEndOfTrialTTLPulseBitNumber(), 7);
  EXPECT_NE(trial->GetStartOfTrialTTLPulseBitNumber(), 7);
  EXPECT_EQ(changes, 2);
  EXPECT_EQ(In<QLabel>(panel.get(), "endBitNumberLabel")->text(), "Bit Number");
}

// A field the trial cannot take empty gets its value back, with the editor's
// box once the commit is over; nothing is written.
TEST_F(EdgePanelTest, EmptiedSubSystemNameIsRefusedAfterTheCommit) {
  trial->SetStartOfTrialGenerateTTLPulse(true);
  trial->SetStartOfTrialTTLPulseSubSystemName("Sub");
  std::unique_ptr<EdgePanel> panel = MakePanel(kStartOfTrialUi);
  QLineEdit* name = In<QLineEdit>(panel.get(), "startSubSystemNameEdit");
  name->clear();
  boxes.Clear();
  rules.Commit(name);
  EXPECT_EQ(name->text(), "Sub");
  EXPECT_EQ(changes, 0);
  EXPECT_TRUE(boxes.boxes().empty());
  Pump();
  const std::vector<ShownBox> shown = boxes.boxes();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, kEmptyFieldMessage);
  EXPECT_EQ(shown[0].caption, "Trial Type Properties Error");
  EXPECT_EQ(rules.lastMessage(), kEmptyFieldMessage);
}

using WindowMenuTest = DialogTest;

// Each command reaches its signal only once the event loop runs (the menu
// has closed by then), and once.
TEST_F(WindowMenuTest, CommandsAreSignalledAfterTheMenuHasClosed) {
  QWidget host;
  WindowMenu menu(trials, log, &host);
  ASSERT_TRUE(menu.Create());
  const std::pair<const char*, void (WindowMenu::*)()> commands[] = {
      {"openConfigurationFileAction", &WindowMenu::openConfigurationFile},
      {"saveConfigurationFileAction", &WindowMenu::saveConfigurationFile},
      {"viewLogFileAction", &WindowMenu::viewLogFile},
      {"resumeSessionAction", &WindowMenu::resumeSession},
      {"recordsFolderAction", &WindowMenu::chooseRecordsFolder},
      {"lastSessionReportAction", &WindowMenu::viewLastSessionReport},
      {"connectToServerAction", &WindowMenu::connectToServer},
      {"disconnectFromServerAction", &WindowMenu::disconnectFromServer},
      {"setServerNameAction", &WindowMenu::setServerName},
      {"aboutAction", &WindowMenu::about},
      {"newSetupAction", &WindowMenu::newSetup},
      {"exitAction", &WindowMenu::exit},
      {"startAtTrialAction", &WindowMenu::startAtTrial},
  };
  for (const auto& [name, signal] : commands) {
    QSignalSpy spy(&menu, signal);
    QAction* action = menu.bar()->findChild<QAction*>(QString::fromLatin1(name));
    ASSERT_NE(action, nullptr) << name;
    EXPECT_TRUE(action->isEnabled()) << name;
    action->trigger();
    EXPECT_EQ(spy.count(), 0) << name;
    Pump();
    EXPECT_EQ(spy.count(), 1) << name;
  }
  menu.Release();
  EXPECT_EQ(menu.bar(), nullptr);
  EXPECT_EQ(host.findChild<QMenuBar*>(), nullptr);
}

// Fixed Schedule is carried out by the menu itself and shows the model's
// mode whenever the Run menu opens.
TEST_F(WindowMenuTest, FixedScheduleFollowsTheModel) {
  QWidget host;
  WindowMenu menu(trials, log, &host);
  ASSERT_TRUE(menu.Create());
  QAction* fixed = menu.bar()->findChild<QAction*>("fixedScheduleAction");
  ASSERT_NE(fixed, nullptr);
  fixed->trigger();
  EXPECT_EQ(trials.GetTimingMode(), TimingMode::kFixed);
  trials.SetTimingMode(TimingMode::kRelative);
  emit menu.bar()->findChild<QMenu*>("runMenu")->aboutToShow();
  EXPECT_FALSE(fixed->isChecked());
}

}  // namespace
}  // namespace orvanta::testing
