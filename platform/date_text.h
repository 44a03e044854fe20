// Date-time values as the data files keep them (a day count from
// 30 December 1899, the time of day as the fraction, local time) and their
// texts in the system's formats (the locale's LC_TIME: %x, %X, %c).
#pragma once

#include <string>

namespace quillon {

// The current local date and time as a day count.
double NowDateTime();

// Local broken-down time of a day count; values before 1 January 1900 or
// past 9999 are clamped to those years' ends.
std::string ShortDateText(double date_time);  // the system's short date
std::string LongTimeText(double date_time);   // the system's long time
std::string DateTimeText(double date_time);   // short date + " " + long time

}  // namespace quillon
