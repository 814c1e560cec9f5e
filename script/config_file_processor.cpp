#include "script/config_file_processor.h"

#include <cstdlib>

#include "log/log_capture.h"
#include "log/log_file.h"
#include "platform/message_box.h"
#include "platform/text_format.h"
#include "script/command_processor.h"
#include "script/format_cmd_line.h"
#include "script/setup_file_save.h"
#include "trials/card_deck.h"
#include "trials/trial.h"
#include "trials/trial_container.h"
#include "trials/trial_fields.h"

namespace orvanta {

using text_format::Format;

namespace {

constexpr int kVersionMajor = 1;
constexpr int kVersionMinor = 0;

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& line : lines) {
    if (!out.empty()) out += "\r\n";
    out += line;
  }
  return out;
}

// A line as a box shows it: at most 200 characters.
std::string ShownLine(const std::string& line) {
  constexpr size_t kMaxShown = 200;
  if (line.size() <= kMaxShown) return line;
  return line.substr(0, kMaxShown) + "...";
}

// The end of the box of a load that stopped early: why, and what was kept.
std::string ReasonAndKeptText(const ScriptOutcome& outcome, int numTypes) {
  std::string text =
      "Reason: " + (outcome.reason.empty() ? std::string("see the logfile") : outcome.reason);
  text += Format(
      "\r\n\r\nThe lines before line %d were loaded and stay in the setup (%d trial "
      "type%s now loaded); line %d and the lines after it were not run.\r\n",
      static_cast<int>(outcome.lineNumber), numTypes, numTypes == 1 ? " is" : "s are",
      static_cast<int>(outcome.lineNumber));
  return text;
}

// What in `value` a setup file cannot carry, as a phrase ("\"#\" and a
// double quote"), or "" when it reads back unchanged.
std::string UnreadableParts(const std::string& value) {
  std::vector<std::string> parts;
  if (value.find('#') != std::string::npos) parts.emplace_back("\"#\"");
  if (value.find("//") != std::string::npos) parts.emplace_back("\"//\"");
  if (value.find('"') != std::string::npos) parts.emplace_back("a double quote");
  if (value.find('\t') != std::string::npos) parts.emplace_back("a tab");
  if (value.find_first_of("\r\n") != std::string::npos) parts.emplace_back("a line break");
  std::string out;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) out += i + 1 == parts.size() ? " and " : ", ";
    out += parts[i];
  }
  return out;
}

}  // namespace

ConfigFileProcessor::ConfigFileProcessor(LogFile& log, TrialContainer& trials, CardDeck& deck,
                                         CommandProcessor& commands, MessageBoxes& boxes,
                                         const Clock& clock)
    : log_(log), trials_(trials), deck_(deck), commands_(commands), boxes_(boxes), clock_(clock) {}

ConfigFileProcessor::~ConfigFileProcessor() = default;

