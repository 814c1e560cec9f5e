#include "app/message_log_list.h"

#include <QApplication>
#include <QPixmap>
#include <QScrollBar>
#include <QStyle>
#include <QStyledItemDelegate>

#include <cstring>

namespace orvanta {
namespace {

constexpr int kKindRole = Qt::UserRole + 1;
constexpr size_t kTagLength = 14;  // "-*  ERROR  *- "

bool StartsWith(const std::string& text, size_t at, const char* prefix) {
  return text.compare(at, std::strlen(prefix), prefix) == 0;
}

// The entry's text after tag, time stamp and " - ".
size_t TextStart(const std::string& line) {
  const size_t dash = line.find(" - ", kTagLength);
  return dash == std::string::npos ? line.size() : dash + 3;
}

// The selected (newest) entry keeps its own colour: its text is drawn in the
// entry's colour on a pale highlight, not in the highlight's text colour.
class KeepColourDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    option->palette.setBrush(QPalette::HighlightedText, option->palette.brush(QPalette::Text));
  }
};

}  // namespace

LogLineKind ClassifyLogLine(const std::string& line) {
  if (StartsWith(line, 0, "-*  ERROR  *- ") || StartsWith(line, 0, "-*  FATAL  *- ")) {
    return LogLineKind::kError;
  }
  if (StartsWith(line, 0, "-* WARNING *- ")) return LogLineKind::kWarning;
  if (!StartsWith(line, 0, "-* NOTICE  *- ")) return LogLineKind::kPlain;
  const size_t text = TextStart(line);
  if (StartsWith(line, text, kConnectedLogText) || StartsWith(line, text, kRunCompletedLogText)) {
    return LogLineKind::kSuccess;
  }
  // One setup-file line at a time, and one server command at a time.
  static const char* const kDetails[] = {
      "FormatCmdLine::GetNextLine() - Processing line",
      "FormatCmdLine::GetLineFromFile() - The end of the file has been reached.",
      "ConfigFileProcessor::ProcessScript() - Next Ascii Command to Process.",
      "Sent ",
  };
  for (const char* detail : kDetails) {
    if (StartsWith(line, text, detail)) return LogLineKind::kDetail;
  }
  return LogLineKind::kPlain;
}

MessageLogList::MessageLogList(int maxEntries, QWidget* parent)
    : QListWidget(parent), maxEntries_(maxEntries) {
  setSortingEnabled(false);  // new entries go to the end
  setSelectionMode(QAbstractItemView::SingleSelection);
  // Whole lines, scrolled sideways when they are wider than the list.
  setTextElideMode(Qt::ElideNone);
  setWordWrap(false);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  // Scrolled by pixels, so that the newest entry sits wholly above the
  // bottom edge (or the horizontal scroll bar).
  setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
  // The scroll bar that appears once a line is wider than the list takes
  // room from the bottom: the newest entry is brought back into view.
  connect(horizontalScrollBar(), &QScrollBar::rangeChanged, this, [this] { KeepNewestInView(); });
  setItemDelegate(new KeepColourDelegate(this));
  QPalette colours = palette();
  const QColor pale(0xcc, 0xe4, 0xf7);
  colours.setColor(QPalette::Active, QPalette::Highlight, pale);
  colours.setColor(QPalette::Inactive, QPalette::Highlight, pale);
  setPalette(colours);
  // Small marks, the height of a line of text.
  const int mark = fontMetrics().height() - 2;
  setIconSize(QSize(mark, mark));
}

void MessageLogList::AppendLines(const std::deque<std::string>& lines) {
  static const QIcon errorIcon = qApp->style()->standardIcon(QStyle::SP_MessageBoxCritical);
  static const QIcon warningIcon = qApp->style()->standardIcon(QStyle::SP_MessageBoxWarning);
  static const QIcon successIcon = qApp->style()->standardIcon(QStyle::SP_DialogApplyButton);
  // Entries without a mark keep their text in line with the marked ones.
  static const QIcon noIcon = [] {
    QPixmap blank(16, 16);
    blank.fill(Qt::transparent);
    return QIcon(blank);
  }();
  setUpdatesEnabled(false);
  if (lines.size() >= static_cast<size_t>(maxEntries_)) clear();
  for (const std::string& line : lines) {
    auto* item = new QListWidgetItem(QString::fromStdString(line));
    item->setToolTip(item->text());
    const LogLineKind kind = ClassifyLogLine(line);
    item->setData(kKindRole, static_cast<int>(kind));
    switch (kind) {
      case LogLineKind::kError:
        item->setForeground(QColor(0xb0, 0x00, 0x20));
        item->setIcon(errorIcon);
        break;
      case LogLineKind::kWarning:
        item->setForeground(QColor(0x9a, 0x5b, 0x00));
        item->setIcon(warningIcon);
        break;
      case LogLineKind::kSuccess:
        item->setForeground(QColor(0x1b, 0x6e, 0x20));
        item->setIcon(successIcon);
        break;
      case LogLineKind::kDetail:
      case LogLineKind::kPlain:
        item->setIcon(noIcon);
        break;
    }
    addItem(item);
    if (kind == LogLineKind::kDetail && !showDetails_) item->setHidden(true);
  }
  const int excess = count() - maxEntries_;
  for (int i = 0; i < excess; ++i) delete takeItem(0);
  SelectNewestShown();
  setUpdatesEnabled(true);
}

void MessageLogList::SetShowDetails(bool show) {
  if (show == showDetails_) return;
  showDetails_ = show;
  setUpdatesEnabled(false);
  for (int row = 0; row < count(); ++row) {
    QListWidgetItem* entry = item(row);
    if (entry->data(kKindRole).toInt() == static_cast<int>(LogLineKind::kDetail)) {
      entry->setHidden(!show);
    }
  }
  SelectNewestShown();
  setUpdatesEnabled(true);
}

void MessageLogList::KeepNewestInView() {
  QListWidgetItem* current = currentItem();
  if (current == nullptr || current->isHidden()) return;
  for (int row = count() - 1; row >= 0; --row) {
    if (item(row)->isHidden()) continue;
    // Only while the list follows the newest entry.
    if (item(row) == current) scrollToItem(current);
    return;
  }
}

void MessageLogList::SelectNewestShown() {
  for (int row = count() - 1; row >= 0; --row) {
    if (!item(row)->isHidden()) {
      setCurrentRow(row, QItemSelectionModel::ClearAndSelect);
      scrollToItem(item(row));
      return;
    }
  }
}

}  // namespace orvanta
