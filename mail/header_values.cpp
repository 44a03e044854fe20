#include "mail/header_values.h"

#include <array>

#include "platform/media_types.h"
#include "platform/text.h"

namespace quillon {

namespace {

constexpr char kOctetStream[] = "application/octet-stream";
constexpr std::array<const char*, 12> kMonthNames = {
    "JAN", "FEB", "MAR", "APR", "MAY", "JUN", "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsLeapYear(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
  constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days from 1970-01-01 of a proleptic Gregorian date.
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

// The text from `from` up to the next character of `stops` (or the end).
std::string_view TokenAt(std::string_view text, std::size_t from, std::string_view stops) {
  if (from >= text.size()) return {};
  std::size_t end = text.find_first_of(stops, from);
  if (end == std::string_view::npos) end = text.size();
  return text.substr(from, end - from);
}

// "h:m" or "h:m:s" as a fraction of a day; false when it is not one.
bool ParseTimeOfDay(std::string_view token, double& fraction) {
  int parts[3] = {0, 0, 0};
  int count = 0;
  std::size_t start = 0;
  while (count < 3) {
    std::size_t colon = token.find(':', start);
    std::string_view part = token.substr(start, colon == std::string_view::npos
                                                    ? std::string_view::npos
                                                    : colon - start);
    if (part.empty() || !TryStrToInt(part, parts[count]) || parts[count] < 0) return false;
    ++count;
    if (colon == std::string_view::npos) break;
    start = colon + 1;
    if (count == 3) return false;
  }
  if (count < 2 || parts[0] > 23 || parts[1] > 59 || parts[2] > 59) return false;
  fraction = (parts[0] * 3600.0 + parts[1] * 60.0 + parts[2]) / 86400.0;
  return true;
}

int ExpandYear(int year) {
  if (year >= 0 && year <= 50) return 2000 + year;
  if (year >= 51 && year <= 99) return 1900 + year;
  return year;
}

}  // namespace

TDateTime EncodeDate(int year, int month, int day) {
  constexpr long long kDaysFrom1899To1970 = 25569;
  return static_cast<TDateTime>(
      DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) +
      kDaysFrom1899To1970);
}

std::string Unquote(std::string_view text) {
  std::string trimmed = Trim(text);
  std::size_t begin = trimmed.find_first_not_of('"');
  if (begin == std::string::npos) return {};
  std::size_t end = trimmed.find_last_not_of('"');
  return trimmed.substr(begin, end + 1 - begin);
}

void ParseAddress(std::string_view text, TmsMailAddress& address) {
  std::size_t open = text.find('<');
  if (open != std::string_view::npos) {
    std::size_t close = text.find('>');
    if (close != std::string_view::npos && close > open) {
      address.SetAddress(Unquote(text.substr(open + 1, close - open - 1)));
      std::string rest(text.substr(0, open));
      rest.append(text.substr(close + 1));
      address.SetName(Unquote(rest));
    } else {
      address.SetAddress({});
      address.SetName(Unquote(text));
    }
    return;
  }
  std::size_t paren = text.find('(');
  if (paren != std::string_view::npos) {
    address.SetAddress(Unquote(text.substr(0, paren)));
    // The last character is taken as the closing parenthesis.
    std::size_t name_end = text.size() - 1;
    address.SetName(name_end > paren ? Unquote(text.substr(paren + 1, name_end - paren - 1))
                                     : std::string());
    return;
  }
  address.SetAddress(std::string(text));
  address.SetName({});
}

std::string GetParamValue(std::string_view param_name, std::string_view header_value) {
  std::size_t found = FindNoCase(header_value, param_name);
  if (found == std::string_view::npos || param_name.empty()) return {};
  std::size_t after = found + param_name.size() + 1;  // the name and its "="
  std::string rest = after < header_value.size() ? Trim(header_value.substr(after)) : "";
  std::string value;
  if (!rest.empty() && rest[0] == '"') {
    std::size_t close = rest.find('"', 1);
    value = rest.substr(1, close == std::string::npos ? std::string::npos : close - 1);
  } else {
    // An unquoted value cannot hold blanks or ";" (RFC 2045 tokens).
    value = std::string(TokenAt(rest, 0, " ;"));
  }
  if (!value.empty() && value.back() == ';') value.pop_back();
  return Trim(value);
}

std::string GetMediaType(std::string_view header_value) {
  return Trim(TokenAt(header_value, 0, " ;"));
}

std::string ContentTypeOfFile(std::string_view file_name) {
  std::size_t name_start = file_name.find_last_of("/\\");
  std::string_view name =
      name_start == std::string_view::npos ? file_name : file_name.substr(name_start + 1);
  std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return kOctetStream;
  std::string type = MediaTypeOfExtension(std::string(name.substr(dot)));
  return type.empty() ? kOctetStream : type;
}

void ParseMailDate(std::string_view text, TDateTime& date_time, std::string& rest) {
  date_time = 0;
  rest.clear();
  const std::string upper = UpperCase(Unquote(text));
  const std::string_view value(upper);
  std::size_t digit = 0;
  while (digit < value.size() && !IsDigit(value[digit])) ++digit;
  if (digit + 1 >= value.size()) return;
  std::string_view day_token = TokenAt(value, digit, " ");
  std::size_t after_day = digit + day_token.size();

  std::size_t month_at = std::string_view::npos;
  int month = 0;
  for (int m = 0; m < 12 && month_at == std::string_view::npos; ++m) {
    month_at = value.find(kMonthNames[m], after_day);
    month = m + 1;
  }
  if (month_at == std::string_view::npos) return;
  std::size_t year_at = month_at + 3;
  while (year_at < value.size() && !IsDigit(value[year_at])) ++year_at;
  if (year_at + 1 >= value.size()) return;
  std::string_view year_token = TokenAt(value, year_at, " ,");

  std::size_t time_at = value.find_first_not_of(" ,", year_at + year_token.size());
  if (time_at == std::string_view::npos) return;
  std::string_view time_token = TokenAt(value, time_at, " ");
  std::size_t rest_at = time_at + time_token.size();
  if (!time_token.empty() && time_token.back() == ',') time_token.remove_suffix(1);

  int day = 0;
  int year = 0;
  if (!TryStrToInt(day_token, day) || !TryStrToInt(year_token, year)) return;
  year = ExpandYear(year);
  if (year < 1 || year > 9999 || day < 1 || day > DaysInMonth(year, month)) return;
  double time_fraction = 0;
  if (!ParseTimeOfDay(time_token, time_fraction)) time_fraction = 0;
  date_time = EncodeDate(year, month, day) + time_fraction;
  rest = Trim(value.substr(rest_at));
}

}  // namespace quillon
