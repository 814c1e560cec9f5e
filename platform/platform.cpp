// The portable half of the platform seams: the clock's local time with
// milliseconds and the message boxes printed to stderr.
#include <chrono>
#include <cstdio>
#include <ctime>

#include "platform/clock.h"
#include "platform/local_calendar.h"
#include "platform/message_box.h"

namespace orvanta {

LocalTime SystemClock::Now() const {
  const auto now = std::chrono::system_clock::now();
  const auto since_epoch = now.time_since_epoch();
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since_epoch);
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(since_epoch - seconds).count();
  std::tm tm_local{};
  LocalCalendar(static_cast<std::time_t>(seconds.count()), tm_local);
  LocalTime lt;
  lt.year = tm_local.tm_year + 1900;
  lt.month = tm_local.tm_mon + 1;
  lt.day = tm_local.tm_mday;
  lt.hour = tm_local.tm_hour;
  lt.minute = tm_local.tm_min;
  lt.second = tm_local.tm_sec;
  lt.millisecond = static_cast<int>(millis);
  return lt;
}

BoxResult StderrMessageBoxes::Show(const std::string& text, const std::string& caption,
                                   BoxIcon /*icon*/, BoxButtons buttons) {
  std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
  std::fflush(stderr);
  if (buttons == BoxButtons::kAddReplaceCancel) return BoxResult::kAdd;
  return buttons == BoxButtons::kYesNo ? BoxResult::kYes : BoxResult::kOk;
}

}  // namespace orvanta
