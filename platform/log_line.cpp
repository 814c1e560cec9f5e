#include "platform/log_line.h"

namespace orvanta {

std::string LogLineWriter::Entry(int level, const std::string& text) const {
  return tagOf_(level) + TimeStamp() + " - " + text;
}

std::string LogLineWriter::TimeStamp() const {
  const LocalTime t = clock_.Now();
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, " %02d:%02d:%02d.%03d", t.hour, t.minute, t.second,
                t.millisecond);
  return stamp;
}

std::string LogLineWriter::OpenedLine() const {
  const LocalTime t = clock_.Now();
  char opened[160];
  std::snprintf(opened, sizeof opened, "Time Opened: (m/d/y)  %d/%d/%d at time %d:%d:%d.%d",
                t.month, t.day, t.year, t.hour, t.minute, t.second, t.millisecond);
  return opened;
}

bool LogLineWriter::WriteLine(std::FILE* stream, const std::string& text) {
  const bool written = std::fwrite(text.data(), 1, text.size(), stream) == text.size() &&
                       std::fwrite("\r\n", 1, 2, stream) == 2 && std::fflush(stream) == 0;
  if (!written) std::clearerr(stream);
  return written;
}

}  // namespace orvanta
