#include "app/run_panel.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <algorithm>
#include <string>
#include <vector>

#include "app/digits.h"
#include "app/digits_line_edit.h"
#include "app/edit_rules.h"
#include "app/run_status_bar.h"
#include "app/window_controls.h"
#include "app/window_texts.h"
#include "log/log_file.h"
#include "trials/card_deck.h"
#include "trials/trial.h"
#include "trials/trial_container.h"

namespace orvanta {
namespace {

// Positions listed in the shuffle warning; more are counted.
constexpr size_t kListedBreaks = 20;

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

RunPanel::RunPanel(TrialContainer& trials, CardDeck& deck, LogFile& log, EditRules& rules,
                   QWidget* parent)
    : QGroupBox(QStringLiteral("Trial List Properties"), parent),
      trials_(trials),
      deck_(deck),
      log_(log),
      rules_(rules) {
  NameControl(this, ctl::kTrialListPropertiesGroup);
  auto* layout = new QVBoxLayout(this);
  BuildShuffleRow(layout);

  auto* trialListGroup = MakeGroup("Trial List", ctl::kTrialListGroup);
  auto* trialListLayout = new QVBoxLayout(trialListGroup);
  trialList_ = MakeListBox(ctl::kTrialList);
  trialList_->setMinimumSize(230, 100);
  trialListLayout->addWidget(trialList_);
  layout->addWidget(trialListGroup, 1);

  BuildNumberRow(layout);

  auto* runRow = new QHBoxLayout;
  start_ = MakeButton("Start", ctl::kStartButton);
  pause_ = MakeButton("Pause", ctl::kPauseButton);
  stop_ = MakeButton("Stop", ctl::kStopButton);
  runRow->addWidget(start_);
  runRow->addWidget(pause_);
  runRow->addWidget(stop_);
  layout->addLayout(runRow);

  // Placed by the window, at its foot.
  statusBar_ = new RunStatusBar([this] { return trials_.GetRunProgress(); });

  rules_.Watch(maxConsecutive_, [this] { CommitMaxConsecutive(); });
  // Committed as the editor's fields are: on Enter and when it loses the
  // focus.
  rules_.Watch(
      timingTolerance_, [this] { CommitTimingTolerance(); }, false);
  connect(shuffle_, &QPushButton::clicked, this, [this] { Shuffle(); });
  connect(shuffleType_, &QComboBox::activated, this, [this] { emit shuffleTypeChosen(); });
  connect(start_, &QPushButton::clicked, this, [this] { emit startClicked(); });
  connect(pause_, &QPushButton::clicked, this, [this] { emit pauseClicked(); });
  connect(stop_, &QPushButton::clicked, this, [this] { emit stopClicked(); });
  ShowTimingTolerance();
}

void RunPanel::BuildShuffleRow(QBoxLayout* layout) {
  auto* grid = new QGridLayout;
  shuffleType_ = Named(new QComboBox, ctl::kShuffleTypeCombo);
  shuffleType_->setMinimumWidth(90);
  shuffle_ = MakeButton("Shuffle", ctl::kShuffleButton);
  maxConsecutiveLabel_ = MakeLabel("Max Consecutive Type Count", ctl::kMaxConsecutiveLabel);
  maxConsecutive_ = Named(new DigitsLineEdit, ctl::kMaxConsecutiveEdit);
  maxConsecutive_->setFixedWidth(60);
  grid->addWidget(MakeLabel("Shuffle Type", ctl::kShuffleTypeLabel), 0, 0);
  grid->addWidget(shuffleType_, 0, 1);
  grid->addWidget(shuffle_, 0, 2);
  grid->addWidget(maxConsecutiveLabel_, 1, 0, 1, 2);
  grid->addWidget(maxConsecutive_, 1, 2);
  layout->addLayout(grid);
}

void RunPanel::BuildNumberRow(QBoxLayout* layout) {
  auto* row = new QHBoxLayout;
  currentTrialNumber_ = Named(new QLabel(QStringLiteral("0")), ctl::kCurrentTrialNumberText);
  currentTrialNumber_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  currentTrialNumber_->setMinimumWidth(70);
  row->addWidget(MakeLabel("Current Trial Number", ctl::kCurrentTrialNumberLabel));
  row->addWidget(currentTrialNumber_);
  row->addStretch(1);
  // How far a step of the run may stray before its verdict says so.
  timingTolerance_ = Named(new DigitsLineEdit, ctl::kTimingToleranceEdit);
  timingTolerance_->setMaximumWidth(70);
  timingTolerance_->setToolTip(
      QStringLiteral("Timing tolerance of the next run, in ms: a step further than this from its "
                     "plan (fixed schedule) or nominal value (relative) puts the run's timing "
                     "outside the tolerance, and its verdict says so."));
  row->addWidget(MakeLabel("Tolerance (ms)", ctl::kTimingToleranceLabel));
  row->addWidget(timingTolerance_);
  layout->addLayout(row);
}

void RunPanel::Init() {
  {
    const QSignalBlocker blocker(shuffleType_);
    shuffleType_->clear();
    shuffleType_->addItem(QStringLiteral("Normal"));
    shuffleType_->addItem(QStringLiteral("Group"));
    shuffleType_->setCurrentIndex(1);
  }
  UpdateShuffleControls();
  start_->setEnabled(true);
  stop_->setEnabled(false);
  pause_->setEnabled(false);
  currentTrialNumber_->setText(QStringLiteral("0"));
}

void RunPanel::UpdateTrialList() {
  // Reads the deck's order without its deal cursor, which belongs to a run
  // that may be dealing from it.
  const std::vector<int32_t> order = deck_.GetOrder();
  trialList_->setUpdatesEnabled(false);
  trialList_->clear();
  for (size_t i = 0; i < order.size(); ++i) {
    Trial* trial = nullptr;
    if (trials_.GetTrial(order[i], trial) != 0 || trial == nullptr) continue;
    const int position = static_cast<int>(i) + 1;
    auto* item = new QListWidgetItem(Q(FormatNumber(position) + ".  " + trial->GetName()));
    item->setData(Qt::UserRole, position);
    trialList_->addItem(item);
  }
  trialList_->setUpdatesEnabled(true);
}

void RunPanel::UpdateShuffleControls() {
  EditRules::Hold hold(rules_);
  const QSignalBlocker blocker(shuffleType_);
  if (deck_.GetShuffleType() != Normal) {
    shuffleType_->setCurrentIndex(shuffleType_->findText(QStringLiteral("Group")));
    maxConsecutive_->clear();
    maxConsecutive_->setEnabled(false);
    maxConsecutiveLabel_->setEnabled(false);
  } else {
    shuffleType_->setCurrentIndex(shuffleType_->findText(QStringLiteral("Normal")));
    maxConsecutive_->setText(Q(FormatNumber(deck_.GetMaxConsectutiveSameSuitCards())));
    maxConsecutive_->setEnabled(true);
    maxConsecutiveLabel_->setEnabled(true);
  }
  // The run settings a setup file carries show with its shuffle settings.
  ShowTimingTolerance();
}

void RunPanel::ShowTimingTolerance() {
  const QSignalBlocker blocker(timingTolerance_);
  timingTolerance_->setText(Q(FormatNumber(trials_.GetTimingTolerance())));
}

// A number applies from the next run; an empty field gets the tolerance in
// force back.
void RunPanel::CommitTimingTolerance() {
  const std::string text = timingTolerance_->text().toStdString();
  if (text.empty() || DigitsFieldOverflows(text)) {
    ShowTimingTolerance();
    return;
  }
  const int32_t ms = ParseDigitsField(text);
  if (ms == trials_.GetTimingTolerance()) return;
  trials_.SetTimingTolerance(ms);
  ShowTimingTolerance();
  log_.WriteLogEntry(kLogNotice,
                     "OrvantaDlg::OnTimingToleranceChanged() - Timing "
                     "tolerance set to " +
                         FormatNumber(trials_.GetTimingTolerance()) +
                         " ms; it applies from the next run.");
}

void RunPanel::ApplyShuffleType() {
  const bool normal = shuffleType_->currentText() == QStringLiteral("Normal");
  // The type in force chosen again: the deck (and a shuffled or loaded
  // order) stays as it is.
  if ((normal ? Normal : Group) == deck_.GetShuffleType()) return;
  deck_.SetShuffleType(normal ? Normal : Group);
  UpdateShuffleControls();
  UpdateTrialList();
}

void RunPanel::CommitMaxConsecutive() {
  const std::string text = S(maxConsecutive_->text());
  if (text.empty()) {
    maxConsecutive_->setText(Q(FormatNumber(deck_.GetMaxConsectutiveSameSuitCards())));
    rules_.ShowErrorAfterCommit(kEmptyFieldMessage, maxConsecutive_);
    return;
  }
  if (rules_.RefuseOverRange(maxConsecutive_, text,
                             FormatNumber(deck_.GetMaxConsectutiveSameSuitCards()))) {
    return;
  }
  if (deck_.SetMaxConsectutiveSameSuitCards(ParseDigitsField(text)) != 0) {
    // Refused (below 1; the deck logged why): show the limit still in force.
    maxConsecutive_->setText(Q(FormatNumber(deck_.GetMaxConsectutiveSameSuitCards())));
  }
}

void RunPanel::Shuffle() {
  const int result = deck_.Shuffle();  // a failed repair is also logged
  UpdateTrialList();
  if (result != 0) ShowShuffleWarning();
}

void RunPanel::ShowCurrentTrialNumber(int number) {
  currentTrialNumber_->setText(Q(FormatNumber(number)));
  for (int row = 0; row < trialList_->count(); ++row) {
    if (trialList_->item(row)->data(Qt::UserRole).toInt() == number) {
      trialList_->setCurrentRow(row, QItemSelectionModel::ClearAndSelect);
      trialList_->scrollToItem(trialList_->item(row));
      return;
    }
  }
}

void RunPanel::ShowShuffleWarning(bool afterShuffle) {
  const std::vector<int32_t> breaks = deck_.GetRunLimitBreaks();
  if (breaks.empty()) return;
  const std::string limit = LimitText(deck_.GetMaxConsectutiveSameSuitCards());
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
  rules_.boxes().Show(text, "Shuffle", BoxIcon::kWarning, BoxButtons::kOk);
}

void RunPanel::NoteRunLimitBreaks() {
  const std::vector<int32_t> breaks = deck_.GetRunLimitBreaks();
  if (breaks.empty()) return;
  const std::string text =
      "The trial order does not keep to " + LimitText(deck_.GetMaxConsectutiveSameSuitCards()) +
      ": it breaks the rule at " + ListPositions(breaks) + ".  Shuffle before the run.";
  log_.WriteLogEntry(kLogWarning, "OrvantaDlg::OnTrialCountChanged() - Warning, " + text);
  statusBar_->ShowNote(QString::fromStdString(text), 15000);
}

void RunPanel::ShowRunning() {
  start_->setEnabled(false);
  stop_->setEnabled(true);
  pause_->setEnabled(true);
  pause_->setText(QStringLiteral("Pause"));
  shuffle_->setEnabled(false);
}

void RunPanel::ShowStopping() {
  stop_->setEnabled(false);
  pause_->setEnabled(false);
}

void RunPanel::ShowIdle() {
  pause_->setText(QStringLiteral("Pause"));
  start_->setEnabled(true);
  stop_->setEnabled(false);
  pause_->setEnabled(false);
  shuffle_->setEnabled(true);
}

void RunPanel::ShowPaused(bool paused) {
  pause_->setText(paused ? QStringLiteral("Resume") : QStringLiteral("Pause"));
}

}  // namespace orvanta
