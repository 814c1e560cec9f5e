#include "core/program_core.h"

#include <utility>

namespace orvanta {

ProgramCore::ProgramCore(const ProgramSeams& seams, std::string applicationDirectory)
    : seams_(seams),
      applicationDirectory_(std::move(applicationDirectory)),
      log_(seams_.clock, seams_.boxes, seams_.mainWindow, seams_.shell),
      commands_(log_, trials_, deck_),
      trials_(log_, deck_, seams_.mainWindow, seams_.boxes),
      deck_(log_),
      client_(seams_.clock, seams_.boxes),
      triggers_(client_),
      config_(log_, trials_, deck_, commands_, seams_.boxes, seams_.clock) {
  trials_.SetCommandChannel(&client_);
  trials_.SetTriggerSource(&triggers_);
}

ProgramCore::~ProgramCore() {
  StopRun();
  // A worker joined above no longer holds the channel; nothing else sends
  // through the client once the trial list forgets it.
  trials_.SetCommandChannel(nullptr);
  trials_.SetTriggerSource(nullptr);
}

void ProgramCore::StopRun() {
  trials_.StopProcessingTrials();
  trials_.JoinWorkers();
}

}  // namespace orvanta
