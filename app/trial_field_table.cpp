#include "app/trial_field_table.h"

namespace orvanta {

const EdgeSideUi kStartOfTrialUi{
    "Start of Trial",
    ctl::kStartOfTrialGroup,
    {"Generate Event", ctl::kStartGenerateEventCheck, &Trial::GetStartOfTrialGenerateEvent,
     &Trial::SetStartOfTrialGenerateEvent},
    TextFieldUi("Event String", ctl::kStartEventStringLabel, ctl::kStartEventStringEdit,
                &Trial::GetStartOfTrialEventString, &Trial::SetStartOfTrialEventString, true),
    NumberFieldUi("TTL Value", ctl::kStartTtlValueLabel, ctl::kStartTtlValueEdit,
                  &Trial::GetStartOfTrialEventTTLValue, &Trial::SetStartOfTrialEventTTLValue),
    {"Generate TTL Pulse", ctl::kStartGenerateTtlPulseCheck,
     &Trial::GetStartOfTrialGenerateTTLPulse, &Trial::SetStartOfTrialGenerateTTLPulse},
    NumberFieldUi("Bit Number", ctl::kStartBitNumberLabel, ctl::kStartBitNumberEdit,
                  &Trial::GetStartOfTrialTTLPulseBitNumber,
                  &Trial::SetStartOfTrialTTLPulseBitNumber),
    NumberFieldUi("Duration (ms)", ctl::kStartPulseDurationLabel, ctl::kStartPulseDurationEdit,
                  &Trial::GetStartOfTrialTTLPulseDuration, &Trial::SetStartOfTrialTTLPulseDuration),
    NumberFieldUi("Board Number", ctl::kStartBoardNumberLabel, ctl::kStartBoardNumberEdit,
                  &Trial::GetStartOfTrialTTLPulseBoardNumber,
                  &Trial::SetStartOfTrialTTLPulseBoardNumber),
    TextFieldUi("Sub System Name", ctl::kStartSubSystemNameLabel, ctl::kStartSubSystemNameEdit,
                &Trial::GetStartOfTrialTTLPulseSubSystemName,
                &Trial::SetStartOfTrialTTLPulseSubSystemName, false),
};

const EdgeSideUi kEndOfTrialUi{
    "End of Trial",
    ctl::kEndOfTrialGroup,
    {"Generate Event", ctl::kEndGenerateEventCheck, &Trial::GetEndOfTrialGenerateEvent,
     &Trial::SetEndOfTrialGenerateEvent},
    TextFieldUi("Event String", ctl::kEndEventStringLabel, ctl::kEndEventStringEdit,
                &Trial::GetEndOfTrialEventString, &Trial::SetEndOfTrialEventString, true),
    NumberFieldUi("TTL Value", ctl::kEndTtlValueLabel, ctl::kEndTtlValueEdit,
                  &Trial::GetEndOfTrialEventTTLValue, &Trial::SetEndOfTrialEventTTLValue),
    {"Generate TTL Pulse", ctl::kEndGenerateTtlPulseCheck, &Trial::GetEndOfTrialGenerateTTLPulse,
     &Trial::SetEndOfTrialGenerateTTLPulse},
    NumberFieldUi("Bit Number", ctl::kEndBitNumberLabel, ctl::kEndBitNumberEdit,
                  &Trial::GetEndOfTrialTTLPulseBitNumber, &Trial::SetEndOfTrialTTLPulseBitNumber),
    NumberFieldUi("Duration (ms)", ctl::kEndPulseDurationLabel, ctl::kEndPulseDurationEdit,
                  &Trial::GetEndOfTrialTTLPulseDuration, &Trial::SetEndOfTrialTTLPulseDuration),
    NumberFieldUi("Board Number", ctl::kEndBoardNumberLabel, ctl::kEndBoardNumberEdit,
                  &Trial::GetEndOfTrialTTLPulseBoardNumber,
                  &Trial::SetEndOfTrialTTLPulseBoardNumber),
    TextFieldUi("Sub System Name", ctl::kEndSubSystemNameLabel, ctl::kEndSubSystemNameEdit,
                &Trial::GetEndOfTrialTTLPulseSubSystemName,
                &Trial::SetEndOfTrialTTLPulseSubSystemName, false),
};

const TrialFieldUi kTrialDurationUi =
    NumberFieldUi("Trial Duration (ms)", ctl::kTrialDurationLabel, ctl::kTrialDurationEdit,
                  &Trial::GetTrialDuration, &Trial::SetTrialDuration);
const TrialFieldUi kInterTrialIntervalUi = NumberFieldUi(
    "Inter Trial Interval (ms)", ctl::kInterTrialIntervalLabel, ctl::kInterTrialIntervalEdit,
    &Trial::GetInterTrialInterval, &Trial::SetInterTrialInterval);

const TrialSwitchUi kPlayWavFileUi{"Play Wav File", ctl::kPlayWavFileCheck, &Trial::GetPlayWavFile,
                                   &Trial::SetPlayWavFile};
const TrialFieldUi kWavFileNameUi =
    TextFieldUi("File Name", ctl::kWavFileNameLabel, ctl::kWavFileNameEdit, &Trial::GetWavFileName,
                &Trial::SetWavFileName, true);
const TrialFieldUi kWavBufferNumberUi =
    NumberFieldUi("Buffer Number", ctl::kWavBufferNumberLabel, ctl::kWavBufferNumberEdit,
                  &Trial::GetWavFileBufferNumber, &Trial::SetWavFileBufferNumber);
const TrialFieldUi kWavBoardNumberUi =
    NumberFieldUi("Board Number", ctl::kWavBoardNumberLabel, ctl::kWavBoardNumberEdit,
                  &Trial::GetWavFileBoardNumber, &Trial::SetWavFileBoardNumber);
const TrialFieldUi kWavSubSystemNameUi =
    TextFieldUi("Sub System Name", ctl::kWavSubSystemNameLabel, ctl::kWavSubSystemNameEdit,
                &Trial::GetWavFileSubSystemName, &Trial::SetWavFileSubSystemName, false);

}  // namespace orvanta
