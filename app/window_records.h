// The window program's session records: the folder they go to (remembered
// between runs with QSettings), the record of each run started from the
// window, its report, and the plan of a resume.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/shell_open.h"
#include "record/session_record.h"
#include "trials/run_observer.h"

namespace orvanta {

class CardDeck;
class ConfigFileProcessor;
class LogFile;
class TrialContainer;
class VintraClient;

// Window thread only. The records handed to the trial worker are called on
// its thread (see record::SessionRecord) and live as long as this object,
// which the program destroys after the last worker has been joined.
class WindowRecords {
 public:
  // None of the arguments is owned; all must outlive the object.
  // `applicationDirectory` (with its trailing separator) is read at each use,
  // so it cannot be a temporary.
  WindowRecords(TrialContainer& trials, CardDeck& deck, ConfigFileProcessor& config, LogFile& log,
                const Clock& clock, ShellOpener& shell, const std::string& applicationDirectory);
  WindowRecords(TrialContainer&, CardDeck&, ConfigFileProcessor&, LogFile&, const Clock&,
                ShellOpener&, std::string&&) = delete;
  WindowRecords(const WindowRecords&) = delete;
  WindowRecords& operator=(const WindowRecords&) = delete;
  ~WindowRecords();

  // The client whose ports the records name (none: the default ports).
  void SetClient(const VintraClient* client) { client_ = client; }

  // Where record folders are made: the folder chosen with SetFolder, or
  // "OrvantaSessions" beside the application log.
  std::string folder() const;
  // Checks that records can be made in `folder` (record::CheckRecordsFolder)
  // and remembers it for this and later sessions of the program. False with
  // the reason, and nothing remembered, when they cannot.
  bool SetFolder(const std::string& folder, std::string& error);

  // The setup files the current setup came from, as the records name them:
  // a loaded file is added, New Setup clears them, a resume replaces them
  // with the continued record's.
  void SetupLoaded(const std::string& path);
  void SetupCleared() { sources_.clear(); }
  const std::vector<std::string>& setupSources() const { return sources_; }

  // Begins the record of a run about to start at `firstTrial` and sets it as
  // the worker's observer; logs the record's folder. False with the reason
  // when no record can be made (nothing is set then: the caller asks the
  // user, then calls RunWithoutRecord or starts nothing). `resumes` names
  // the record the run continues (empty for none).
  bool BeginRun(const std::string& serverName, int32_t firstTrial, const std::string& resumes,
                std::string& error);
  // The run about to start goes on without a record, because of `error`:
  // logged at ERROR, and the run's verdict says so.
  void RunWithoutRecord(const std::string& error);

  // The run begun last could not be started: its record ends as failed.
  void RunNotStarted();
  // Once the run begun last has ended, logs where its report is (once).
  void LogEndOfRun();

  // The report of the latest run that has ended, or empty.
  std::string lastReportPath() const;
  // Opens the latest report with the desktop's opener; the opener's result,
  // or 0 when there is no report yet.
  int OpenLastReport();

  struct ResumePlan {
    std::string folder;   // the record to continue
    std::string outcome;  // how its run ended ("interrupted" for a crash)
    int32_t firstTrial = 0;
    int32_t numTrials = 0;
    int32_t remaining = 0;  // trials that will run
    std::string types;      // "Tone 3, Light 2": the types of those trials, by its order
  };
  // Reads the record in `folder` for a resume. False with a reason when it
  // cannot be read, is still running, or has nothing left to run.
  bool PlanResume(const std::string& folder, ResumePlan& plan, std::string& error) const;

 private:
  TrialContainer& trials_;
  CardDeck& deck_;
  ConfigFileProcessor& config_;
  LogFile& log_;
  const Clock& clock_;
  ShellOpener& shell_;
  const std::string& applicationDirectory_;
  const VintraClient* client_ = nullptr;
  std::vector<std::string> sources_;
  // The worker's observer for a run without a record: its verdict says so.
  class NoRecord : public RunObserver {
   public:
    RunRecordState RecordState() override { return RunRecordState::kNotWritten; }
  };
  NoRecord noRecord_;
  // Every record of this program's life: the worker may still use the last.
  std::vector<std::unique_ptr<record::SessionRecord>> records_;
  bool endLogged_ = true;  // the last record's end has been logged
};

}  // namespace orvanta
