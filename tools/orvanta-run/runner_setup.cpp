#include "tools/orvanta-run/runner_setup.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include "trials/trial.h"

namespace orvanta::runner {

namespace {

// Why `path` cannot be read as a setup file, for the one-line error.
std::string OpenFailureReason(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return std::strerror(errno);
  if (S_ISDIR(info.st_mode)) return "it is a folder";
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return std::strerror(errno);
  std::fclose(file);
  return "it could not be read";
}

// The log path from --log: a relative path is taken from the current
// directory, as the default log is (the log itself keeps the directory of
// absolute paths only).
std::string LogPathFor(const RunnerProgram& program, const RunnerOptions& options) {
  if (options.logPath.empty()) return program.applicationDirectory + "OrvantaLogFile.txt";
  if (options.logPath[0] == '/') return options.logPath;
  return program.applicationDirectory + options.logPath;
}

// Warns about each log switch of a setup file that could not be opened.
void WarnLogOpenFailures(RunnerProgram& program, const std::string& setupFile, std::FILE* err) {
  for (const LogOpenFailure& failed : program.log.TakeOpenFailures()) {
    const std::string where = failed.keptPath.empty() ? std::string("no log file is open")
                                                      : "the log stays in " + failed.keptPath;
    std::fprintf(err, "orvanta-run: warning: %s: the log file %s could not be opened: %s; %s\n",
                 setupFile.c_str(), failed.path.c_str(), failed.failure.reason.c_str(),
                 where.c_str());
  }
}

// Sets and removes the start triggers of --trigger and --no-trigger, in the
// order given. A type the setup does not have is a usage error; the
// message names the option and the type.
int ApplyTriggerChanges(RunnerProgram& program, const RunnerOptions& options, std::string& error) {
  for (const TriggerChange& change : options.triggerChanges) {
    Trial* trial = nullptr;
    // Asked first, so that an unknown name logs no error of the list.
    if (program.trials.IsTrialNameUnused(change.typeName) ||
        program.trials.GetTrial(change.typeName, trial) != 0 || trial == nullptr) {
      error = std::string("option ") + (change.remove ? "--no-trigger" : "--trigger") +
              " names no trial type of the setup: '" + change.typeName + "'";
      return kExitUsage;
    }
    trial->SetStartTrigger(change.remove ? TrialTrigger{} : change.trigger);
  }
  return kExitOk;
}

}  // namespace

StreamLogEcho::StreamLogEcho(std::FILE* out) : out_(out), writer_([this] { WriterLoop(); }) {}

StreamLogEcho::~StreamLogEcho() {
  {
    MutexLock lock(&mutex_);
    stopping_ = true;
  }
  cv_.SignalAll();
  writer_.join();
}

void StreamLogEcho::AddLogMessage(const std::string& line) {
  {
    MutexLock lock(&mutex_);
    queue_.push_back(line);
  }
  cv_.SignalAll();
}

void StreamLogEcho::Flush() {
  MutexLock lock(&mutex_);
  while (!queue_.empty() || statusChanged_ || writing_) cv_.Wait();
}

void StreamLogEcho::SetStatusLine(const std::string& text) {
  {
    MutexLock lock(&mutex_);
    if (text == status_) return;
    status_ = text;
    statusChanged_ = true;
  }
  cv_.SignalAll();
}

void StreamLogEcho::WriterLoop() {
  // "\r" and erase to the end of the line: the status line is gone.
  static const char kEraseLine[] = "\r\033[K";
  for (;;) {
    std::deque<std::string> lines;
    std::string status;
    {
      MutexLock lock(&mutex_);
      while (queue_.empty() && !statusChanged_ && !stopping_) cv_.Wait();
      if (queue_.empty() && !statusChanged_) {
        // Stopping, and everything is printed; a status line is not left behind.
        if (statusShown_) {
          std::fputs(kEraseLine, out_);
          std::fflush(out_);
          statusShown_ = false;
        }
        return;
      }
      lines.swap(queue_);
      status = stopping_ ? std::string() : status_;
      statusChanged_ = false;
      writing_ = true;
    }
    if (statusShown_) std::fputs(kEraseLine, out_);
    for (const std::string& line : lines) {
      std::fwrite(line.data(), 1, line.size(), out_);
      std::fputc('\n', out_);
    }
    statusShown_ = !status.empty();
    if (statusShown_) std::fwrite(status.data(), 1, status.size(), out_);
    std::fflush(out_);
    MutexLock lock(&mutex_);
    writing_ = false;
    cv_.SignalAll();
  }
}

BoxResult RunnerMessageBoxes::Show(const std::string& text, const std::string& caption,
                                   BoxIcon icon, BoxButtons buttons) {
  if (StreamLogEcho* echo = echo_.load()) echo->Flush();
  return StderrMessageBoxes::Show(text, caption, icon, buttons);
}

std::string RunnerLogPath(const RunnerProgram& program, const RunnerOptions& options) {
  return program.log.ResolveLogFilename(LogPathFor(program, options));
}

std::string CheckOutputPaths(const RunnerProgram& program, const RunnerOptions& options) {
  const std::vector<std::pair<std::string, std::string>> outputs = {
      {"--log", RunnerLogPath(program, options)},
      {"--timeline", options.timelinePath},
      {"--client-log", options.clientLogPath},
      {"--save", options.savePath},
  };
  for (size_t i = 0; i < outputs.size(); ++i) {
    for (size_t j = i + 1; j < outputs.size(); ++j) {
      if (outputs[i].second.empty() || outputs[j].second.empty()) continue;
      if (SameOutputFile(outputs[i].second, outputs[j].second)) {
        return "options " + outputs[i].first + " and " + outputs[j].first + " name the same file " +
               outputs[j].second + "; each output needs a file of its own";
      }
    }
  }
  return std::string();
}

int RunSetup(RunnerProgram& program, const RunnerOptions& options, std::FILE* out, std::FILE* err,
             StreamLogEcho* echo, std::vector<std::string>& problems) {
  // Output of our own comes after the entries echoed before it.
  auto sync = [echo] {
    if (echo != nullptr) echo->Flush();
  };
  program.log.SetLogFilename(LogPathFor(program, options));
  for (const LogOpenFailure& failed : program.log.TakeOpenFailures()) {
    sync();
    if (failed.failure.kind == OutputFileFailure::kInUse) {
      // Two programs writing one log would splice their lines.
      std::fprintf(err, "orvanta-run: cannot open the log file %s: %s\n", failed.path.c_str(),
                   failed.failure.reason.c_str());
      std::fflush(err);
      return kExitSetupFailed;
    }
    std::fprintf(err,
                 "orvanta-run: warning: the log file %s could not be opened: %s; log "
                 "entries are not written to a file\n",
                 failed.path.c_str(), failed.failure.reason.c_str());
  }

  if (options.hasSeed) program.deck.Seed(options.seed);
  // A check or a dry run writes its own log and nothing else.
  const bool touchesNoOtherFile = options.check || options.dryRun;
  program.commands.SetLogFileSwitching(!touchesNoOtherFile);

  for (const std::string& path : options.setupFiles) {
    const int result = program.config.ProcessScript(path);
    const ScriptOutcome& outcome = program.config.GetLastOutcome();
    sync();
    WarnLogOpenFailures(program, path, err);
    for (const std::string& skipped : program.commands.TakeSkippedLogFiles()) {
      const std::string target = program.log.ResolveLogFilename(skipped);
      if (options.check) {
        problems.push_back(path + ": -SetLogFile \"" + skipped + "\" was not carried out (a " +
                           "check opens no file); a run would write its log to " + target + ".");
      } else {
        std::fprintf(err,
                     "orvanta-run: warning: %s: -SetLogFile \"%s\" was not carried out (a "
                     "dry run writes no log but its own); a run would write its log to %s\n",
                     path.c_str(), skipped.c_str(), target.c_str());
      }
    }
    if (result != 0) {
      if (outcome.kind == ScriptOutcome::kOpenFailed) {
        std::fprintf(err, "orvanta-run: cannot open setup file %s: %s\n", path.c_str(),
                     OpenFailureReason(path).c_str());
      }
      // A failed command, or a line that could not be read, has been shown
      // in the Configuration File Error box on stderr already.
      std::fflush(err);
      return kExitSetupFailed;
    }
  }

  // After the setup files, so that they override their -SetTimingMode,
  // -SetTimingTolerance and -SetStartOfTrialTrigger, and before --save, so
  // that the saved setup carries them.
  if (options.hasSchedule) program.trials.SetTimingMode(options.schedule);
  if (options.hasTolerance) program.trials.SetTimingTolerance(options.toleranceMs);
  if (std::string error; ApplyTriggerChanges(program, options, error) != kExitOk) {
    sync();
    std::fprintf(err, "orvanta-run: %s (see orvanta-run --help)\n", error.c_str());
    std::fflush(err);
    return kExitUsage;
  }

  if (options.shuffle && program.deck.Shuffle() != 0) {
    sync();
    std::fprintf(err, "orvanta-run: warning: %s\n", program.deck.GetMessage().c_str());
  }

  if (options.printOrder) {
    const std::vector<int32_t> order = program.deck.GetOrder();
    // The look-ups below log only on failure; printed after the echo so far.
    sync();
    for (size_t i = 0; i < order.size(); ++i) {
      Trial* trial = nullptr;
      // A card whose type cannot be had prints no line; the following lines
      // keep their own positions, as in the window's list.
      if (program.trials.GetTrial(order[i], trial) != 0 || trial == nullptr) continue;
      std::fprintf(out, "%i.  %s\n", static_cast<int>(i + 1), trial->GetName().c_str());
    }
    std::fflush(out);
  }

  if (!options.savePath.empty()) {
    const SetupFileSaveResult saved = program.config.SaveSetupFile(options.savePath);
    sync();
    for (const std::string& warning : saved.warnings) {
      std::fprintf(err, "orvanta-run: warning: %s\n", warning.c_str());
    }
    if (saved.status != 0) {
      std::fprintf(err, "orvanta-run: cannot save the setup file %s: %s\n",
                   options.savePath.c_str(), saved.error.c_str());
      std::fflush(err);
      return kExitSetupFailed;
    }
  }
  std::fflush(err);
  return kExitOk;
}

}  // namespace orvanta::runner
