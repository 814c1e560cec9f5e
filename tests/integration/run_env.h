// Test environments for the trial worker, on the shared fixture: a recording
// run observer and either a scripted command channel or the
// acquisition-server simulator on loopback with the client connected to it.
// Every wait is bounded.
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
#include "fakes/wait.h"
#include "platform/command_channel.h"
#include "platform/stop_signal.h"
#include "support/program_env.h"
#include "trials/run_observer.h"
#include "trials/trial.h"

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
  void OnTrigger(const TriggerRecord& record) override {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back("trigger " + std::to_string(record.trialNumber) + " " +
                      TriggerOutcomeName(record.outcome));
    triggers_.push_back(record);
  }
  void OnRunEnded(const RunSummary& end) override {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.emplace_back(RunOutcomeName(end.outcome));
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
  std::vector<TriggerRecord> triggers() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return triggers_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<CommandRecord> commands_;
  std::vector<std::string> events_;
  std::vector<TriggerRecord> triggers_;
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

// The trial model of one test, on the shared fixture: the log uses a fixed
// clock, so entries can be compared whole; timing is read from the observer
// or the simulator. The trial list reports to a recording observer and sends
// through a scripted channel unless a test sets another.
class ModelEnv : public ProgramEnv {
 public:
  ModelEnv()
      : ProgramEnv(
            Options{.now = LocalTime{2009, 3, 7, 9, 5, 3, 7}, .folderPrefix = "orvanta-run-"}) {
    trials.SetRunObserver(&observer);
    trials.SetCommandChannel(&scripted);
    trials.SetTimingTolerance(kWideTimingToleranceMs);
  }
  ~ModelEnv() override {
    // The observer and the channel go before the core: the worker ends first.
    core.StopRun();
  }

  // Every entry of the log file (its two header lines left out).
  std::vector<LogEntry> LogEntries() const {
    std::vector<LogEntry> entries;
    const std::vector<std::string> texts = LogTexts();  // checks each time stamp
    const std::vector<std::string> lines = LogLines();
    for (size_t i = 0; i < lines.size() && i < texts.size(); ++i)
      entries.push_back({lines[i].substr(0, 14), texts[i]});
    return entries;
  }

  bool WaitForEnd(std::chrono::milliseconds timeout = 10000ms) {
    return trials.WaitForRunEnd(timeout);
  }

  RecordingObserver observer;
  ScriptedChannel scripted;  // the channel unless a test sets another
};

// The stop lines, in their order.
inline const char kTerminatedLine[] =
    "TrialContainer::StopProcessingTrials() - mTrialProcessingThread thread has been terminated "
    "successfully.";
inline const char kWaitLine[] =
    "TrialContainer::StopProcessingTrials() - WaitForSingleObject for mTrialProcessingThread "
    "thread completed successfully.";

}  // namespace orvanta::testing
