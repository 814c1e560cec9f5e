// Local time with milliseconds, as a seam, so that time stamps can be tested
// at fixed times.
#pragma once

namespace orvanta {

struct LocalTime {
  int year = 1970;  // four digits
  int month = 1;    // 1..12
  int day = 1;      // 1..31
  int hour = 0;     // 0..23
  int minute = 0;
  int second = 0;
  int millisecond = 0;  // 0..999
};

class Clock {
 public:
  virtual ~Clock() = default;
  // Thread-safe.
  virtual LocalTime Now() const = 0;
};

class SystemClock : public Clock {
 public:
  LocalTime Now() const override;
};

}  // namespace orvanta
