// The trial list: owns the trial types of the current setup and ties each to
// a suit of the card deck by its suit ID. The same class runs the trial
// sequence on a worker thread (added with the trial run).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/thread_annotations.h"
#include "platform/window_listener.h"
#include "trials/trial.h"

namespace orvanta {

class CardDeck;
class LogFile;

// Status results: 0 success, -1 failure (logged at ERROR with the texts of
// the trial list); out-parameters are written only on success. Names are
// compared byte for byte.
//
// Thread-safety: the list is guarded by the container's own lock, so the
// trial worker can look types up while the window edits. Trial pointers
// handed out stay valid until the type is removed; the window does not remove
// types during a run. The window listener is called after the lock is
// released.
class TrialContainer {
 public:
  // None of the arguments is owned; all must outlive the container.
  TrialContainer(LogFile& log, CardDeck& deck, MainWindowRef& window);
  TrialContainer(const TrialContainer&) = delete;
  TrialContainer& operator=(const TrialContainer&) = delete;
  virtual ~TrialContainer();

  // Adds a type with default settings. Its suit (one card) is added to the
  // deck, which is rebuilt in its unshuffled order; the window is told.
  int AddTrial(const std::string& name);
  // Removes the type and its suit; the other cards keep their order. The
  // window is told.
  int RemoveTrial(const std::string& name);
  int GetTrial(const std::string& name, Trial*& trial);
  int GetTrial(int32_t suitID, Trial*& trial);
  int GetSuitID(const std::string& name, int32_t& suitID);
  bool IsTrialNameUnused(const std::string& name) const;

  // The type names in list order (order of addition).
  std::vector<std::string> GetTrialNames() const;
  int GetNumTrials() const;

  // Every type's setup-file lines in list order, each block followed by one
  // empty line (CR LF). Empty for an empty list.
  std::string GetSetupFileLines();

  std::string GetMessage() const;

 private:
  // Sets mMessage, logs it at ERROR and returns -1. Takes the lock itself;
  // call it without holding mMutex.
  int Fail(const std::string& message) EXCLUDES(mMutex);
  // Index of the first type with this name, or -1.
  int FindByName(const std::string& name) const REQUIRES(mMutex);

  LogFile& log_;
  CardDeck& deck_;
  MainWindowRef& window_;

  // Guards the list and mMessage. Lock order: this lock, then the deck's, then
  // the log's; a Trial's own lock is taken last and held only briefly.
  mutable std::mutex mMutex;
  std::vector<std::shared_ptr<Trial>> mTrials GUARDED_BY(mMutex);
  std::vector<int32_t> mSuitIDs GUARDED_BY(mMutex);
  std::string mMessage GUARDED_BY(mMutex);
  int32_t mNextSuitID GUARDED_BY(mMutex) = 0;
};

}  // namespace orvanta
