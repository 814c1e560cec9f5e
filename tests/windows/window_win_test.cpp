// What the window does on Windows alone: its setting in an INI file beside
// the log (never the registry), a writable folder for its files, drive-letter
// paths through its file fields and dialogs, and the shell's opener.
#include <QCheckBox>
#include <QCoreApplication>
#include <QFileDialog>
#include <QPushButton>
#include <QSettings>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/app_folders.h"
#include "app/qt_file_chooser.h"
#include "app/qt_shell_opener.h"
#include "app/window_records.h"
#include "app_test_support.h"
// Last: its macros (CreateWindow) would rename the fixture's members.
#include <windows.h>

namespace orvanta::testing {
namespace {

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string Native(std::string path) {
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

bool RegistryKeyExists(const char* key) {
  HKEY opened = nullptr;
  if (::RegOpenKeyExA(HKEY_CURRENT_USER, key, 0, KEY_READ, &opened) != ERROR_SUCCESS) return false;
  ::RegCloseKey(opened);
  return true;
}

TEST(WindowSettingsTest, TheRecordsFolderGoesToAnIniBesideTheLogNotToTheRegistry) {
  TestApplication();
  // As the program names itself at start-up.
  QCoreApplication::setOrganizationName(QStringLiteral("Orvanta"));
  QCoreApplication::setApplicationName(QStringLiteral("Orvanta"));
  ProgramEnv env(ProgramEnv::Options{.logFile = false});
  TempDir dir;
  const std::string appDir = Native(dir.path()) + "\\";
  TempDir chosen;
  const std::string sessions = Native(chosen.path()) + "\\Lab Data";
  std::filesystem::create_directory(sessions);
  {
    WindowRecords records(env.trials, env.deck, env.config, env.log, env.clock, env.shell, appDir);
    EXPECT_EQ(records.folder(), appDir + "OrvantaSessions");
    std::string error;
    ASSERT_TRUE(records.SetFolder(sessions, error)) << error;
  }
  const std::string ini = Slurp(appDir + "Orvanta.ini");
  EXPECT_NE(ini.find("[SessionRecords]"), std::string::npos) << ini;
  EXPECT_NE(ini.find("Folder="), std::string::npos) << ini;
  // A later start in the same folder finds it; one elsewhere does not.
  WindowRecords later(env.trials, env.deck, env.config, env.log, env.clock, env.shell, appDir);
  EXPECT_EQ(later.folder(), sessions);
  TempDir other;
  const std::string otherDir = Native(other.path()) + "\\";
  WindowRecords elsewhere(env.trials, env.deck, env.config, env.log, env.clock, env.shell,
                          otherDir);
  EXPECT_EQ(elsewhere.folder(), otherDir + "OrvantaSessions");
  EXPECT_FALSE(RegistryKeyExists("Software\\Orvanta"));
}

TEST(WindowFoldersTest, AFolderThatCannotBeWrittenGivesWayToDocumentsOrvanta) {
  TestApplication();
  TempDir documents;
  const std::string docs = Native(documents.path());
  // Writable: the working folder itself.
  EXPECT_EQ(UsableApplicationDirectory(docs + "\\", docs), docs + "\\");
  EXPECT_FALSE(std::filesystem::exists(docs + "\\Orvanta"));
  // A folder that cannot take a file (here one that is not there) stands in
  // for a program folder under a read-only Program Files.
  EXPECT_EQ(UsableApplicationDirectory(docs + "\\Program Files\\Orvanta\\", docs),
            docs + "\\Orvanta\\");
  EXPECT_TRUE(std::filesystem::is_directory(docs + "\\Orvanta"));
  // No place to fall back to: the working folder, whose log reports why.
  EXPECT_EQ(UsableApplicationDirectory("Q:\\missing\\", ""), "Q:\\missing\\");
  // Nothing is left behind by the check.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(docs),
                          std::filesystem::directory_iterator()),
            1);
}

// The window's file fields take what a Windows user types or picks: a
// drive, spaces and backslashes, kept through a save and an open.
TEST_F(DialogTest, DriveLetterPathsStayWholeThroughTheFieldsAndTheSetupFile) {
  Click(Find<QPushButton>("addTypeButton"));
  Click(Find<QCheckBox>("playWavFileCheck"));
  EnterText(Edit("wavFileNameEdit"), QStringLiteral("C:\\Lab Sounds\\tone 1.wav"));
  files.QueueAnswer(std::string("D:\\Stimuli\\tone 2.wav"));
  Click(Find<QPushButton>("browseButton"));
  EXPECT_EQ(TrialNamed("Trial Type 1")->GetWavFileName(), "D:\\Stimuli\\tone 2.wav");
  EnterText(Edit("wavFileNameEdit"), QStringLiteral("C:\\Lab Sounds\\tone 1.wav"));

  const std::string saved = Native(dir.path()) + "\\My Setups\\tone.cfg";
  std::filesystem::create_directory(Native(dir.path()) + "\\My Setups");
  files.QueueAnswer(saved);
  Menu("saveConfigurationFileAction");
  ASSERT_TRUE(boxes.boxes().empty());
  EXPECT_NE(Slurp(saved).find("-SetWavFileName \"Trial Type 1\" \"C:\\Lab Sounds\\tone 1.wav\""),
            std::string::npos)
      << Slurp(saved);

  Menu("newSetupAction");
  ASSERT_EQ(trials.GetNumTrials(), 0);
  files.QueueAnswer(saved);
  Menu("openConfigurationFileAction");
  EXPECT_TRUE(boxes.boxes().empty());
  ASSERT_NE(TrialNamed("Trial Type 1"), nullptr);
  EXPECT_EQ(TrialNamed("Trial Type 1")->GetWavFileName(), "C:\\Lab Sounds\\tone 1.wav");
}

// Qt's dialogs answer with '/', the program hands on '\'.
TEST(QtFileChooserWinTest, AnswersWithTheDriveAndBackslashes) {
  TestApplication();
  TempDir dir;
  const std::string folder = Native(dir.path());
  std::ofstream(folder + "\\setup one.cfg") << "#\r\n";
  QtFileChooser chooser;
  WhenModalOpens([&](QWidget* modal) {
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    ASSERT_NE(dialog, nullptr);
    dialog->selectFile(QString::fromStdString(dir.path() + "/setup one.cfg").replace('\\', '/'));
    static_cast<QDialog*>(dialog)->accept();  // as its Open button does
  });
  const std::optional<std::string> file =
      chooser.ChooseFileToOpen({"Open", "Configuration Files (*.cfg)|*.cfg|", "*.cfg", "cfg"});
  ASSERT_TRUE(file.has_value());
  EXPECT_EQ(*file, folder + "\\setup one.cfg");
  ASSERT_EQ(file->find(':'), 1u);

  WhenModalOpens([&](QWidget* modal) {
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    ASSERT_NE(dialog, nullptr);
    dialog->selectFile(QString::fromStdString(folder).replace('\\', '/'));
    static_cast<QDialog*>(dialog)->accept();  // as its Open button does
  });
  EXPECT_EQ(chooser.ChooseFolder("Session Records Folder", folder), folder);
}

// View Log File through ShellExecute: its results, without starting a viewer.
TEST(QtShellOpenerWinTest, TheShellsResultsComeBackAsTheyAre) {
  TestApplication();
  TempDir dir;
  const std::string folder = Native(dir.path());
  QtShellOpener shell;
  EXPECT_EQ(shell.Open(folder + "\\OrvantaLogFile.txt"), kShellFileNotFound);
  const std::string unknown = folder + "\\record.orvanta-no-such-type";
  std::ofstream(unknown) << "x";
  EXPECT_EQ(shell.Open(unknown), kShellNoAssociation);
}

}  // namespace
}  // namespace orvanta::testing
