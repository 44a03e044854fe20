#include "platform/date_text.h"

#include <cmath>
#include <ctime>

namespace quillon {

namespace {

// 1 January 1970 as a day count from 30 December 1899.
constexpr double kUnixEpochDays = 25569.0;
constexpr double kSecondsPerDay = 86400.0;
// 1 January 1900 and 31 December 9999 23:59:59 as day counts.
constexpr double kFirstDay = 2.0;
constexpr double kLastDay = 2958465.99998;

// The day count is local time; read it back as a UTC calendar value so no
// zone shift is applied twice.
std::tm BrokenDown(double date_time) {
  if (!(date_time >= kFirstDay)) date_time = kFirstDay;
  if (date_time > kLastDay) date_time = kLastDay;
  const auto seconds = static_cast<std::time_t>(
      std::llround((date_time - kUnixEpochDays) * kSecondsPerDay));
  std::tm parts{};
  ::gmtime_r(&seconds, &parts);
  return parts;
}

std::string Format(double date_time, const char* format) {
  const std::tm parts = BrokenDown(date_time);
  char text[128];
  const std::size_t length = std::strftime(text, sizeof text, format, &parts);
  return std::string(text, length);
}

}  // namespace

double NowDateTime() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  // Local wall-clock seconds since the epoch, as if they were UTC.
  const std::time_t wall = ::timegm(&local);
  return kUnixEpochDays + static_cast<double>(wall) / kSecondsPerDay;
}

std::string ShortDateText(double date_time) { return Format(date_time, "%x"); }

std::string LongTimeText(double date_time) { return Format(date_time, "%X"); }

std::string DateTimeText(double date_time) {
  return ShortDateText(date_time) + " " + LongTimeText(date_time);
}

}  // namespace quillon
