// The local calendar time of an instant, the one system call that the
// clock, the record's time stamps and the moved-aside names all need.
// Defined in platform_<platform>.cpp.
#pragma once

#include <ctime>

namespace orvanta {

// `t` in local time; false when the system cannot tell it.
bool LocalCalendar(std::time_t t, std::tm& local);

}  // namespace orvanta
