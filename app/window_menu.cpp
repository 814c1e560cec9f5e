#include "app/window_menu.h"

#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>

#include <string>
#include <utility>

#include "app/control_ids.h"
#include "app/window_controls.h"
#include "log/log_file.h"
#include "trials/trial_container.h"

namespace orvanta {
namespace {

QAction* AddAction(QMenu* menu, const char* text, const ctl::ControlName& control) {
  QAction* action = menu->addAction(QString::fromLatin1(text));
  action->setObjectName(QString::fromLatin1(control.name));
  action->setProperty("commandId", control.id);
  return action;
}

QAction* AddCommand(QMenu* menu, const char* text, const char* name, const QKeySequence& keys) {
  auto* action = new QAction(QString::fromLatin1(text), menu);
  action->setObjectName(QString::fromLatin1(name));
  if (!keys.isEmpty()) action->setShortcut(keys);
  return action;
}

}  // namespace

WindowMenu::WindowMenu(TrialContainer& trials, LogFile& log, QWidget* window)
    : QObject(window), trials_(trials), log_(log), window_(window) {}

bool WindowMenu::Create() {
  bar_ = Named(new QMenuBar(window_), ctl::kMenuBar);
  QMenu* file = Named(bar_->addMenu(QStringLiteral("&File")), ctl::kFileMenu);
  AddAction(file, "Open Configuration File", ctl::kOpenConfigurationFileAction);
  AddAction(file, "Save Configuration File", ctl::kSaveConfigurationFileAction);
  file->addSeparator();
  AddAction(file, "Resume Session...", ctl::kResumeSessionAction);
  AddAction(file, "Session Records Folder...", ctl::kRecordsFolderAction);
  file->addSeparator();
  AddAction(file, "View Log File", ctl::kViewLogFileAction);
  QMenu* view = Named(bar_->addMenu(QStringLiteral("V&iew")), ctl::kViewMenu);
  AddAction(view, "Last Session Report", ctl::kLastSessionReportAction);
  QMenu* vintra = Named(bar_->addMenu(QStringLiteral("&Vintra")), ctl::kVintraMenu);
  AddAction(vintra, "Connect To Server", ctl::kConnectToServerAction);
  AddAction(vintra, "Disconnect From Server", ctl::kDisconnectFromServerAction);
  AddAction(vintra, "Set Server Name", ctl::kSetServerNameAction);
  AddFixedSchedule();
  QMenu* help = Named(bar_->addMenu(QStringLiteral("&Help")), ctl::kHelpMenu);
  AddAction(help, "About Orvanta...", ctl::kAboutAction);

  // The commands run once the menu has closed.
  const std::pair<const ctl::ControlName*, void (WindowMenu::*)()> commands[] = {
      {&ctl::kOpenConfigurationFileAction, &WindowMenu::openConfigurationFile},
      {&ctl::kSaveConfigurationFileAction, &WindowMenu::saveConfigurationFile},
      {&ctl::kViewLogFileAction, &WindowMenu::viewLogFile},
      {&ctl::kResumeSessionAction, &WindowMenu::resumeSession},
      {&ctl::kRecordsFolderAction, &WindowMenu::chooseRecordsFolder},
      {&ctl::kLastSessionReportAction, &WindowMenu::viewLastSessionReport},
      {&ctl::kConnectToServerAction, &WindowMenu::connectToServer},
      {&ctl::kDisconnectFromServerAction, &WindowMenu::disconnectFromServer},
      {&ctl::kSetServerNameAction, &WindowMenu::setServerName},
      {&ctl::kAboutAction, &WindowMenu::about},
  };
  for (const auto& [control, command] : commands) {
    QAction* action = bar_->findChild<QAction*>(QString::fromLatin1(control->name));
    if (action == nullptr) return false;
    connect(action, &QAction::triggered, this, command, Qt::QueuedConnection);
  }
  AddAdditions();
  return true;
}

// Run > Fixed Schedule: the timing of the next run. It shows the model's
// mode each time the menu opens, so a setup file's -SetTimingMode shows.
void WindowMenu::AddFixedSchedule() {
  QMenu* run = Named(bar_->addMenu(QStringLiteral("&Run")), ctl::kRunMenu);
  QAction* fixed = AddAction(run, "Fixed Schedule", ctl::kFixedScheduleAction);
  fixed->setCheckable(true);
  connect(run, &QMenu::aboutToShow, this,
          [this, fixed] { fixed->setChecked(trials_.GetTimingMode() == TimingMode::kFixed); });
  connect(fixed, &QAction::triggered, this, [this](bool checked) {
    trials_.SetTimingMode(checked ? TimingMode::kFixed : TimingMode::kRelative);
    log_.WriteLogEntry(kLogNotice,
                       std::string("OrvantaDlg::OnFixedSchedule() - Timing mode set to ") +
                           TimingModeName(trials_.GetTimingMode()) +
                           "; it applies from the next run.");
  });
}

void WindowMenu::AddAdditions() {
  QMenu* file = bar_->findChild<QMenu*>(QStringLiteral("fileMenu"));
  QMenu* help = bar_->findChild<QMenu*>(QStringLiteral("helpMenu"));
  auto action = [this](const char* name) {
    return bar_->findChild<QAction*>(QString::fromLatin1(name));
  };
  QAction* open = action("openConfigurationFileAction");
  QAction* save = action("saveConfigurationFileAction");
  if (file == nullptr || help == nullptr || open == nullptr || save == nullptr) return;
  open->setShortcut(QKeySequence(QStringLiteral("Ctrl+O")));
  save->setShortcut(QKeySequence(QStringLiteral("Ctrl+S")));

  QAction* newSetup =
      AddCommand(file, "New Setup", "newSetupAction", QKeySequence(QStringLiteral("Ctrl+N")));
  file->insertAction(open, newSetup);
  file->addSeparator();
  QAction* exitAction =
      AddCommand(file, "Exit", "exitAction", QKeySequence(QStringLiteral("Ctrl+Q")));
  file->addAction(exitAction);

  // Start at Trial... heads the Run menu.
  QMenu* run = bar_->findChild<QMenu*>(QStringLiteral("runMenu"));
  if (run == nullptr) {
    run = new QMenu(QStringLiteral("&Run"), bar_);
    run->setObjectName(QStringLiteral("runMenu"));
    bar_->insertMenu(help->menuAction(), run);
  }
  QAction* startAt = AddCommand(run, "Start at Trial...", "startAtTrialAction", QKeySequence());
  QAction* firstRunItem = run->actions().isEmpty() ? nullptr : run->actions().first();
  run->insertAction(firstRunItem, startAt);
  if (firstRunItem != nullptr) run->insertSeparator(firstRunItem);

  // Like the other commands, each runs once its menu has closed.
  connect(newSetup, &QAction::triggered, this, &WindowMenu::newSetup, Qt::QueuedConnection);
  connect(exitAction, &QAction::triggered, this, &WindowMenu::exit, Qt::QueuedConnection);
  connect(startAt, &QAction::triggered, this, &WindowMenu::startAtTrial, Qt::QueuedConnection);
}

void WindowMenu::Release() {
  delete bar_;
  bar_ = nullptr;
}

}  // namespace orvanta
