// The time texts both implementations share: built on local_time() and
// now_millis(), which each system provides.
#include <cstdio>

#include "ismgr/platform/platform.h"

namespace ismgr::platform {

LocalTime local_time_now() {
  int64_t ms = now_millis();
  LocalTime t = local_time(ms / 1000);
  t.millisecond = static_cast<int>(ms % 1000);
  return t;
}

// "Mon Dec 07 05:37:22 2026\n": the C runtime's ctime form with the day
// zero-padded.
std::string ctime_text(int64_t seconds) {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  LocalTime t = local_time(seconds);
  char text[64];
  std::snprintf(text, sizeof text, "%s %s %02d %02d:%02d:%02d %04d\n", kDays[t.weekday % 7],
                kMonths[(t.month + 11) % 12], t.day, t.hour, t.minute, t.second, t.year);
  return text;
}

}  // namespace ismgr::platform
