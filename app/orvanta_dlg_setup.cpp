// The main window's File > New Setup and Exit, the Run menu, the menu
// shortcuts, the warning of a shuffle that could not keep the limit, and the
// refusal of values beyond a digits field's range.
#include <QAction>
#include <QKeySequence>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>

#include <algorithm>

#include "app/digits.h"
#include "app/orvanta_dlg.h"
#include "app/run_status_bar.h"
#include "app/window_records.h"
#include "log/log_file.h"
#include "script/config_file_processor.h"
#include "trials/card_deck.h"
#include "trials/trial_container.h"

namespace orvanta {
namespace {

constexpr const char kNewSetupDuringRunMessage[] =
    "Unable to start a new setup while trials are being processed.  The setup of the run was not "
    "changed.  Stop the run first.";
constexpr const char kOverRangeMessage[] =
    "Unable to set new value, the number is too large for this field (at most 2147483647).  The "
    "previous value was not changed.";
// Positions listed in the shuffle warning; more are counted.
constexpr size_t kListedBreaks = 20;

QString Q(const std::string& text) { return QString::fromStdString(text); }

QAction* AddCommand(QMenu* menu, const char* text, const char* name, const QKeySequence& keys) {
  auto* action = new QAction(QString::fromLatin1(text), menu);
  action->setObjectName(QString::fromLatin1(name));
  if (!keys.isEmpty()) action->setShortcut(keys);
  return action;
}

}  // namespace

void OrvantaDlg::AddMenuAdditions() {
  QMenu* file = mMenu->findChild<QMenu*>(QStringLiteral("fileMenu"));
  QMenu* help = mMenu->findChild<QMenu*>(QStringLiteral("helpMenu"));
  auto action = [this](const char* name) {
    return mMenu->findChild<QAction*>(QString::fromLatin1(name));
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
  QAction* exit = AddCommand(file, "Exit", "exitAction", QKeySequence(QStringLiteral("Ctrl+Q")));
  file->addAction(exit);

  // Start at Trial... heads the Run menu.
  QMenu* run = mMenu->findChild<QMenu*>(QStringLiteral("runMenu"));
  if (run == nullptr) {
    run = new QMenu(QStringLiteral("&Run"), mMenu);
    run->setObjectName(QStringLiteral("runMenu"));
    mMenu->insertMenu(help->menuAction(), run);
  }
  QAction* startAt = AddCommand(run, "Start at Trial...", "startAtTrialAction", QKeySequence());
  QAction* firstRunItem = run->actions().isEmpty() ? nullptr : run->actions().first();
  run->insertAction(firstRunItem, startAt);
  if (firstRunItem != nullptr) run->insertSeparator(firstRunItem);

  // Like the other commands, each runs once its menu has closed.
  const std::pair<QAction*, void (OrvantaDlg::*)()> handlers[] = {
      {newSetup, &OrvantaDlg::OnNewSetup},
      {exit, &OrvantaDlg::OnExit},
      {startAt, &OrvantaDlg::OnStartAtTrial},
  };
  for (const auto& [command, handler] : handlers) {
    connect(
        command, &QAction::triggered, this, [this, handler = handler] { (this->*handler)(); },
        Qt::QueuedConnection);
  }
}

void OrvantaDlg::OnNewSetup() {
  if (RunInProgress()) {
    ShowRunRefusal(kNewSetupDuringRunMessage);
    return;
  }
  const int32_t numTypes = services_.trials.GetNumTrials();
  if (HasUnsavedChanges()) {
    const std::string question =
        "The current setup has changes that have not been saved.  Its " + FormatNumber(numTypes) +
        (numTypes == 1 ? " trial type" : " trial types") +
        " and the trial order will be cleared.\r\n\r\nClear the setup and start a new one?";
    if (services_.boxes.Show(question, "New Setup", BoxIcon::kQuestion, BoxButtons::kYesNo) !=
        BoxResult::kYes) {
      return;
    }
  }
  services_.config.ClearSetup();
  if (mRecords != nullptr) mRecords->SetupCleared();
  // The trial list's removals reach the window now, not after the refresh.
  FlushPending();
  UpdateTrialProperties(std::string());
  UpdateShuffleControls();
  mRemoveTypeButton->setEnabled(false);
  MarkSetupSaved();
  // The last run's progress belongs to the setup it ran.
  mStatusBar->ClearRun();
}

void OrvantaDlg::OnExit() { close(); }

void OrvantaDlg::MarkSetupSaved() { mSavedSetup = services_.config.GetSetupLines(); }

bool OrvantaDlg::HasUnsavedChanges() {
  return services_.trials.GetNumTrials() > 0 && services_.config.GetSetupLines() != mSavedSetup;
}

bool OrvantaDlg::RefuseOverRange(QLineEdit* edit, const std::string& text,
                                 const std::string& previous) {
  if (!DigitsFieldOverflows(text)) return false;
  edit->setText(Q(previous));
  ShowErrorAfterCommit(kOverRangeMessage, edit);
  return true;
}

namespace {

// "2, 5 and 9", at most kListedBreaks positions, the rest counted.
std::string ListPositions(const std::vector<int32_t>& breaks) {
  std::string positions;
  const size_t listed = std::min(breaks.size(), kListedBreaks);
  for (size_t i = 0; i < listed; ++i) {
    if (i > 0) positions += (i + 1 == listed && listed == breaks.size()) ? " and " : ", ";
    positions += FormatNumber(breaks[i]);
  }
  if (listed < breaks.size()) {
    positions += " and " + FormatNumber(static_cast<int32_t>(breaks.size() - listed)) + " more";
  }
  return (breaks.size() == 1 ? "trial " : "trials ") + positions;
}

std::string LimitText(int32_t limit) {
  return "the limit of " + FormatNumber(limit) + (limit == 1 ? " trial" : " trials") +
         " of one type in a row";
}

}  // namespace

void OrvantaDlg::ShowShuffleWarning(bool afterShuffle) {
  const std::vector<int32_t> breaks = services_.deck.GetRunLimitBreaks();
  if (breaks.empty()) return;
  const std::string limit = LimitText(services_.deck.GetMaxConsectutiveSameSuitCards());
  const std::string where = ListPositions(breaks) +
                            " of the Trial List: each makes a run of one type longer than the "
                            "limit.\r\n\r\n";
  const std::string text =
      afterShuffle
          ? "The shuffle could not keep to " + limit +
                ".\r\n\r\nThe order kept is the best one found.  It breaks the rule at " + where +
                "Shuffle again, raise the Max Consecutive Type Count, or change the trial counts."
          : "The trial order of the setup does not keep to " + limit +
                ".\r\n\r\nIt breaks the rule at " + where +
                "Shuffle, raise the Max Consecutive Type Count, or change the trial counts.";
  services_.boxes.Show(text, "Shuffle", BoxIcon::kWarning, BoxButtons::kOk);
}

void OrvantaDlg::NoteRunLimitBreaks() {
  const std::vector<int32_t> breaks = services_.deck.GetRunLimitBreaks();
  if (breaks.empty()) return;
  const std::string text = "The trial order does not keep to " +
                           LimitText(services_.deck.GetMaxConsectutiveSameSuitCards()) +
                           ": it breaks the rule at " + ListPositions(breaks) +
                           ".  Shuffle before the run.";
  services_.log.WriteLogEntry(kLogWarning, "OrvantaDlg::OnTrialCountChanged() - Warning, " + text);
  mStatusBar->ShowNote(QString::fromStdString(text), 15000);
}

}  // namespace orvanta
