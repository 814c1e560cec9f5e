// The System Message Log list: the newest log entries, newest at the bottom,
// each with its full text in a tooltip and a horizontal scroll for long
// lines. ERROR and FATAL entries show in red with an error icon, WARNING in
// amber with a warning icon, and the window's own success lines (a connect,
// a completed run) in green with a check mark, so that colour is never the
// only cue. "Detail" entries (the setup reader's per-line NOTICE entries and
// the per-command NOTICE entries of a run) can be hidden; hidden entries stay
// in the list (and in the log file) and show again when details are shown.
// The newest entry is selected and wholly in view (above the horizontal
// scroll bar), and keeps its colour on the pale selection.
#pragma once

#include <QListWidget>

#include <deque>
#include <string>

#include "trials/run_verdict.h"

namespace orvanta {

// What an entry is, from its level tag and text.
enum class LogLineKind { kError, kWarning, kSuccess, kDetail, kPlain };

// `line` is a whole entry as the log writes it: tag, time stamp, " - ", text.
LogLineKind ClassifyLogLine(const std::string& line);

// The texts of the success entries (logged at NOTICE): the window's connect,
// and the worker's plain completed verdict (kRunCompletedLogText).
inline constexpr const char kConnectedLogText[] =
    "OrvantaDlg::ShowConnectionState() - Connected to the server.  Server Name: ";

// Window thread only.
class MessageLogList : public QListWidget {
  Q_OBJECT
 public:
  // At most `maxEntries` entries are kept; the oldest go first.
  explicit MessageLogList(int maxEntries, QWidget* parent = nullptr);

  // Appends the entries, drops the oldest beyond the limit, and selects the
  // newest shown entry, which brings it into view.
  void AppendLines(const std::deque<std::string>& lines);

  // Shows or hides the detail entries (shown at first).
  void SetShowDetails(bool show);
  bool showDetails() const { return showDetails_; }

 private:
  void SelectNewestShown();
  void KeepNewestInView();

  const int maxEntries_;
  bool showDetails_ = true;
};

}  // namespace orvanta
