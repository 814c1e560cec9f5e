#include "app/trial_type_editor.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <algorithm>

#include "app/digits.h"
#include "app/digits_line_edit.h"
#include "app/edge_panel.h"
#include "app/edit_rules.h"
#include "app/trigger_group.h"
#include "app/wav_group.h"
#include "app/window_controls.h"
#include "app/window_texts.h"
#include "log/log_file.h"
#include "trials/card_deck.h"
#include "trials/trial.h"
#include "trials/trial_container.h"

namespace orvanta {

TrialTypeEditor::TrialTypeEditor(TrialContainer& trials, CardDeck& deck, LogFile& log,
                                 FileChooser& files, EditRules& rules, QWidget* parent)
    : QGroupBox(QStringLiteral("Trial Properties"), parent),
      trials_(trials),
      deck_(deck),
      log_(log),
      rules_(rules) {
  NameControl(this, ctl::kTrialPropertiesGroup);
  const TrialEditLink link{rules_, [this] { return CurrentTrial(); },
                           [this] { ShowType(currentName_); }};
  // The layouts' order is the tab order: the type list, the type's fields,
  // the wav file, then the start and the end of the trial.
  auto* layout = new QVBoxLayout(this);
  auto* top = new QHBoxLayout;
  top->addWidget(BuildTypeList());

  auto* fields = new QVBoxLayout;
  auto* basic = new QGridLayout;
  nameEdit_ = Named(new QLineEdit, ctl::kNameEdit);
  nameEdit_->setMinimumWidth(160);
  nameLabel_ = MakeLabel("Name", ctl::kNameLabel);
  countEdit_ = Named(new DigitsLineEdit, ctl::kTrialCountEdit);
  countLabel_ = MakeLabel("Trial Count", ctl::kTrialCountLabel);
  duration_ = std::make_unique<TrialFieldEdit>(kTrialDurationUi, link);
  interval_ = std::make_unique<TrialFieldEdit>(kInterTrialIntervalUi, link);
  const std::pair<QLabel*, QLineEdit*> rows[] = {{nameLabel_, nameEdit_},
                                                 {countLabel_, countEdit_},
                                                 {duration_->label(), duration_->edit()},
                                                 {interval_->label(), interval_->edit()}};
  int row = 0;
  for (const auto& [label, edit] : rows) {
    basic->addWidget(label, row, 0);
    basic->addWidget(edit, row++, 1);
  }
  fields->addLayout(basic);
  wav_ = new WavGroup(link, files);
  fields->addWidget(wav_);
  fields->addStretch(1);
  top->addLayout(fields, 1);
  layout->addLayout(top);

  start_ = new EdgePanel(kStartOfTrialUi, link);
  end_ = new EdgePanel(kEndOfTrialUi, link);
  start_->trigger()->SetObjectsWanted([this] { emit serverObjectsWanted(); });
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(start_);
  bottom->addWidget(end_);
  layout->addLayout(bottom);

  rules_.Watch(nameEdit_, [this] { CommitName(); });
  rules_.Watch(countEdit_, [this] { CommitTrialCount(); });
  // Signals of the user's actions; the program's own changes are made with
  // the signals blocked.
  connect(addType_, &QPushButton::clicked, this, [this] { AddType(); });
  connect(removeType_, &QPushButton::clicked, this, [this] { RemoveType(); });
  connect(typeList_, &QListWidget::itemSelectionChanged, this, [this] { TypeSelected(); });
}

TrialTypeEditor::~TrialTypeEditor() = default;

QWidget* TrialTypeEditor::BuildTypeList() {
  auto* group = MakeGroup("Trial Type List", ctl::kTrialTypeListGroup);
  auto* layout = new QVBoxLayout(group);
  typeList_ = MakeListBox(ctl::kTrialTypeList);
  typeList_->setMinimumSize(170, 80);
  layout->addWidget(typeList_, 1);
  auto* buttons = new QHBoxLayout;
  addType_ = MakeButton("Add Type", ctl::kAddTypeButton);
  removeType_ = MakeButton("Remove Type", ctl::kRemoveTypeButton);
  buttons->addWidget(addType_);
  buttons->addWidget(removeType_);
  layout->addLayout(buttons);
  return group;
}

void TrialTypeEditor::Init() {
  addType_->setFocus(Qt::OtherFocusReason);
  removeType_->setEnabled(false);
  ShowType(currentName_);
}

Trial* TrialTypeEditor::CurrentTrial() {
  Trial* trial = nullptr;
  if (trials_.GetTrial(currentName_, trial) != 0) return nullptr;
  return trial;
}

void TrialTypeEditor::ShowType(const std::string& name) {
  EditRules::Hold hold(rules_);
  currentName_ = name;
  emit orderMayHaveChanged();
  if (name.empty()) {
    ClearFields();
    return;
  }
  Trial* trial = nullptr;
  if (trials_.GetTrial(name, trial) != 0 || trial == nullptr) return;

  nameEdit_->setText(Q(name));
  nameEdit_->setEnabled(true);
  nameLabel_->setEnabled(true);

  int32_t suitID = 0;
  int32_t count = 0;
  if (trials_.GetSuitID(name, suitID) != 0) return;
  if (deck_.GetNumCardsInSuit(suitID, count) != 0) return;
  // The count stays locked while a run deals from the deck.
  countEdit_->setText(Q(FormatNumber(count)));
  countEdit_->setEnabled(!running_);
  countLabel_->setEnabled(!running_);
  duration_->Show(*trial);
  interval_->Show(*trial);
  start_->Show(*trial);
  end_->Show(*trial);
  wav_->Show(*trial);
}

void TrialTypeEditor::ClearFields() {
  for (auto [label, edit] : {std::pair<QLabel*, QLineEdit*>{nameLabel_, nameEdit_},
                             std::pair<QLabel*, QLineEdit*>{countLabel_, countEdit_}}) {
    edit->clear();
    edit->setEnabled(false);
    label->setEnabled(false);
  }
  duration_->Empty();
  interval_->Empty();
  start_->Clear();
  end_->Clear();
  wav_->Clear();
}

void TrialTypeEditor::ShowNoType() {
  ShowType(std::string());
  removeType_->setEnabled(false);
}

void TrialTypeEditor::SetRunning(bool running) {
  running_ = running;
  const bool anyType = typeList_->count() > 0;
  addType_->setEnabled(!running);
  removeType_->setEnabled(!running && anyType);
  countEdit_->setEnabled(!running && anyType);
  countLabel_->setEnabled(!running && anyType);
}

void TrialTypeEditor::SetServerObjects(const std::vector<std::string>& names) {
  start_->trigger()->SetObjects(names);
}

bool TrialTypeEditor::triggerInUse() const { return start_->trigger()->inUse(); }

void TrialTypeEditor::CommitTrialCount() {
  int32_t suitID = 0;
  if (trials_.GetSuitID(currentName_, suitID) != 0) return;
  const std::string text = S(countEdit_->text());
  if (text.empty()) {
    int32_t count = 0;
    if (deck_.GetNumCardsInSuit(suitID, count) == 0) {
      countEdit_->setText(Q(FormatNumber(count)));
      rules_.ShowErrorAfterCommit(kEmptyFieldMessage, countEdit_);
    } else {
      rules_.ShowErrorAfterCommit(kEmptyFieldMessage, nullptr);
    }
    return;
  }
  int32_t previous = 0;
  if (deck_.GetNumCardsInSuit(suitID, previous) == 0 &&
      rules_.RefuseOverRange(countEdit_, text, FormatNumber(previous))) {
    return;
  }
  if (deck_.SetNumCardsInSuit(suitID, ParseDigitsField(text)) != 0) return;
  ShowType(currentName_);
  emit trialCountChanged();
}

void TrialTypeEditor::CommitName() {
  const std::string text = S(nameEdit_->text());
  if (text == currentName_) return;
  if (text.empty()) {
    nameEdit_->setText(Q(currentName_));
    rules_.ShowErrorAfterCommit(
        "Unable to set new trial type name, the name cannot be an empty string.  The previous "
        "name was not changed.",
        nameEdit_);
    return;
  }
  Trial* trial = CurrentTrial();
  if (trial == nullptr) return;
  if (!trials_.IsTrialNameUnused(text)) {
    nameEdit_->setText(Q(currentName_));
    rules_.ShowErrorAfterCommit(
        "Unable to set new trial type name, the name is already in use.  The previous name was "
        "not changed.",
        nameEdit_);
    return;
  }
  trial->SetName(text);
  const std::string previous = currentName_;
  RenameInList(previous, text);
  currentName_ = text;
  // The run order shows type names: show the new one at once.
  emit orderMayHaveChanged();
}

void TrialTypeEditor::RenameInList(const std::string& currentName, const std::string& newName) {
  for (int row = 0; row < typeList_->count(); ++row) {
    if (S(typeList_->item(row)->text()) == currentName) {
      const QSignalBlocker blocker(typeList_);
      delete typeList_->takeItem(row);
      typeList_->insertItem(row, Q(newName));
      SelectRow(row);
      return;
    }
  }
  rules_.SetLastMessage(
      "OrvantaDlg::ChangeTrialTypeName() - Error, unable to find trial name in list, therefore a "
      "change could not be made.  Current Name: " +
      currentName + ", New Name: " + newName);
  log_.WriteLogEntry(kLogError, rules_.lastMessage());
}

void TrialTypeEditor::AddType() {
  std::string name = "Trial Type " + FormatNumber(nextTypeNumber_);
  ++nextTypeNumber_;
  while (!trials_.IsTrialNameUnused(name)) {
    name = "Trial Type " + FormatNumber(nextTypeNumber_);
    ++nextTypeNumber_;
  }
  // On success the trial list tells the window (AddTrialTypeToList).
  trials_.AddTrial(name);
}

void TrialTypeEditor::RemoveType() {
  const QList<QListWidgetItem*> selected = typeList_->selectedItems();
  if (selected.isEmpty()) {
    rules_.ShowError(
        "Unable to remove item from trial type list, an item is not currently selected.");
    return;
  }
  const std::string name = S(selected.first()->text());
  if (name.empty()) {
    rules_.ShowError(
        "Unable to remove item from trial type list, the trial name is an empty string.");
    return;
  }
  // On success the trial list tells the window (RemoveTrialTypeFromList).
  trials_.RemoveTrial(name);
}

void TrialTypeEditor::TypeSelected() {
  const QList<QListWidgetItem*> selected = typeList_->selectedItems();
  if (selected.isEmpty()) {
    rules_.ShowError("Error, an item is not currently selected.");
    return;
  }
  const std::string name = S(selected.first()->text());
  if (name.empty()) {
    rules_.ShowError("Unable to update properties, the trial name is an empty string.");
    return;
  }
  ShowType(name);
}

void TrialTypeEditor::SelectRow(int row) {
  const QSignalBlocker blocker(typeList_);
  typeList_->setCurrentRow(row, QItemSelectionModel::ClearAndSelect);
}

void TrialTypeEditor::ShowAddedType(const std::string& name) {
  {
    const QSignalBlocker blocker(typeList_);
    typeList_->addItem(Q(name));
  }
  SelectRow(typeList_->count() - 1);
  ShowType(name);
  removeType_->setEnabled(!running_);
}

void TrialTypeEditor::ShowRemovedType(const std::string& name) {
  int row = -1;
  for (int i = 0; i < typeList_->count(); ++i) {
    if (S(typeList_->item(i)->text()) == name) {
      row = i;
      break;
    }
  }
  if (row < 0) return;
  {
    const QSignalBlocker blocker(typeList_);
    delete typeList_->takeItem(row);
  }
  const int count = typeList_->count();
  if (count == 0) {
    ShowType(std::string());
    removeType_->setEnabled(false);
    return;
  }
  const int next = std::min(row, count - 1);
  SelectRow(next);
  const std::string nextName = S(typeList_->item(next)->text());
  // Several types removed at once (New Setup, Replace): the next one in the
  // list may be gone from the trial list already; its own removal follows.
  ShowType(trials_.IsTrialNameUnused(nextName) ? std::string() : nextName);
}

}  // namespace orvanta
