// One side of a trial in the editor, "Start of Trial" or "End of Trial": the
// event (its string and TTL value), the TTL pulse (bit, duration, board and
// sub system) and, on the start side, the start trigger (TriggerGroup). The class is built once per
// side; what tells the sides apart (title, control names, the Trial's accessors) is an EdgeSideUi
// of trial_field_table.h.
//
// Owner: TrialTypeEditor (Qt parent). Thread: the window thread.
#pragma once

#include <QGroupBox>

#include <memory>

#include "app/trial_fields.h"

namespace orvanta {

class TriggerGroup;

class EdgePanel : public QGroupBox {
  Q_OBJECT

 public:
  // `side` is one of the tables of trial_field_table.h (it outlives the
  // panel).
  EdgePanel(const EdgeSideUi& side, const TrialEditLink& link, QWidget* parent = nullptr);
  ~EdgePanel() override;

  // The side of `trial`, each field enabled as its switch says.
  void Show(const Trial& trial);
  // No type: everything empty and disabled.
  void Clear();

  // The start trigger's group; null on the end side.
  TriggerGroup* trigger() const { return trigger_.get(); }

 private:
  std::unique_ptr<TrialFieldEdit> eventString_;
  std::unique_ptr<TrialFieldEdit> ttlValue_;
  std::unique_ptr<TrialFieldEdit> bitNumber_;
  std::unique_ptr<TrialFieldEdit> pulseDuration_;
  std::unique_ptr<TrialFieldEdit> boardNumber_;
  std::unique_ptr<TrialFieldEdit> subSystemName_;
  std::unique_ptr<TrialSwitch> event_;
  std::unique_ptr<TrialSwitch> pulse_;
  std::unique_ptr<TriggerGroup> trigger_;
};

}  // namespace orvanta
