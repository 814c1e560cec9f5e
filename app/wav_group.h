// The wav file of a trial type in the editor ("Wav File Properties"): Play
// Wav File, Browse, the file name, the buffer and board numbers and the sub
// system name.
//
// Owner: TrialTypeEditor (Qt parent). Thread: the window thread.
#pragma once

#include <QGroupBox>

#include <memory>

#include "app/trial_fields.h"

class QPushButton;

namespace orvanta {

class FileChooser;

class WavGroup : public QGroupBox {
  Q_OBJECT

 public:
  // `files` (Browse) outlives the group.
  WavGroup(const TrialEditLink& link, FileChooser& files, QWidget* parent = nullptr);
  ~WavGroup() override;

  void Show(const Trial& trial);
  void Clear();

 private:
  // Browse: the chosen file becomes the type's wav file.
  void Browse();

  TrialEditLink link_;
  FileChooser& files_;
  QPushButton* browse_;
  std::unique_ptr<TrialFieldEdit> fileName_;
  std::unique_ptr<TrialFieldEdit> bufferNumber_;
  std::unique_ptr<TrialFieldEdit> boardNumber_;
  std::unique_ptr<TrialFieldEdit> subSystemName_;
  std::unique_ptr<TrialSwitch> play_;
};

}  // namespace orvanta
