#include "platform/win_files.h"

#include <chrono>
#include <thread>

namespace orvanta::win {

namespace {

// How long a replace waits for another program that has the old file open
// without allowing it to be replaced (a viewer reading it, a virus scanner).
constexpr auto kReplaceRetryFor = std::chrono::milliseconds(1000);
constexpr auto kReplaceRetryStep = std::chrono::milliseconds(50);

}  // namespace

std::string ErrorText(DWORD error) {
  char* buffer = nullptr;
  const DWORD length = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
  std::string text =
      length > 0 ? std::string(buffer, length) : "system error " + std::to_string(error);
  ::LocalFree(buffer);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '.')) {
    text.pop_back();
  }
  return text;
}

DWORD ReplaceFileRetrying(const std::string& from, const std::string& to) {
  const auto giveUp = std::chrono::steady_clock::now() + kReplaceRetryFor;
  while (!::MoveFileExA(from.c_str(), to.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const DWORD error = ::GetLastError();
    const bool held = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION;
    if (!held || std::chrono::steady_clock::now() >= giveUp) return error;
    std::this_thread::sleep_for(kReplaceRetryStep);
  }
  return 0;
}

}  // namespace orvanta::win
