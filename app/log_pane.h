// The System Message Log group across the foot of the main window: the
// newest log entries and, beside them, the "Show details" toggle that hides
// the setup reader's per-line and the run's per-command entries (they stay in
// the list and in the log file).
//
// Owner: OrvantaDlg (Qt parent). Thread: the window thread; the lines reach
// it through the window's mailbox.
#pragma once

#include <QGroupBox>

#include <deque>
#include <string>

class QCheckBox;

namespace orvanta {

class MessageLogList;

class LogPane : public QGroupBox {
  Q_OBJECT

 public:
  // The list keeps at most `maxEntries` entries.
  explicit LogPane(int maxEntries, QWidget* parent = nullptr);

  void AppendLines(const std::deque<std::string>& lines);
  MessageLogList* list() const { return list_; }

 private:
  MessageLogList* list_;
  QCheckBox* showDetails_;
};

}  // namespace orvanta