int ConfigFileProcessor::ProcessScript(const std::string& path) {
  mLastOutcome = ScriptOutcome{};
  // The ERROR entries of this load tell the user why it stopped.
  LogErrorCapture errors;
  FormatCmdLine reader(log_);
  log_.WriteLogEntry(
      kLogNotice, Format("ConfigFileProcessor::ProcessScript() - Started Processing Filename: %s",
                         path.c_str()));
  if (reader.OpenFileCfg(path) != 0) {
    mLastOutcome.kind = ScriptOutcome::kOpenFailed;
    mLastOutcome.reason = JoinLines(errors.errors());
    return -1;
  }
  reader.SetReturnCommandLines(true);
  reader.SetReturnCommentLines(false);
  reader.SetReturnMacroLines(false);
  reader.SetReturnBlankLines(false);

  std::string line;
  int32_t lineNumber = 0;
  for (;;) {
    if (reader.GetNextLine(line, lineNumber) != 0) {
      if (reader.ReachedEndOfFile()) {
        log_.WriteLogEntry(
            kLogNotice,
            Format("ConfigFileProcessor::ProcessScript() - Finished Processing Filename: %s",
                   path.c_str()));
        mLastOutcome.kind = ScriptOutcome::kCompleted;
        return 0;
      }
      // A line the reader could not read ends the load as a failure: the
      // rest of the file was not run.
      mLastOutcome.kind = ScriptOutcome::kStoppedEarly;
      mLastOutcome.lineNumber = reader.GetStopLineNumber();
      mLastOutcome.commandLine = reader.GetStopLine();
      ReportStoppedLoad(path, errors.errors());
      return -1;
    }
    log_.WriteLogEntry(kLogNotice,
                       Format("ConfigFileProcessor::ProcessScript() - Next Ascii Command to "
                              "Process.  Line Number: %i, Command Line: %s, Filename: %s",
                              static_cast<int>(lineNumber), line.c_str(), path.c_str()));
    if (commands_.ProcessCommandString(line) != 0) break;
  }

  mLastOutcome.kind = ScriptOutcome::kCommandFailed;
  mLastOutcome.lineNumber = lineNumber;
  mLastOutcome.commandLine = line;
  mLastOutcome.reason = JoinLines(errors.errors());
  mMessage = Format(
      "ConfigFileProcessor::ProcessScript() - Error, Command String failed to execute.  Line "
      "Number: %i, Command Line: %s, Filename: %s",
      static_cast<int>(lineNumber), line.c_str(), path.c_str());
  log_.WriteLogEntry(kLogError, mMessage);
  boxes_.Show(Format("There was an error processing your configuration file.  See the logfile "
                     "for details.\r\n\r\nFile: %s\r\nLine Number: %d\r\nCommand: %s\r\n",
                     path.c_str(), static_cast<int>(lineNumber), line.c_str()) +
                  ReasonAndKeptText(mLastOutcome, trials_.GetNumTrials()),
              "Configuration File Error", BoxIcon::kError, BoxButtons::kOk);
  return -1;
}

void ConfigFileProcessor::ReportStoppedLoad(const std::string& path,
                                            const std::vector<std::string>& errors) {
  mLastOutcome.reason = JoinLines(errors);
  if (mLastOutcome.reason.empty()) mLastOutcome.reason = "the line could not be read";
  const std::string shown = ShownLine(mLastOutcome.commandLine);
  mMessage = Format(
      "ConfigFileProcessor::ProcessScript() - Error, processing stopped at a line that could not "
      "be read; the rest of the file was not run.  Line Number: %i, Line: %s, Filename: %s",
      static_cast<int>(mLastOutcome.lineNumber), shown.c_str(), path.c_str());
  log_.WriteLogEntry(kLogError, mMessage);
  boxes_.Show(Format("Your configuration file could not be read to its end.  See the logfile for "
                     "details.\r\n\r\nFile: %s\r\nLine Number: %d\r\nLine: %s\r\n",
                     path.c_str(), static_cast<int>(mLastOutcome.lineNumber), shown.c_str()) +
                  ReasonAndKeptText(mLastOutcome, trials_.GetNumTrials()),
              "Configuration File Error", BoxIcon::kError, BoxButtons::kOk);
}

int ConfigFileProcessor::ClearSetup() {
  const std::vector<std::string> names = trials_.GetTrialNames();
  for (const std::string& name : names) trials_.RemoveTrial(name);
  deck_.SetShuffleType(Normal);
  deck_.SetMaxConsectutiveSameSuitCards(1);
  mMessage = Format(
      "ConfigFileProcessor::ClearSetup() - The setup was cleared for a new one.  "
      "Trial types removed: %d",
      static_cast<int>(names.size()));
  log_.WriteLogEntry(kLogNotice, mMessage);
  return 0;
}

std::string ConfigFileProcessor::GetSetupLines() {
  return log_.GetSetupFileLines() + trials_.GetSetupFileLines() + deck_.GetSetupFileLines(trials_);
}

