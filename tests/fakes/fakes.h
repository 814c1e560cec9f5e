// Recording fakes of the platform seams, shared by the test executables.
#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/message_box.h"
#include "platform/shell_open.h"
#include "platform/window_listener.h"

namespace orvanta::testing {

// Records every call as one text: "AddTrialTypeToList:name",
// "RemoveTrialTypeFromList:name", "AddLogMessage:line",
// "SetCurrentTrialNumber:3", "OnStop". Thread-safe.
class RecordingWindow : public WindowListener {
 public:
  void AddTrialTypeToList(const std::string& name) override {
    Record("AddTrialTypeToList:" + name);
  }
  void RemoveTrialTypeFromList(const std::string& name) override {
    Record("RemoveTrialTypeFromList:" + name);
  }
  void AddLogMessage(const std::string& line) override {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back("AddLogMessage:" + line);
    log_lines_.push_back(line);
  }
  void SetCurrentTrialNumber(int number) override {
    Record("SetCurrentTrialNumber:" + std::to_string(number));
  }
  void OnStop() override { Record("OnStop"); }

  std::vector<std::string> calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
  }
  std::vector<std::string> log_lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return log_lines_;
  }
  // Calls other than AddLogMessage.
  std::vector<std::string> model_calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> out;
    for (const auto& c : calls_)
      if (c.rfind("AddLogMessage:", 0) != 0) out.push_back(c);
    return out;
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.clear();
    log_lines_.clear();
  }

 private:
  void Record(std::string call) {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back(std::move(call));
  }
  mutable std::mutex mutex_;
  std::vector<std::string> calls_;
  std::vector<std::string> log_lines_;
};

struct ShownBox {
  std::string text;
  std::string caption;
  BoxIcon icon;
  BoxButtons buttons;
};

// Records every box and answers from a script (OK, or Yes for yes/no, when
// the script is empty). Thread-safe.
class RecordingMessageBoxes : public MessageBoxes {
 public:
  using MessageBoxes::Show;
  BoxResult Show(const std::string& text, const std::string& caption, BoxIcon icon,
                 BoxButtons buttons) override {
    if (onShow) onShow(text);
    std::lock_guard<std::mutex> lock(mutex_);
    boxes_.push_back({text, caption, icon, buttons});
    if (!answers_.empty()) {
      BoxResult r = answers_.front();
      answers_.pop_front();
      return r;
    }
    if (buttons == BoxButtons::kAddReplaceCancel) return BoxResult::kAdd;
    return buttons == BoxButtons::kYesNo ? BoxResult::kYes : BoxResult::kOk;
  }
  // Called (on the caller's thread) as each box is shown; set before use.
  std::function<void(const std::string& text)> onShow;
  void QueueAnswer(BoxResult r) {
    std::lock_guard<std::mutex> lock(mutex_);
    answers_.push_back(r);
  }
  std::vector<ShownBox> boxes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return boxes_;
  }
  std::vector<std::string> texts() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> out;
    for (const auto& b : boxes_) out.push_back(b.text);
    return out;
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    boxes_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<ShownBox> boxes_;
  std::deque<BoxResult> answers_;
};

// A clock that stands still at a time the test sets.
class FixedClock : public Clock {
 public:
  FixedClock() = default;
  explicit FixedClock(LocalTime t) : time_(t) {}
  LocalTime Now() const override {
    std::lock_guard<std::mutex> lock(mutex_);
    return time_;
  }
  void Set(LocalTime t) {
    std::lock_guard<std::mutex> lock(mutex_);
    time_ = t;
  }

 private:
  mutable std::mutex mutex_;
  LocalTime time_;
};

// Records the paths it is asked to open and answers with a scripted result.
class FakeShellOpener : public ShellOpener {
 public:
  int Open(const std::string& path) override {
    std::lock_guard<std::mutex> lock(mutex_);
    opened_.push_back(path);
    return result_;
  }
  void set_result(int r) {
    std::lock_guard<std::mutex> lock(mutex_);
    result_ = r;
  }
  std::vector<std::string> opened() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return opened_;
  }

 private:
  mutable std::mutex mutex_;
  int result_ = kShellOpenOk;
  std::vector<std::string> opened_;
};

}  // namespace orvanta::testing
