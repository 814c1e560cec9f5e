// The checks of a loaded setup that `orvanta-run --check` prints and the
// Python module's Setup.check() returns: one list, one set of texts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/program_core.h"

namespace orvanta {

// The problems of the loaded setup that would spoil a run, one sentence
// each, in trial list order: pulse bits outside 0..15, negative durations,
// intervals, pulse widths, board or buffer numbers, empty subsystem names of
// actions that are switched on, wav playback without a file, types with no
// trials, the problems of each start trigger (after the type's own fields;
// see TriggerProblems: its object is compared with `knownObjects`, the
// server's objects, only when that list is not empty), values a saved setup
// file cannot carry, an empty run order, and a first trial (`startAt`,
// 1-based) beyond it. Empty when there is nothing to report. Call on the
// thread that edits the setup.
std::vector<std::string> FindSetupProblems(ProgramCore& core, int32_t startAt,
                                           const std::vector<std::string>& knownObjects = {});

}  // namespace orvanta