std::string ConfigFileProcessor::GetSetupFileText(const LocalTime& now) {
  std::string text = "#Orvanta system setup file\r\n";
  text += Format("#Generated using Orvanta v%d.%d\r\n", kVersionMajor, kVersionMinor);
  text += Format("#File Generation Date: %u-%02u-%02u %02u:%02u:%02u\r\n\r\n",
                 static_cast<unsigned>(now.year), static_cast<unsigned>(now.month),
                 static_cast<unsigned>(now.day), static_cast<unsigned>(now.hour),
                 static_cast<unsigned>(now.minute), static_cast<unsigned>(now.second));
  text += "#Orvanta Setup\r\n";
  text += log_.GetSetupFileLines();
  text += trials_.GetSetupFileLines();
  text += deck_.GetSetupFileLines(trials_);
  // Nothing unless the fixed schedule or a tolerance other than the default
  // was chosen.
  text += trials_.GetTimingSetupLines();
  return text;
}

int ConfigFileProcessor::WriteSetupFile(std::FILE* file) {
  const std::string text = GetSetupFileText(clock_.Now());
  std::fwrite(text.data(), 1, text.size(), file);
  return 0;
}

std::vector<std::string> ConfigFileProcessor::FindUnreadableValues() {
  std::vector<std::string> problems;

  const std::string logPath = log_.GetFilePath();
  if (logPath.empty()) {
    problems.emplace_back("The log file path is empty and will not read back from the setup file.");
  } else if (const std::string parts = UnreadableParts(logPath); !parts.empty()) {
    problems.push_back(
        Format("The log file path \"%s\" holds %s and will not read back from the "
               "setup file.",
               logPath.c_str(), parts.c_str()));
  }

  for (const std::string& name : trials_.GetTrialNames()) {
    if (const std::string parts = UnreadableParts(name); !parts.empty()) {
      problems.push_back(
          Format("The trial type name \"%s\" holds %s and will not read back from "
                 "the setup file.",
                 name.c_str(), parts.c_str()));
    }
    Trial* trial = nullptr;
    if (trials_.GetTrial(name, trial) != 0 || trial == nullptr) continue;
    for (const TrialField& field : TrialFields()) {
      if (field.kind != FieldKind::kText) continue;
      const std::string value = field.GetText(*trial);
      if (value.empty()) {
        if (field.savedWhenEmpty) {
          problems.push_back(
              Format("Trial type \"%s\": the %s is empty and will not read back "
                     "from the setup file.",
                     name.c_str(), field.unreadableLabel.c_str()));
        }
        continue;
      }
      if (const std::string parts = UnreadableParts(value); !parts.empty()) {
        problems.push_back(
            Format("Trial type \"%s\": the %s \"%s\" holds %s and will not read "
                   "back from the setup file.",
                   name.c_str(), field.unreadableLabel.c_str(), value.c_str(), parts.c_str()));
      }
    }
  }

  // Lines the reader refuses as too long.
  const std::string text = GetSetupFileText(clock_.Now());
  size_t start = 0;
  int lineNumber = 0;
  while (start < text.size()) {
    ++lineNumber;
    size_t end = text.find("\r\n", start);
    if (end == std::string::npos) end = text.size();
    const size_t length = end - start;
    if (length > kMaxScriptLineLength) {
      problems.push_back(
          Format("Line %d of the setup file is %zu characters long; lines longer "
                 "than %zu characters do not read back.",
                 lineNumber, length, kMaxScriptLineLength));
    }
    start = end + 2;
  }
  return problems;
}

SetupFileSaveResult ConfigFileProcessor::SaveSetupFile(const std::string& path) {
  SetupFileSaveResult result;
  auto fail = [&](const std::string& reason) -> SetupFileSaveResult& {
    result.status = -1;
    result.error = reason;
    mMessage = Format(
        "ConfigFileProcessor::SaveSetupFile() - Error, unable to save the setup file.  Filename: "
        "%s, Reason: %s",
        path.c_str(), reason.c_str());
    log_.WriteLogEntry(kLogError, mMessage);
    return result;
  };
  if (path.empty()) return fail("no file name was given");

  const std::string failure =
      ReplaceSetupFile(path, [this](std::FILE* file) { WriteSetupFile(file); });
  if (!failure.empty()) return fail(failure);
  result.status = 0;
  result.warnings = FindUnreadableValues();
  return result;
}

}  // namespace orvanta
