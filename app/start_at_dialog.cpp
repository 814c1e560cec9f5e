#include "app/start_at_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace orvanta {

StartAtTrialDlg::StartAtTrialDlg(std::vector<std::string> order, int32_t suggested, QWidget* parent)
    : QDialog(parent), order_(std::move(order)) {
  setObjectName(QStringLiteral("startAtTrialDlg"));
  setWindowTitle(QStringLiteral("Start at Trial"));
  const int count = static_cast<int>(order_.size());

  auto* intro = new QLabel(
      QStringLiteral("The run starts at this trial of the current order and runs to its end.\n"
                     "The trials before it are skipped; trial numbers stay those of the whole "
                     "order."));
  intro->setWordWrap(true);
  trial_ = new QSpinBox;
  trial_->setObjectName(QStringLiteral("startAtTrialSpin"));
  trial_->setRange(1, std::max(count, 1));
  trial_->setValue(std::clamp<int>(suggested, 1, std::max(count, 1)));
  trial_->setSuffix(QStringLiteral(" of %1").arg(count));
  chosen_ = new QLabel;
  chosen_->setObjectName(QStringLiteral("startAtTrialLine"));

  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("Start at trial"), trial_);
  form->addRow(QStringLiteral("Trial"), chosen_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Start"));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(intro);
  layout->addLayout(form);
  layout->addWidget(buttons);

  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(trial_, &QSpinBox::valueChanged, this, [this] { ShowChosen(); });
  ShowChosen();
  trial_->selectAll();
}

int32_t StartAtTrialDlg::GetTrial() const { return trial_->value(); }

void StartAtTrialDlg::ShowChosen() {
  const size_t index = static_cast<size_t>(trial_->value()) - 1;
  chosen_->setText(index < order_.size() ? QString::fromStdString(order_[index]) : QString());
}

}  // namespace orvanta
