// Captions and texts of the main window's boxes and titles, shared by its
// parts. Qt-free.
#pragma once

namespace orvanta {

// Caption of the window's editing, type-list and connection error boxes.
inline constexpr const char kTrialTypePropertiesError[] = "Trial Type Properties Error";
inline constexpr const char kEmptyFieldMessage[] =
    "Unable to set new value, this field cannot be empty.  The previous value was not changed.";
// A start trigger's count below 1.
inline constexpr const char kTriggerCountMessage[] =
    "Unable to set new value, the trigger count must be at least 1.  The previous value was not "
    "changed.";
// A start trigger's window or timeout below 0.
inline constexpr const char kTriggerNegativeMessage[] =
    "Unable to set new value, the trigger window and timeout cannot be negative.  The previous "
    "value was not changed.";
// Caption of the run's own boxes (refused Start, completion, refusals during
// a run).
inline constexpr const char kTrialProcessingCaption[] = "Trial Processing";
inline constexpr const char kNotConnectedMessage[] =
    "Unable to process trials, a connection to Quorvin has not been established";
inline constexpr const char kEmptyRunMessage[] =
    "Unable to process trials, the trial order is empty.  Add trial types with a Trial Count "
    "above 0 first.";
// What the window refuses while trials are being processed, because it would
// change the order the run is dealing from.
inline constexpr const char kShuffleTypeDuringRunMessage[] =
    "Unable to change the shuffle type while trials are being processed.  The trial order of "
    "the run was not changed.  Stop the run first.";
inline constexpr const char kOpenDuringRunMessage[] =
    "Unable to open a configuration file while trials are being processed.  The setup of the "
    "run was not changed.  Stop the run first, then open the file again.";
inline constexpr const char kConnectedTitle[] = "Orvanta - Connected To Server";
inline constexpr const char kDisconnectedTitle[] = "Orvanta - Disconnected From Server";
// The client's own log, beside the application log.
inline constexpr const char kClientLogFileName[] = "VintraClientLog.txt";
inline constexpr const char kSaveFailedCaption[] = "Save Current Settings to File Failed";
inline constexpr const char kSaveWarningCaption[] = "Save Current Settings to File";

}  // namespace orvanta
