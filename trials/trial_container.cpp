#include "trials/trial_container.h"

#include <algorithm>
#include <new>
#include <utility>

#include "log/log_file.h"
#include "trials/card_deck.h"

namespace orvanta {

TrialContainer::TrialContainer(LogFile& log, CardDeck& deck, MainWindowRef& window)
    : log_(log), deck_(deck), window_(window), boxes_(nullptr) {}

TrialContainer::TrialContainer(LogFile& log, CardDeck& deck, MainWindowRef& window,
                               MessageBoxes& boxes)
    : log_(log), deck_(deck), window_(window), boxes_(&boxes) {}

TrialContainer::~TrialContainer() {
  // The worker reads the list, the deck and the log; it must be gone before
  // any of them is.
  StopProcessingTrials();
  JoinWorkers();
}

int TrialContainer::Fail(const std::string& message) {
  {
    MutexLock lock(&mMutex);
    mMessage = message;
  }
  log_.WriteLogEntry(kLogError, message);
  return -1;
}

void TrialContainer::Note(int level, const std::string& message) {
  {
    MutexLock lock(&mMutex);
    mMessage = message;
  }
  log_.WriteLogEntry(level, message);
}

int TrialContainer::FindByName(const std::string& name) const {
  for (std::size_t i = 0; i < mTrials.size(); ++i) {
    if (mTrials[i]->GetName() == name) return static_cast<int>(i);
  }
  return -1;
}

bool TrialContainer::IsTrialNameUnused(const std::string& name) const {
  MutexLock lock(&mMutex);
  return FindByName(name) < 0;
}

int TrialContainer::AddTrial(const std::string& name) {
  if (name.empty()) {
    return Fail(
        "TrialContainer::AddTrial() - Error, unable to add new trial to list, the trial name is "
        "blank.  Name: " +
        name);
  }
  // The failure is logged once the list's lock is let go.
  std::string failure;
  {
    MutexLock lock(&mMutex);
    std::shared_ptr<Trial> trial;
    if (FindByName(name) >= 0) {
      failure =
          "TrialContainer::AddTrial() - Error, unable to add new trial to list, the trial name is "
          "already in use.  Name: " +
          name;
    } else {
      try {
        trial = std::make_shared<Trial>();
        mTrials.reserve(mTrials.size() + 1);
        mSuitIDs.reserve(mSuitIDs.size() + 1);
      } catch (const std::bad_alloc&) {
        trial.reset();
      }
      if (trial == nullptr) {
        failure =
            "TrialContainer::AddTrial() - Error, unable to add new trial to list, the memory "
            "allocation failed and a Null pointer was returned.  Name: " +
            name;
      }
    }
    if (trial != nullptr) {
      trial->SetName(name);
      mTrials.push_back(std::move(trial));
      mSuitIDs.push_back(mNextSuitID);
      // The new suit gets one card; the deck is rebuilt unshuffled. Its status
      // does not matter: suit IDs are never reused, so it cannot be taken.
      deck_.AddSuit(mNextSuitID);
      ++mNextSuitID;
    }
  }
  if (!failure.empty()) return Fail(failure);
  window_.Call([&name](WindowListener& window) { window.AddTrialTypeToList(name); });
  return 0;
}

int TrialContainer::RemoveTrial(const std::string& name) {
  if (name.empty()) {
    return Fail(
        "TrialContainer::RemoveTrial() - Error, unable to remove trial from list, the trial name "
        "is blank.  Name: " +
        name);
  }
  std::shared_ptr<Trial> removed;
  {
    MutexLock lock(&mMutex);
    const int index = FindByName(name);
    if (index >= 0) {
      // The other cards keep their (possibly shuffled) order.
      deck_.RemoveSuit(mSuitIDs[index]);
      mSuitIDs.erase(mSuitIDs.begin() + index);
      removed = std::move(mTrials[index]);
      mTrials.erase(mTrials.begin() + index);
    }
  }
  if (removed == nullptr) {
    return Fail(
        "TrialContainer::RemoveTrial() - Error, unable to remove trial from the list, the trial "
        "name was not found.  Name: " +
        name);
  }
  removed.reset();
  window_.Call([&name](WindowListener& window) { window.RemoveTrialTypeFromList(name); });
  return 0;
}

int TrialContainer::GetTrial(const std::string& name, Trial*& trial) {
  if (name.empty()) {
    return Fail(
        "TrialContainer::GetTrial() - Error, unable to retrieve trial from list, the trial name is "
        "blank.  Name: " +
        name);
  }
  {
    MutexLock lock(&mMutex);
    const int index = FindByName(name);
    if (index >= 0) {
      trial = mTrials[index].get();
      return 0;
    }
  }
  return Fail(
      "TrialContainer::GetTrial() - Error, unable to retrieve trial from the list, the trial name "
      "was not found.  Name: " +
      name);
}

int TrialContainer::GetTrial(int32_t suitID, Trial*& trial) {
  {
    MutexLock lock(&mMutex);
    auto it = std::find(mSuitIDs.begin(), mSuitIDs.end(), suitID);
    if (it != mSuitIDs.end()) {
      trial = mTrials[it - mSuitIDs.begin()].get();
      return 0;
    }
  }
  return Fail(
      "TrialContainer::GetTrial() - Error, unable to retrieve trial from the list, the suit id was "
      "not found.  Suit ID: " +
      std::to_string(suitID));
}

int TrialContainer::GetSuitID(const std::string& name, int32_t& suitID) {
  if (name.empty()) {
    return Fail(
        "TrialContainer::GetSuitID() - Error, unable to suite II, the trial name is blank.  "
        "Name: " +
        name);
  }
  {
    MutexLock lock(&mMutex);
    const int index = FindByName(name);
    if (index >= 0) {
      suitID = mSuitIDs[index];
      return 0;
    }
  }
  return Fail(
      "TrialContainer::GetSuitID() - Error, unable to get suit ID, the trial name was not found.  "
      "Name: " +
      name);
}

std::vector<std::string> TrialContainer::GetTrialNames() const {
  MutexLock lock(&mMutex);
  std::vector<std::string> names;
  names.reserve(mTrials.size());
  for (const auto& trial : mTrials) names.push_back(trial->GetName());
  return names;
}

int TrialContainer::GetNumTrials() const {
  MutexLock lock(&mMutex);
  return static_cast<int>(mTrials.size());
}

std::string TrialContainer::GetSetupFileLines() {
  // A snapshot of the list: each type's lines ask this list for its suit ID,
  // so the lock cannot be held while they are built. The shared pointers keep
  // a type alive even if it were removed meanwhile.
  std::vector<std::shared_ptr<Trial>> trials;
  {
    MutexLock lock(&mMutex);
    trials = mTrials;
  }
  std::string lines;
  for (const auto& trial : trials) {
    lines += trial->GetSetupFileLines(*this, deck_);
    lines += "\r\n";
  }
  return lines;
}

std::string TrialContainer::GetMessage() const {
  MutexLock lock(&mMutex);
  return mMessage;
}

}  // namespace orvanta
