// Test environments for the trial worker: a fresh trial model with a real log
// file in a temp folder and recording seams, plus either a scripted command
// channel or the acquisition-server simulator on loopback with a client
// connected to it. Every wait is bounded.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "fakes/fakes.h"
#include "fakes/temp_folder.h"
#include "fakes/wait.h"
#include "log/log_file.h"
#include "platform/command_channel.h"
#include "platform/stop_signal.h"
#include "trials/card_deck.h"
#include "trials/run_observer.h"
#include "trials/trial.h"
#include "trials/trial_container.h"

namespace orvanta::testing {

using namespace std::chrono_literals;
// Records everything the worker tells its observer. Thread-safe.
class RecordingObserver : public RunObserver {
 public:
  void OnRunStarted(int32_t firstTrial, int32_t numTrials, SteadyClock::time_point) override {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back("run " + std::to_string(firstTrial) + "/" + std::to_string(numTrials));
  }
  void OnTrialStarted(int32_t trialNumber, const std::string& trialName,
                      SteadyClock::time_point) override {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back("trial " + std::to_string(trialNumber) + " " + trialName);
  }
  void OnCommand(const CommandRecord& record) override {
    std::lock_guard<std::mutex> lock(mutex_);
    commands_.push_back(record);
  }
  void OnRunEnded(const RunSummary& end) override {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(RunOutcomeName(end.outcome));
    end_ = end;
  }
  RunSummary end() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return end_;
  }
  std::vector<CommandRecord> commands() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return commands_;
  }
  std::vector<std::string> command_texts() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> out;
    for (const auto& c : commands_) out.push_back(c.command);
    return out;
  }
  std::vector<std::string> events() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<CommandRecord> commands_;
  std::vector<std::string> events_;
  RunSummary end_;
};

// A command channel answered by the test: every command is recorded and
// answered by `answer` (nullopt: the exchange fails). With hold set, an
// exchange waits until released or stopped (a server that withholds its
// reply). Thread-safe.
class ScriptedChannel : public CommandChannel {
 public:
  using CommandChannel::SendCommand;
  std::function<std::optional<std::string>(const std::string&)> answer =
      [](const std::string& command) -> std::optional<std::string> { return "ok " + command; };

  bool SendCommand(const std::string& command, std::string& reply,
                   const StopSignal* stop) override {
    std::unique_lock<std::mutex> lock(mutex_);
    commands_.push_back(command);
    waiting_ = hold_;
    changed_.notify_all();
    while (hold_) {
      if (stop != nullptr && stop->IsRequested()) {
        waiting_ = false;
        return false;
      }
      changed_.wait_for(lock, 1ms);
    }
    waiting_ = false;
    const auto answer_now = answer;
    lock.unlock();
    const std::optional<std::string> r = answer_now(command);
    if (!r) return false;
    reply = *r;
    return true;
  }

  void Hold(bool hold) {
    std::lock_guard<std::mutex> lock(mutex_);
    hold_ = hold;
    changed_.notify_all();
  }
  bool IsWaiting() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return waiting_;
  }
  std::vector<std::string> commands() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return commands_;
  }
  size_t count() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return commands_.size();
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> commands_;
  bool hold_ = false;
  bool waiting_ = false;
};

// One log entry split into its level tag and its text.
struct LogEntry {
  std::string tag;
  std::string text;
};

// The trial model of one test. The log uses a fixed clock, so entries can be
// compared whole; timing is read from the observer or the simulator.
class ModelEnv {
 public:
  ModelEnv() : clock_(LocalTime{2009, 3, 7, 9, 5, 3, 7}) {
    log.SetLogFilename(dir() + "/log.txt");
    window_ref.Register(&window);
    trials.SetRunObserver(&observer);
    trials.SetCommandChannel(&scripted);
  }
  virtual ~ModelEnv() {
    trials.StopProcessingTrials();
    trials.JoinWorkers();
  }

  const std::string& dir() const { return dir_.path(); }

  // Every entry of the log file (its two header lines left out).
  std::vector<LogEntry> LogEntries() const {
    std::ifstream in(dir() + "/log.txt", std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::vector<LogEntry> entries;
    std::string::size_type start = 0, end;
    int line = 0;
    while ((end = text.find("\r\n", start)) != std::string::npos) {
      const std::string l = text.substr(start, end - start);
      start = end + 2;
      if (++line <= 2) continue;
      // 14-character tag, " HH:MM:SS.mmm", " - ", text.
      EXPECT_EQ(l.substr(14, 16), " 09:05:03.007 - ") << l;
      entries.push_back({l.substr(0, 14), l.size() > 30 ? l.substr(30) : std::string()});
    }
    return entries;
  }
  std::vector<std::string> LogTexts() const {
    std::vector<std::string> out;
    for (const auto& e : LogEntries()) out.push_back(e.text);
    return out;
  }
  // Whether some log text satisfies `match`.
  bool LogHas(const std::string& text) const {
    for (const auto& t : LogTexts())
      if (t == text) return true;
    return false;
  }
  size_t LogCount(const std::string& prefix) const {
    size_t n = 0;
    for (const auto& t : LogTexts())
      if (t.rfind(prefix, 0) == 0) ++n;
    return n;
  }

  // Adds a type with `count` trials and the given timing, nothing switched on.
  Trial* AddType(const std::string& name, int32_t count, int32_t duration, int32_t interval) {
    Trial* trial = nullptr;
    EXPECT_EQ(trials.AddTrial(name), 0);
    EXPECT_EQ(trials.GetTrial(name, trial), 0);
    int32_t suit = -1;
    EXPECT_EQ(trials.GetSuitID(name, suit), 0);
    EXPECT_EQ(deck.SetNumCardsInSuit(suit, count), 0);
    trial->SetTrialDuration(duration);
    trial->SetInterTrialInterval(interval);
    return trial;
  }

  bool WaitForEnd(std::chrono::milliseconds timeout = 10000ms) {
    return trials.WaitForRunEnd(timeout);
  }

 private:
  TempFolder dir_{"orvanta-run-"};  // outlives the log below
  FixedClock clock_;
  FakeShellOpener shell_;

 public:
  RecordingWindow window;
  MainWindowRef window_ref;
  RecordingMessageBoxes boxes;
  RecordingObserver observer;
  ScriptedChannel scripted;  // the channel unless a test sets another
  LogFile log{clock_, boxes, window_ref, shell_};
  CardDeck deck{log};
  TrialContainer trials{log, deck, window_ref, boxes};
};

// The stop lines, in their order.
inline const char kTerminatedLine[] =
    "TrialContainer::StopProcessingTrials() - mTrialProcessingThread thread has been terminated "
    "successfully.";
inline const char kWaitLine[] =
    "TrialContainer::StopProcessingTrials() - WaitForSingleObject for mTrialProcessingThread "
    "thread completed successfully.";

}  // namespace orvanta::testing
