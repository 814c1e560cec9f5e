#include "app/log_pane.h"

#include <QCheckBox>
#include <QFontDatabase>
#include <QHBoxLayout>

#include "app/control_ids.h"
#include "app/message_log_list.h"
#include "app/window_controls.h"

namespace orvanta {

LogPane::LogPane(int maxEntries, QWidget* parent)
    : QGroupBox(QStringLiteral("System Message Log"), parent) {
  NameControl(this, ctl::kSystemMessageLogGroup);
  // The toggle sits beside the list, where it costs no height.
  auto* layout = new QHBoxLayout(this);
  list_ = Named(new MessageLogList(maxEntries), ctl::kMessageLog);
  list_->setMinimumHeight(90);
  list_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  layout->addWidget(list_);

  showDetails_ = new QCheckBox(QStringLiteral("Show details"));
  showDetails_->setObjectName(QStringLiteral("showDetailsCheck"));
  showDetails_->setChecked(true);
  showDetails_->setToolTip(
      QStringLiteral("Show the per-line entries of setup files and the per-command entries of "
                     "runs. Hidden entries are still written to the log file."));
  layout->addWidget(showDetails_, 0, Qt::AlignTop);
  connect(showDetails_, &QCheckBox::toggled, this,
          [this](bool show) { list_->SetShowDetails(show); });
}

void LogPane::AppendLines(const std::deque<std::string>& lines) { list_->AppendLines(lines); }

}  // namespace orvanta
