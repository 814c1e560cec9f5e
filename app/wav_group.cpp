#include "app/wav_group.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <optional>
#include <string>

#include "app/app_seams.h"
#include "app/window_controls.h"
#include "trials/trial.h"

namespace orvanta {

WavGroup::WavGroup(const TrialEditLink& link, FileChooser& files, QWidget* parent)
    : QGroupBox(QStringLiteral("Wav File Properties"), parent),
      link_(link),
      files_(files),
      browse_(MakeButton("Browse", ctl::kBrowseButton)),
      fileName_(std::make_unique<TrialFieldEdit>(kWavFileNameUi, link)),
      bufferNumber_(std::make_unique<TrialFieldEdit>(kWavBufferNumberUi, link)),
      boardNumber_(std::make_unique<TrialFieldEdit>(kWavBoardNumberUi, link)),
      subSystemName_(std::make_unique<TrialFieldEdit>(kWavSubSystemNameUi, link)),
      play_(std::make_unique<TrialSwitch>(
          kPlayWavFileUi, link,
          std::vector<TrialFieldEdit*>{fileName_.get(), bufferNumber_.get(), boardNumber_.get(),
                                       subSystemName_.get()},
          browse_)) {
  NameControl(this, ctl::kWavFilePropertiesGroup);
  auto* grid = new QGridLayout(this);
  grid->addWidget(play_->check(), 0, 0, 1, 2);
  grid->addWidget(browse_, 0, 3);
  grid->addWidget(fileName_->label(), 1, 0);
  grid->addWidget(fileName_->edit(), 1, 1, 1, 3);
  grid->addWidget(bufferNumber_->label(), 2, 0);
  grid->addWidget(bufferNumber_->edit(), 2, 1);
  grid->addWidget(boardNumber_->label(), 2, 2);
  grid->addWidget(boardNumber_->edit(), 2, 3);
  grid->addWidget(subSystemName_->label(), 3, 0);
  grid->addWidget(subSystemName_->edit(), 3, 1, 1, 3);
  grid->setColumnStretch(1, 1);
  grid->setColumnStretch(3, 1);
  connect(browse_, &QPushButton::clicked, this, [this] { Browse(); });
}

WavGroup::~WavGroup() = default;

void WavGroup::Show(const Trial& trial) { play_->Show(trial); }

void WavGroup::Clear() { play_->Clear(); }

void WavGroup::Browse() {
  const FileDialogOptions options{.title = "Wav File",
                                  .filter = "Wav Files (*.wav)|*.wav||",
                                  .initialName = "*.wav",
                                  .defaultExtension = "wav"};
  const std::optional<std::string> path = files_.ChooseFileToOpen(options);
  if (!path) return;
  Trial* trial = link_.currentTrial();
  if (trial == nullptr) return;
  trial->SetWavFileName(*path);
  link_.changed();
}

}  // namespace orvanta
