// The stable names of the main window's controls, with their numbers in the
// window's template. Each control carries its name as QObject::objectName and
// its number as the dynamic property "controlId", so that tests and users'
// automation can find it either way. Labels and groups without a number carry
// a name only. Qt-free.
#pragma once

namespace orvanta::ctl {

struct ControlName {
  int id;            // template number, 0 where the control has none
  const char* name;  // objectName
};

// Left column: trial list properties and run controls.
inline constexpr ControlName kShuffleTypeLabel{0, "shuffleTypeLabel"};
inline constexpr ControlName kShuffleTypeCombo{1002, "shuffleTypeCombo"};
inline constexpr ControlName kShuffleButton{1003, "shuffleButton"};
inline constexpr ControlName kMaxConsecutiveLabel{1004, "maxConsecutiveLabel"};
inline constexpr ControlName kMaxConsecutiveEdit{1005, "maxConsecutiveEdit"};
inline constexpr ControlName kTrialList{1006, "trialList"};
inline constexpr ControlName kCurrentTrialNumberLabel{0, "currentTrialNumberLabel"};
inline constexpr ControlName kCurrentTrialNumberText{1007, "currentTrialNumberText"};
inline constexpr ControlName kStartButton{1008, "startButton"};
inline constexpr ControlName kPauseButton{1009, "pauseButton"};
inline constexpr ControlName kStopButton{1010, "stopButton"};
inline constexpr ControlName kTimingToleranceLabel{0, "timingToleranceLabel"};
inline constexpr ControlName kTimingToleranceEdit{0, "timingToleranceEdit"};

// Right column: the trial type editor.
inline constexpr ControlName kTrialTypeList{1011, "trialTypeList"};
inline constexpr ControlName kAddTypeButton{1012, "addTypeButton"};
inline constexpr ControlName kRemoveTypeButton{1013, "removeTypeButton"};
inline constexpr ControlName kNameLabel{1014, "nameLabel"};
inline constexpr ControlName kNameEdit{1015, "nameEdit"};
inline constexpr ControlName kTrialCountLabel{1016, "trialCountLabel"};
inline constexpr ControlName kTrialCountEdit{1017, "trialCountEdit"};
inline constexpr ControlName kTrialDurationLabel{1018, "trialDurationLabel"};
inline constexpr ControlName kTrialDurationEdit{1019, "trialDurationEdit"};
inline constexpr ControlName kInterTrialIntervalLabel{1020, "interTrialIntervalLabel"};
inline constexpr ControlName kInterTrialIntervalEdit{1021, "interTrialIntervalEdit"};

inline constexpr ControlName kPlayWavFileCheck{1022, "playWavFileCheck"};
inline constexpr ControlName kBrowseButton{1023, "browseButton"};
inline constexpr ControlName kWavFileNameLabel{1024, "wavFileNameLabel"};
inline constexpr ControlName kWavFileNameEdit{1025, "wavFileNameEdit"};
inline constexpr ControlName kWavBufferNumberLabel{1026, "wavBufferNumberLabel"};
inline constexpr ControlName kWavBufferNumberEdit{1027, "wavBufferNumberEdit"};
inline constexpr ControlName kWavBoardNumberLabel{1028, "wavBoardNumberLabel"};
inline constexpr ControlName kWavBoardNumberEdit{1029, "wavBoardNumberEdit"};
inline constexpr ControlName kWavSubSystemNameLabel{1030, "wavSubSystemNameLabel"};
inline constexpr ControlName kWavSubSystemNameEdit{1031, "wavSubSystemNameEdit"};

inline constexpr ControlName kStartGenerateEventCheck{1032, "startGenerateEventCheck"};
inline constexpr ControlName kStartEventStringLabel{1033, "startEventStringLabel"};
inline constexpr ControlName kStartEventStringEdit{1034, "startEventStringEdit"};
inline constexpr ControlName kStartTtlValueLabel{1035, "startTtlValueLabel"};
inline constexpr ControlName kStartTtlValueEdit{1036, "startTtlValueEdit"};
inline constexpr ControlName kStartGenerateTtlPulseCheck{1037, "startGenerateTtlPulseCheck"};
inline constexpr ControlName kStartBitNumberLabel{1038, "startBitNumberLabel"};
inline constexpr ControlName kStartBitNumberEdit{1039, "startBitNumberEdit"};
inline constexpr ControlName kStartPulseDurationLabel{1040, "startPulseDurationLabel"};
inline constexpr ControlName kStartPulseDurationEdit{1041, "startPulseDurationEdit"};
inline constexpr ControlName kStartBoardNumberEdit{1042, "startBoardNumberEdit"};
inline constexpr ControlName kStartBoardNumberLabel{1043, "startBoardNumberLabel"};
inline constexpr ControlName kStartSubSystemNameEdit{1044, "startSubSystemNameEdit"};
inline constexpr ControlName kStartSubSystemNameLabel{1045, "startSubSystemNameLabel"};

// The start trigger (the start side only); numbers after the template's.
inline constexpr ControlName kStartWaitForTriggerCheck{1061, "startWaitForTriggerCheck"};
inline constexpr ControlName kStartTriggerObjectLabel{1062, "startTriggerObjectLabel"};
inline constexpr ControlName kStartTriggerObjectCombo{1063, "startTriggerObjectCombo"};
// The object combo box's own text field (it has no number of its own).
inline constexpr ControlName kStartTriggerObjectEdit{0, "startTriggerObjectEdit"};
inline constexpr ControlName kStartTriggerCountLabel{1064, "startTriggerCountLabel"};
inline constexpr ControlName kStartTriggerCountEdit{1065, "startTriggerCountEdit"};
inline constexpr ControlName kStartTriggerWindowLabel{1066, "startTriggerWindowLabel"};
inline constexpr ControlName kStartTriggerWindowEdit{1067, "startTriggerWindowEdit"};
inline constexpr ControlName kStartTriggerTimeoutLabel{1068, "startTriggerTimeoutLabel"};
inline constexpr ControlName kStartTriggerTimeoutEdit{1069, "startTriggerTimeoutEdit"};
inline constexpr ControlName kStartTriggerOnTimeoutLabel{1070, "startTriggerOnTimeoutLabel"};
inline constexpr ControlName kStartTriggerOnTimeoutCombo{1071, "startTriggerOnTimeoutCombo"};

inline constexpr ControlName kEndGenerateEventCheck{1046, "endGenerateEventCheck"};
inline constexpr ControlName kEndEventStringLabel{1047, "endEventStringLabel"};
inline constexpr ControlName kEndEventStringEdit{1048, "endEventStringEdit"};
inline constexpr ControlName kEndTtlValueLabel{1049, "endTtlValueLabel"};
inline constexpr ControlName kEndTtlValueEdit{1050, "endTtlValueEdit"};
inline constexpr ControlName kEndGenerateTtlPulseCheck{1051, "endGenerateTtlPulseCheck"};
inline constexpr ControlName kEndBitNumberLabel{1052, "endBitNumberLabel"};
inline constexpr ControlName kEndBitNumberEdit{1053, "endBitNumberEdit"};
inline constexpr ControlName kEndPulseDurationLabel{1054, "endPulseDurationLabel"};
inline constexpr ControlName kEndPulseDurationEdit{1055, "endPulseDurationEdit"};
inline constexpr ControlName kEndBoardNumberLabel{1056, "endBoardNumberLabel"};
inline constexpr ControlName kEndBoardNumberEdit{1057, "endBoardNumberEdit"};
inline constexpr ControlName kEndSubSystemNameLabel{1058, "endSubSystemNameLabel"};
inline constexpr ControlName kEndSubSystemNameEdit{1059, "endSubSystemNameEdit"};

// Bottom: the application log's echo.
inline constexpr ControlName kMessageLog{1060, "messageLog"};

// Groups, named for automation; they have no template number of their own.
inline constexpr ControlName kTrialListPropertiesGroup{0, "trialListPropertiesGroup"};
inline constexpr ControlName kTrialListGroup{0, "trialListGroup"};
inline constexpr ControlName kTrialPropertiesGroup{0, "trialPropertiesGroup"};
inline constexpr ControlName kTrialTypeListGroup{0, "trialTypeListGroup"};
inline constexpr ControlName kWavFilePropertiesGroup{0, "wavFilePropertiesGroup"};
inline constexpr ControlName kStartOfTrialGroup{0, "startOfTrialGroup"};
inline constexpr ControlName kEndOfTrialGroup{0, "endOfTrialGroup"};
inline constexpr ControlName kSystemMessageLogGroup{0, "systemMessageLogGroup"};

// The menu bar and its commands (QAction object names, command numbers).
inline constexpr ControlName kMenuBar{0, "menuBar"};
inline constexpr ControlName kFileMenu{0, "fileMenu"};
inline constexpr ControlName kVintraMenu{0, "vintraMenu"};
inline constexpr ControlName kRunMenu{0, "runMenu"};
inline constexpr ControlName kHelpMenu{0, "helpMenu"};
inline constexpr ControlName kOpenConfigurationFileAction{32773, "openConfigurationFileAction"};
inline constexpr ControlName kSaveConfigurationFileAction{32774, "saveConfigurationFileAction"};
inline constexpr ControlName kViewLogFileAction{32775, "viewLogFileAction"};
inline constexpr ControlName kConnectToServerAction{32776, "connectToServerAction"};
inline constexpr ControlName kDisconnectFromServerAction{32777, "disconnectFromServerAction"};
inline constexpr ControlName kSetServerNameAction{32778, "setServerNameAction"};
inline constexpr ControlName kAboutAction{32779, "aboutAction"};
// Run > Fixed Schedule: checked while the runs use the fixed schedule.
inline constexpr ControlName kFixedScheduleAction{32780, "fixedScheduleAction"};
inline constexpr ControlName kViewMenu{0, "viewMenu"};
inline constexpr ControlName kResumeSessionAction{32781, "resumeSessionAction"};
inline constexpr ControlName kRecordsFolderAction{32782, "recordsFolderAction"};
inline constexpr ControlName kLastSessionReportAction{32783, "lastSessionReportAction"};

// The Vintra Server Properties dialog.
inline constexpr ControlName kServerPropertiesDlg{0, "vintraServerPropertiesDlg"};
inline constexpr ControlName kServerNameLabel{0, "serverNameLabel"};
inline constexpr ControlName kServerNameEdit{1001, "serverNameEdit"};
inline constexpr ControlName kServerOkButton{1, "okButton"};
inline constexpr ControlName kServerCancelButton{2, "cancelButton"};

// The About box.
inline constexpr ControlName kAboutDlg{0, "aboutDlg"};
inline constexpr ControlName kAboutIcon{0, "aboutIcon"};
inline constexpr ControlName kAboutVersionText{0, "aboutVersionText"};
inline constexpr ControlName kAboutSecondText{0, "aboutSecondText"};
inline constexpr ControlName kAboutOkButton{1, "okButton"};

}  // namespace orvanta::ctl
