// Collects the ERROR and FATAL entries that one piece of work writes to the
// application log, so that it can tell the user why it failed in the words
// the log already uses.
#pragma once

#include <string>
#include <vector>

namespace orvanta {

// While it exists, every ERROR or FATAL entry written on the thread that
// created it is copied (its text, without tag and time stamp) into errors().
// Entries written by other threads (a running trial worker) are not taken.
// Captures nest: an inner one takes the entries while it exists, then the
// outer one takes them again. Not thread-safe: use it on one thread only.
class LogErrorCapture {
 public:
  LogErrorCapture();
  ~LogErrorCapture();
  LogErrorCapture(const LogErrorCapture&) = delete;
  LogErrorCapture& operator=(const LogErrorCapture&) = delete;

  const std::vector<std::string>& errors() const { return errors_; }

  // Called by the log for every entry it writes (any thread); hands the entry
  // to the calling thread's innermost capture, if any.
  static void Note(int level, const std::string& text);

 private:
  std::vector<std::string> errors_;
  LogErrorCapture* outer_ = nullptr;
};

}  // namespace orvanta
