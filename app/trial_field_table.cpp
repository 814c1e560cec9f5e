#include "app/trial_field_table.h"

#include <cstdlib>

namespace orvanta {

const TrialField& FieldOf(const char* key) {
  const TrialField* field = FindTrialFieldByKey(key);
  if (field == nullptr) std::abort();  // a misspelt key in the tables below
  return *field;
}

const EdgeSideUi kStartOfTrialUi{
    "Start of Trial",
    ctl::kStartOfTrialGroup,
    {"Generate Event", ctl::kStartGenerateEventCheck, "start.generateEvent"},
    TextFieldUi("Event String", ctl::kStartEventStringLabel, ctl::kStartEventStringEdit,
                "start.eventString", true),
    NumberFieldUi("TTL Value", ctl::kStartTtlValueLabel, ctl::kStartTtlValueEdit,
                  "start.eventTTLValue"),
    {"Generate TTL Pulse", ctl::kStartGenerateTtlPulseCheck, "start.generateTTLPulse"},
    NumberFieldUi("Bit Number", ctl::kStartBitNumberLabel, ctl::kStartBitNumberEdit,
                  "start.pulseBitNumber"),
    NumberFieldUi("Duration (ms)", ctl::kStartPulseDurationLabel, ctl::kStartPulseDurationEdit,
                  "start.pulseDuration"),
    NumberFieldUi("Board Number", ctl::kStartBoardNumberLabel, ctl::kStartBoardNumberEdit,
                  "start.pulseBoardNumber"),
    TextFieldUi("Sub System Name", ctl::kStartSubSystemNameLabel, ctl::kStartSubSystemNameEdit,
                "start.pulseSubSystemName", false),
    true,
};

const EdgeSideUi kEndOfTrialUi{
    "End of Trial",
    ctl::kEndOfTrialGroup,
    {"Generate Event", ctl::kEndGenerateEventCheck, "end.generateEvent"},
    TextFieldUi("Event String", ctl::kEndEventStringLabel, ctl::kEndEventStringEdit,
                "end.eventString", true),
    NumberFieldUi("TTL Value", ctl::kEndTtlValueLabel, ctl::kEndTtlValueEdit, "end.eventTTLValue"),
    {"Generate TTL Pulse", ctl::kEndGenerateTtlPulseCheck, "end.generateTTLPulse"},
    NumberFieldUi("Bit Number", ctl::kEndBitNumberLabel, ctl::kEndBitNumberEdit,
                  "end.pulseBitNumber"),
    NumberFieldUi("Duration (ms)", ctl::kEndPulseDurationLabel, ctl::kEndPulseDurationEdit,
                  "end.pulseDuration"),
    NumberFieldUi("Board Number", ctl::kEndBoardNumberLabel, ctl::kEndBoardNumberEdit,
                  "end.pulseBoardNumber"),
    TextFieldUi("Sub System Name", ctl::kEndSubSystemNameLabel, ctl::kEndSubSystemNameEdit,
                "end.pulseSubSystemName", false),
    false,
};

const TrialFieldUi kTrialDurationUi = NumberFieldUi("Trial Duration (ms)", ctl::kTrialDurationLabel,
                                                    ctl::kTrialDurationEdit, "duration");
const TrialFieldUi kInterTrialIntervalUi =
    NumberFieldUi("Inter Trial Interval (ms)", ctl::kInterTrialIntervalLabel,
                  ctl::kInterTrialIntervalEdit, "interval");

const TrialSwitchUi kPlayWavFileUi{"Play Wav File", ctl::kPlayWavFileCheck, "playWav"};
const TrialFieldUi kWavFileNameUi =
    TextFieldUi("File Name", ctl::kWavFileNameLabel, ctl::kWavFileNameEdit, "wavFileName", true);
const TrialFieldUi kWavBufferNumberUi = NumberFieldUi("Buffer Number", ctl::kWavBufferNumberLabel,
                                                      ctl::kWavBufferNumberEdit, "wavBufferNumber");
const TrialFieldUi kWavBoardNumberUi = NumberFieldUi("Board Number", ctl::kWavBoardNumberLabel,
                                                     ctl::kWavBoardNumberEdit, "wavBoardNumber");
const TrialFieldUi kWavSubSystemNameUi =
    TextFieldUi("Sub System Name", ctl::kWavSubSystemNameLabel, ctl::kWavSubSystemNameEdit,
                "wavSubSystemName", false);

}  // namespace orvanta
