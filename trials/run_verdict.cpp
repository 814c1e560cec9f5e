#include "trials/run_verdict.h"

namespace orvanta {

RunVerdict RunVerdict::Of(const RunSummary& end, RunRecordState record) {
  RunVerdict verdict;
  verdict.outcome = end.outcome;
  verdict.timingOutside = !end.timing.Within();
  verdict.withoutRecord = record == RunRecordState::kNotWritten;
  verdict.summary = end;
  return verdict;
}

std::string RunVerdict::Name() const {
  switch (outcome) {
    case RunOutcome::kStopped:
      return "stopped";
    case RunOutcome::kFailed:
      return "failed";
    case RunOutcome::kCompleted:
      break;
  }
  std::string name = "completed";
  if (timingOutside) name += " with timing outside tolerance";
  if (withoutRecord) name += timingOutside ? ", without a record" : " without a record";
  return name;
}

std::string RunVerdict::StatusText() const {
  switch (outcome) {
    case RunOutcome::kStopped:
      return "Stopped";
    case RunOutcome::kFailed:
      return "Failed";
    case RunOutcome::kCompleted:
      break;
  }
  std::string text = "Completed";
  if (timingOutside) text += ": timing outside tolerance";
  if (withoutRecord) text += timingOutside ? ", no record" : ": no record";
  return text;
}

std::string RunVerdict::QualifierText(const char* lineBreak) const {
  std::string text;
  if (timingOutside) {
    text += "The timing was outside the tolerance: " + summary.timing.Describe() + ".";
  }
  if (withoutRecord) {
    if (!text.empty()) text += lineBreak;
    text += "No session record was written.";
  }
  return text;
}

std::string RunVerdict::FailureText() const {
  const RunSummary& end = summary;
  if (end.connectionLost) {
    return "Trial processing ended at trial #" + std::to_string(end.lostAt.trialNumber) +
           ", the connection to Quorvin was lost: " + end.lostAt.status.Describe() +
           ".  Command: " + end.lostAt.command;
  }
  if (end.failedCommands > 0) {
    return "Trials completed with errors, " + std::to_string(end.failedCommands) +
           (end.failedCommands == 1 ? " command" : " commands") +
           " failed.  The first failure was in trial #" +
           std::to_string(end.firstFailure.trialNumber) + ": " +
           end.firstFailure.status.Describe() + ".  Command: " + end.firstFailure.command;
  }
  return std::string();
}

std::string RunVerdict::BoxText() const {
  if (Plain()) return "Trials Completed Successfully";
  std::string head;
  if (outcome == RunOutcome::kCompleted) {
    head = "Trials completed ";
    if (timingOutside) head += "with timing outside the tolerance";
    if (withoutRecord)
      head += timingOutside ? ", without a session record" : "without a session record";
    head += ".";
  } else {
    head = FailureText();
    if (head.empty()) head = outcome == RunOutcome::kStopped ? "Trials stopped." : "Trials failed.";
  }
  const std::string more = QualifierText("\r\n");
  return more.empty() ? head : head + "\r\n\r\n" + more;
}

}  // namespace orvanta
