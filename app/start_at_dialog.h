// Run > Start at Trial...: picks the trial of the current order a run starts
// at, to resume an interrupted session. The run then starts there the way
// `orvanta-run --start-at` does.
#pragma once

#include <QDialog>

#include <cstdint>
#include <string>
#include <vector>

class QLabel;
class QSpinBox;

namespace orvanta {

// Window thread only.
class StartAtTrialDlg : public QDialog {
  Q_OBJECT
 public:
  // `order` holds one line per trial of the order, as the Trial List shows
  // it ("3.  Tone"); it must not be empty. `suggested` (1-based) is offered
  // first, clamped to the order.
  StartAtTrialDlg(std::vector<std::string> order, int32_t suggested, QWidget* parent = nullptr);

  // The chosen trial, 1-based.
  int32_t GetTrial() const;

 private:
  void ShowChosen();

  std::vector<std::string> order_;
  QSpinBox* trial_;
  QLabel* chosen_;
};

}  // namespace orvanta
