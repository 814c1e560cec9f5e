// The start trigger's group in the start panel: a setup file fills it, each
// field writes the type's trigger, bad numbers get the editor's box, and the
// object's list is the server's once connected.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include <fstream>

#include "app/window_texts.h"
#include "sim_dialog_test.h"

namespace orvanta::testing {
namespace {

class StartTriggerTest : public DialogTest {
 protected:
  QComboBox* Combo(const char* name) { return Find<QComboBox>(name); }
  QCheckBox* Box() { return Find<QCheckBox>("startWaitForTriggerCheck"); }
  std::vector<QWidget*> Fields() {
    return {Combo("startTriggerObjectCombo"), Edit("startTriggerCountEdit"),
            Edit("startTriggerWindowEdit"), Edit("startTriggerTimeoutEdit"),
            Combo("startTriggerOnTimeoutCombo")};
  }
};

TEST_F(StartTriggerTest, ASetupLineFillsTheGroup) {
  const std::string setup = dir.WithSeparator() + "trigger.cfg";
  std::ofstream(setup, std::ios::binary)
      << "-AddTrial \"T\"\r\n-SetStartOfTrialTrigger \"T\" \"SE1\" 3 50 10000 Skip\r\n";
  files.QueueAnswer(setup);
  Menu("openConfigurationFileAction");
  EXPECT_TRUE(Box()->isChecked());
  for (QWidget* field : Fields())
    EXPECT_TRUE(field->isEnabled()) << field->objectName().toStdString();
  EXPECT_EQ(Combo("startTriggerObjectCombo")->currentText(), "SE1");
  EXPECT_EQ(Edit("startTriggerCountEdit")->text(), "3");
  EXPECT_EQ(Edit("startTriggerWindowEdit")->text(), "50");
  EXPECT_EQ(Edit("startTriggerTimeoutEdit")->text(), "10000");
  // Tab walks the group in layout order.
  std::vector<std::string> visited;
  Box()->setFocus(Qt::OtherFocusReason);
  for (int i = 0; i < 5; ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    visited.push_back(QApplication::focusWidget()->objectName().toStdString());
  }
  EXPECT_EQ(visited, (std::vector<std::string>{"startTriggerObjectCombo", "startTriggerCountEdit",
                                               "startTriggerWindowEdit", "startTriggerTimeoutEdit",
                                               "startTriggerOnTimeoutCombo"}));
  EXPECT_EQ(Combo("startTriggerOnTimeoutCombo")->currentText(), "Skip");
  EXPECT_EQ(Find<QLabel>("startTriggerOnTimeoutLabel")->text(), "On Time-out");
}

TEST_F(StartTriggerTest, EachFieldWritesTheTriggerAndTheBoxSwitchesIt) {
  Click(Find<QPushButton>("addTypeButton"));
  Trial* trial = TrialNamed("Trial Type 1");
  for (QWidget* field : Fields())
    EXPECT_FALSE(field->isEnabled()) << field->objectName().toStdString();
  Click(Box());
  EXPECT_EQ(Edit("startTriggerTimeoutEdit")->text(), "10000");
  // Tab walks the group in layout order.
  std::vector<std::string> visited;
  Box()->setFocus(Qt::OtherFocusReason);
  for (int i = 0; i < 5; ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    visited.push_back(QApplication::focusWidget()->objectName().toStdString());
  }
  EXPECT_EQ(visited, (std::vector<std::string>{"startTriggerObjectCombo", "startTriggerCountEdit",
                                               "startTriggerWindowEdit", "startTriggerTimeoutEdit",
                                               "startTriggerOnTimeoutCombo"}));

  // The object commits on Enter and on the loss of the focus.
  QComboBox* object = Combo("startTriggerObjectCombo");
  object->setFocus(Qt::OtherFocusReason);
  object->setEditText("SE1");
  QTest::keyClick(object, Qt::Key_Return);
  Pump();
  EXPECT_EQ(trial->GetStartTrigger().object, "SE1");
  object->setEditText("CSC2");
  Edit("startTriggerCountEdit")->setFocus(Qt::TabFocusReason);
  Pump();
  EnterText(Edit("startTriggerCountEdit"), "4");
  EnterText(Edit("startTriggerWindowEdit"), "25");
  EnterText(Edit("startTriggerTimeoutEdit"), "0");
  QComboBox* onTimeout = Combo("startTriggerOnTimeoutCombo");
  onTimeout->setFocus(Qt::OtherFocusReason);
  QTest::keyClick(onTimeout, Qt::Key_Down);
  Pump();
  const TrialTrigger written{true, "CSC2", 4, 25, 0, TriggerTimeout::kSkip};
  EXPECT_EQ(trial->GetStartTrigger(), written);
  EXPECT_TRUE(boxes.boxes().empty());

  // Off: only `enabled` changes; the fields are empty and greyed.
  Click(Box());
  TrialTrigger off = written;
  off.enabled = false;
  EXPECT_EQ(trial->GetStartTrigger(), off);
  for (QWidget* field : Fields())
    EXPECT_FALSE(field->isEnabled()) << field->objectName().toStdString();
  EXPECT_TRUE(Edit("startTriggerCountEdit")->text().isEmpty());
}

TEST_F(StartTriggerTest, ABadCountOrAnEmptyObjectGetsTheEditorsBox) {
  Click(Find<QPushButton>("addTypeButton"));
  Click(Box());
  Trial* trial = TrialNamed("Trial Type 1");
  EnterText(Edit("startTriggerCountEdit"), "0");
  ASSERT_EQ(boxes.boxes().size(), 1u);
  EXPECT_EQ(boxes.boxes()[0].text, kTriggerCountMessage);
  EXPECT_EQ(boxes.boxes()[0].caption, "Trial Type Properties Error");
  EXPECT_EQ(Edit("startTriggerCountEdit")->text(), "1");
  EXPECT_EQ(trial->GetStartTrigger().count, 1);

  boxes.Clear();
  QComboBox* object = Combo("startTriggerObjectCombo");
  object->setFocus(Qt::OtherFocusReason);
  QTest::keyClick(object, Qt::Key_Return);  // still empty as it came: no box
  object->setEditText("SE1");
  QTest::keyClick(object, Qt::Key_Return);
  object->setEditText("");
  QTest::keyClick(object, Qt::Key_Return);
  Pump();
  EXPECT_EQ(boxes.texts(), std::vector<std::string>{kEmptyFieldMessage});
  EXPECT_EQ(object->currentText(), "SE1");
  EXPECT_EQ(trial->GetStartTrigger().object, "SE1");
}

using StartTriggerServerTest = SimDialogTest;

// A trigger shown before the connect gets the server's objects once it is
// made, without touching the field's text; a disconnect takes the list away.
TEST_F(StartTriggerServerTest, TheObjectListIsTheServersWhileConnected) {
  Click(Find<QPushButton>("addTypeButton"));
  Click(Find<QCheckBox>("startWaitForTriggerCheck"));
  auto* object = Find<QComboBox>("startTriggerObjectCombo");
  EXPECT_EQ(object->count(), 0);
  ConnectThroughMenu();
  ASSERT_TRUE(RunUntil([&] { return object->count() > 0; }));
  std::vector<std::string> names, types;
  ASSERT_TRUE(client.GetObjectsAndTypes(names, types));
  std::vector<std::string> listed;
  listed.reserve(static_cast<size_t>(object->count()));
  for (int i = 0; i < object->count(); ++i) listed.push_back(object->itemText(i).toStdString());
  EXPECT_EQ(listed, names);
  EXPECT_TRUE(object->currentText().isEmpty());

  Menu("disconnectFromServerAction");
  EXPECT_EQ(object->count(), 0);
  EXPECT_TRUE(boxes.boxes().empty());
}

}  // namespace
}  // namespace orvanta::testing
