#include "trials/run_verdict.h"

namespace orvanta {

RunVerdict RunVerdict::Of(const RunSummary& end, RunRecordState record) {
  RunVerdict verdict;
  verdict.outcome = end.outcome;
  verdict.timingOutside = !end.timing.Within();
  verdict.withoutRecord = record == RunRecordState::kNotWritten;
  verdict.triggersTimedOut = end.triggerTimeouts > 0;
  verdict.summary = end;
  return verdict;
}

namespace {

// The qualifiers of a completed run, in the words of one place: each
// verdict text joins those that apply.
struct Qualifier {
  bool RunVerdict::*applies;
  const char* name;    // Name(): "completed <name>, <name>"
  const char* status;  // StatusText(): "Completed: <status>, <status>"
  const char* box;     // BoxText(): "Trials completed <box>, <box>."
};

constexpr Qualifier kQualifiers[] = {
    {&RunVerdict::timingOutside, "with timing outside tolerance", "timing outside tolerance",
     "with timing outside the tolerance"},
    {&RunVerdict::triggersTimedOut, "with trigger time-outs", "trigger time-outs",
     "with start triggers that timed out"},
    {&RunVerdict::withoutRecord, "without a record", "no record", "without a session record"},
};

std::string Joined(const RunVerdict& verdict, const char* Qualifier::*text, const char* first) {
  std::string joined;
  for (const Qualifier& q : kQualifiers) {
    if (!(verdict.*q.applies)) continue;
    joined += joined.empty() ? first : ", ";
    joined += q.*text;
  }
  return joined;
}

std::string Plural(int32_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

}  // namespace

std::string RunVerdict::Name() const {
  switch (outcome) {
    case RunOutcome::kStopped:
      return "stopped";
    case RunOutcome::kFailed:
      return "failed";
    case RunOutcome::kCompleted:
      break;
  }
  return "completed" + Joined(*this, &Qualifier::name, " ");
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
  return "Completed" + Joined(*this, &Qualifier::status, ": ");
}

std::string RunVerdict::QualifierText(const char* lineBreak) const {
  std::string text;
  auto add = [&](const std::string& sentence) {
    if (!text.empty()) text += lineBreak;
    text += sentence;
  };
  if (timingOutside)
    add("The timing was outside the tolerance: " + summary.timing.Describe() + ".");
  if (triggersTimedOut) {
    add("Start triggers timed out: " + std::to_string(summary.triggerTimeouts) + " of " +
        std::to_string(summary.triggerWaits) + ", " +
        Plural(summary.triggerSkipped, "trial", "trials") + " skipped.");
  }
  if (withoutRecord) add("No session record was written.");
  return text;
}

std::string RunVerdict::FailureText() const {
  const RunSummary& end = summary;
  if (!end.triggerFailure.empty()) return end.triggerFailure;
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
    head = "Trials completed" + Joined(*this, &Qualifier::box, " ") + ".";
  } else {
    head = FailureText();
    if (head.empty()) head = outcome == RunOutcome::kStopped ? "Trials stopped." : "Trials failed.";
  }
  const std::string more = QualifierText("\r\n");
  return more.empty() ? head : head + "\r\n\r\n" + more;
}

}  // namespace orvanta
