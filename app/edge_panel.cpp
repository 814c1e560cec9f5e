#include "app/edge_panel.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>

#include "app/trigger_group.h"
#include "app/window_controls.h"
#include "trials/trial.h"

namespace orvanta {

EdgePanel::EdgePanel(const EdgeSideUi& side, const TrialEditLink& link, QWidget* parent)
    : QGroupBox(QString::fromLatin1(side.title), parent),
      eventString_(std::make_unique<TrialFieldEdit>(side.eventString, link)),
      ttlValue_(std::make_unique<TrialFieldEdit>(side.ttlValue, link)),
      bitNumber_(std::make_unique<TrialFieldEdit>(side.bitNumber, link)),
      pulseDuration_(std::make_unique<TrialFieldEdit>(side.pulseDuration, link)),
      boardNumber_(std::make_unique<TrialFieldEdit>(side.boardNumber, link)),
      subSystemName_(std::make_unique<TrialFieldEdit>(side.subSystemName, link)),
      event_(std::make_unique<TrialSwitch>(
          side.event, link, std::vector<TrialFieldEdit*>{eventString_.get(), ttlValue_.get()})),
      pulse_(std::make_unique<TrialSwitch>(
          side.pulse, link,
          std::vector<TrialFieldEdit*>{bitNumber_.get(), pulseDuration_.get(), boardNumber_.get(),
                                       subSystemName_.get()})) {
  NameControl(this, side.group);
  // The grid's order is the tab order: the event, the pulse, then the
  // trigger.
  auto* grid = new QGridLayout(this);
  int row = 0;
  grid->addWidget(event_->check(), row++, 0, 1, 2);
  for (TrialFieldEdit* f : {eventString_.get(), ttlValue_.get()}) {
    grid->addWidget(f->label(), row, 0);
    grid->addWidget(f->edit(), row++, 1);
  }
  grid->addWidget(pulse_->check(), row++, 0, 1, 2);
  for (TrialFieldEdit* f :
       {bitNumber_.get(), pulseDuration_.get(), boardNumber_.get(), subSystemName_.get()}) {
    grid->addWidget(f->label(), row, 0);
    grid->addWidget(f->edit(), row++, 1);
  }
  grid->setColumnStretch(1, 1);
  if (side.startTrigger) {
    // Beside the event and the pulse, so that the panel grows no taller.
    trigger_ = std::make_unique<TriggerGroup>(link);
    grid->setColumnMinimumWidth(2, 12);
    trigger_->AddTo(grid, 3);
    grid->setColumnStretch(4, 1);
  }
}

EdgePanel::~EdgePanel() = default;

void EdgePanel::Show(const Trial& trial) {
  event_->Show(trial);
  pulse_->Show(trial);
  if (trigger_) trigger_->Show(trial);
}

void EdgePanel::Clear() {
  event_->Clear();
  pulse_->Clear();
  if (trigger_) trigger_->Clear();
}

}  // namespace orvanta
