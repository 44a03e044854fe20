// Small parsers for header values: quoting, addresses, parameters, media
// types and dates.
#pragma once

#include <string>
#include <string_view>

#include "mail/mail_address.h"

namespace quillon {

// A date-time as a day count from 30 December 1899, the time of day as the
// fraction (the data files store dates this way).
using TDateTime = double;

// Trims blanks and control characters at both ends, then removes every
// leading and every trailing double quote.
std::string Unquote(std::string_view text);

// "Name <address>", "address (Name)" or a bare address. Never fails.
void ParseAddress(std::string_view text, TmsMailAddress& address);

// The value of parameter `param_name` (e.g. "boundary") inside a header
// value; the name is found anywhere, case-insensitively.
std::string GetParamValue(std::string_view param_name, std::string_view header_value);

// The media type at the start of a header value ("text/plain; ..." gives
// "text/plain").
std::string GetMediaType(std::string_view header_value);

// The media type registered for the file's extension, else
// "application/octet-stream".
std::string ContentTypeOfFile(std::string_view file_name);

// An RFC 822 date ("Tue, 15 Nov 94 08:12:31 GMT"). On failure `date_time`
// is 0. `rest` gets what follows the time (normally the zone, not applied).
void ParseMailDate(std::string_view text, TDateTime& date_time, std::string& rest);

// Day count of a calendar date (no range check beyond the calendar's).
TDateTime EncodeDate(int year, int month, int day);

}  // namespace quillon
