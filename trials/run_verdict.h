// The one verdict of a run, computed once when it ends from its outcome, its
// timing check and whether a record was written. Every front end reports it
// in its own place (end box, status bar, log, orvanta-run's output and exit
// status, session record) by reading this; none works it out again.
#pragma once

#include <cstdint>
#include <string>

#include "trials/run_observer.h"

namespace orvanta {

// The log line of a run that completed with nothing to qualify it; the
// window marks it green.
inline constexpr const char kRunCompletedLogText[] =
    "TrialContainer::ProcessTrials() - Trials completed successfully.  Trials run: ";

struct RunVerdict {
  RunOutcome outcome = RunOutcome::kCompleted;
  bool timingOutside = false;  // a step strayed beyond the tolerance
  bool withoutRecord = false;  // the front end keeps records, and this run has none
  // Start triggers timed out (their trials were played anyway or skipped).
  bool triggersTimedOut = false;
  RunSummary summary;

  static RunVerdict Of(const RunSummary& end, RunRecordState record);

  // Completed, with no qualifier: the only verdict that may say "successfully".
  bool Plain() const {
    return outcome == RunOutcome::kCompleted && !timingOutside && !triggersTimedOut &&
           !withoutRecord;
  }
  // "completed", "completed with timing outside tolerance", "completed with
  // trigger time-outs", "completed without a record" (several qualifiers:
  // joined with ", "), "stopped", "failed".
  std::string Name() const;
  // The end box's text: "Trials Completed Successfully" only for a plain
  // verdict; the failure text for a failed run; each qualifier on a line of
  // its own.
  std::string BoxText() const;
  // The status bar's word for the run: "Completed", "Completed: timing
  // outside tolerance", "Completed: trigger time-outs", "Completed: no
  // record" (several: joined with ", "), "Stopped", "Failed".
  std::string StatusText() const;
  // The qualifiers in sentences ("The timing was outside the tolerance: ...",
  // "Start triggers timed out: 2 of 5, 1 trial skipped.", "No session
  // record was written."), one per line; empty when none.
  std::string QualifierText(const char* lineBreak) const;
  // Why a run failed, in full (the box's and the ERROR line's text); empty
  // unless it failed with a lost connection or failed commands.
  std::string FailureText() const;
};

}  // namespace orvanta
