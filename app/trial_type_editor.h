// The trial type editor ("Trial Properties"): the Trial Type List with Add
// Type and Remove Type, the chosen type's name, trial count, duration and
// interval, its wav file (WavGroup) and the start and end of its trials (one
// EdgePanel per side; the start side holds the start trigger, whose object
// list the window fills from the server). It shows the chosen type and writes each committed
// value into it; the trial list tells the window of added and removed types,
// which the window hands on here.
//
// During a run Add Type, Remove Type and Trial Count are disabled (the order
// the worker deals from stays as it is); the other fields stay editable.
//
// Owner: OrvantaDlg (Qt parent). Thread: the window thread.
#pragma once

#include <QGroupBox>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/trial_fields.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace orvanta {

class CardDeck;
class EdgePanel;
class FileChooser;
class LogFile;
class TrialContainer;
class WavGroup;

class TrialTypeEditor : public QGroupBox {
  Q_OBJECT

 public:
  // Every argument outlives the editor.
  TrialTypeEditor(TrialContainer& trials, CardDeck& deck, LogFile& log, FileChooser& files,
                  EditRules& rules, QWidget* parent = nullptr);
  ~TrialTypeEditor() override;

  // Start-up: the focus on Add Type, Remove Type disabled, nothing shown.
  void Init();
  // Shows the type `name` (nothing when empty or unknown).
  void ShowType(const std::string& name);
  // The setup was cleared: no type shown, Remove Type disabled.
  void ShowNoType();
  // The trial list added or removed a type.
  void ShowAddedType(const std::string& name);
  void ShowRemovedType(const std::string& name);
  // Renames the type in the Trial Type List (the name field's commit).
  void RenameInList(const std::string& currentName, const std::string& newName);
  // A run started (true) or returned to idle (false).
  void SetRunning(bool running);

  // The server's acquisition objects for the start trigger's object (empty
  // when not connected: the object is typed).
  void SetServerObjects(const std::vector<std::string>& names);
  // The type shown waits for a start trigger.
  bool triggerInUse() const;

  const std::string& currentName() const { return currentName_; }
  int32_t nextTypeNumber() const { return nextTypeNumber_; }

 signals:
  // Trial types shown, counted or renamed: the Trial List shows the order
  // again.
  void orderMayHaveChanged();
  // A committed Trial Count.
  void trialCountChanged();
  // The start trigger is shown in use without a list of the server's
  // objects (emitted while the type is being shown).
  void serverObjectsWanted();

 private:
  QWidget* BuildTypeList();
  void ClearFields();
  void CommitName();
  void CommitTrialCount();
  void AddType();
  void RemoveType();
  void TypeSelected();
  void SelectRow(int row);
  Trial* CurrentTrial();

  TrialContainer& trials_;
  CardDeck& deck_;
  LogFile& log_;
  EditRules& rules_;
  std::string currentName_;
  int32_t nextTypeNumber_ = 1;
  bool running_ = false;

  QListWidget* typeList_ = nullptr;
  QPushButton* addType_ = nullptr;
  QPushButton* removeType_ = nullptr;
  QLabel* nameLabel_ = nullptr;
  QLineEdit* nameEdit_ = nullptr;
  QLabel* countLabel_ = nullptr;
  QLineEdit* countEdit_ = nullptr;
  std::unique_ptr<TrialFieldEdit> duration_;
  std::unique_ptr<TrialFieldEdit> interval_;
  WavGroup* wav_ = nullptr;
  EdgePanel* start_ = nullptr;
  EdgePanel* end_ = nullptr;
};

}  // namespace orvanta
