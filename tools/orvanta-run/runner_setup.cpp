#include "tools/orvanta-run/runner_setup.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
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

}  // namespace

void StreamLogEcho::AddLogMessage(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), out_);
  std::fputc('\n', out_);
  std::fflush(out_);
}

int RunSetup(RunnerProgram& program, const RunnerOptions& options, std::FILE* out,
             std::FILE* err) {
  program.log.SetLogFilename(LogPathFor(program, options));
  if (!program.log.IsOpen()) {
    std::fprintf(err, "orvanta-run: warning: the log file %s could not be opened; log entries "
                      "are not written to a file\n",
                 program.log.GetFilePath().c_str());
  }

  if (options.hasSeed) program.deck.Seed(options.seed);

  for (const std::string& path : options.setupFiles) {
    const int result = program.config.ProcessScript(path);
    const ScriptOutcome& outcome = program.config.GetLastOutcome();
    if (result != 0) {
      if (outcome.kind == ScriptOutcome::kOpenFailed) {
        std::fprintf(err, "orvanta-run: cannot open setup file %s: %s\n", path.c_str(),
                     OpenFailureReason(path).c_str());
      }
      // A failed command has been shown in the Configuration File Error box
      // on stderr already.
      std::fflush(err);
      return kExitSetupFailed;
    }
    if (outcome.kind == ScriptOutcome::kStoppedEarly) {
      std::fprintf(err, "orvanta-run: warning: %s: reading stopped at line %d, which could not "
                        "be read (see the log); the lines after it were not run\n",
                   path.c_str(), static_cast<int>(outcome.lineNumber));
    }
  }

  if (options.shuffle && program.deck.Shuffle() != 0) {
    std::fprintf(err, "orvanta-run: warning: %s\n", program.deck.GetMessage().c_str());
  }

  if (options.printOrder) {
    const std::vector<int32_t> order = program.deck.GetOrder();
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
