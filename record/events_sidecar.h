// events.json of a session record: the description of every column of
// events.tsv, in the BIDS events convention.
#pragma once

namespace orvanta::record {

inline constexpr char kEventsSidecar[] = R"({
  "onset": {
    "LongName": "Onset",
    "Description": "When the command that starts the event was handed to the connection, in seconds from the start of the run (steady clock).",
    "Units": "s"
  },
  "duration": {
    "LongName": "Duration",
    "Description": "Events: 0. TTL pulses: from the command that set the bit to the command that cleared it. Wav playback and pulses cut short: n/a.",
    "Units": "s"
  },
  "trial_type": {
    "LongName": "Event kind",
    "Description": "What the trial worker did.",
    "Levels": {
      "start_event": "The start-of-trial event (-PostEvent).",
      "end_event": "The end-of-trial event (-PostEvent).",
      "start_pulse": "The start-of-trial TTL pulse (-SetDIOPortOutput set, then cleared).",
      "end_pulse": "The end-of-trial TTL pulse (-SetDIOPortOutput set, then cleared).",
      "wav": "Wav playback started (-PlayDAWavFile)."
    }
  },
  "value": {
    "LongName": "Value",
    "Description": "Events: the TTL value posted with the event. Pulses: the digital port value that was set. Wav playback: n/a."
  },
  "trial": {
    "LongName": "Trial number",
    "Description": "The 1-based number of the trial in the run order."
  },
  "acknowledged": {
    "LongName": "Acknowledged by the server",
    "Description": "yes when the acquisition server replied to every command of the event, otherwise no.",
    "Levels": {
      "yes": "Every command was replied to.",
      "no": "At least one command got no reply."
    }
  }
}
)";

}  // namespace orvanta::record
