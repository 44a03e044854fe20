// Header lists and the header value functions.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "mail/header_values.h"
#include "mail/headers.h"

namespace quillon {
namespace {

TEST(Unquote, TrimsThenDropsOuterQuotes) {
  EXPECT_EQ(Unquote("  \"\"John Doe\"  "), "John Doe");
  EXPECT_EQ(Unquote("\t\"a\"b\"\r"), "a\"b");
  EXPECT_EQ(Unquote("\"\"\""), "");
}

struct AddressCase {
  const char* name;
  std::string text;
  std::string expected_name;
  std::string expected_address;
};

class ParseAddressTest : public testing::TestWithParam<AddressCase> {};

TEST_P(ParseAddressTest, Parses) {
  TmsMailAddress address("old", "old");
  ParseAddress(GetParam().text, address);
  EXPECT_EQ(address.Name(), GetParam().expected_name);
  EXPECT_EQ(address.Address(), GetParam().expected_address);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseAddressTest,
    testing::Values(
        AddressCase{"name_and_angle", "John Doe <john@example.org>", "John Doe", "john@example.org"},
        AddressCase{"quoted_name_with_comma", "\"Doe, John\" <john@example.org>", "Doe, John",
                    "john@example.org"},
        AddressCase{"address_and_comment", "john@example.org (John Doe)", "John Doe",
                    "john@example.org"},
        AddressCase{"bare_address", "john@example.org", "", "john@example.org"},
        AddressCase{"open_without_close", "John <john@example", "John <john@example", ""},
        AddressCase{"close_before_open", "a > b <c", "a > b <c", ""},
        AddressCase{"paren_at_end", "x@y (", "", "x@y"},
        AddressCase{"empty", "", "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ParseAddress, CutsTo255) {
  TmsMailAddress address;
  ParseAddress(std::string(300, 'n') + " <" + std::string(300, 'a') + ">", address);
  EXPECT_EQ(address.Name().size(), 255u);
  EXPECT_EQ(address.Address().size(), 255u);
}

TEST(GetParamValue, FindsQuotedAndBareValues) {
  EXPECT_EQ(GetParamValue("boundary", "multipart/mixed; boundary=\"a b\"; x=1"), "a b");
  EXPECT_EQ(GetParamValue("Boundary", "multipart/mixed; BOUNDARY=abc"), "abc");
  EXPECT_EQ(GetParamValue("name", "image/gif; name=x.gif;"), "x.gif");
  EXPECT_EQ(GetParamValue("name", "attachment; filename=\"r.pdf\""), "r.pdf");
  EXPECT_EQ(GetParamValue("charset", "text/plain"), "");
  EXPECT_EQ(GetParamValue("name", "text/plain; name"), "");
  EXPECT_EQ(GetParamValue("name", "text/plain; name=\"unclosed"), "unclosed");
  // A bare value ends at ";" even without a blank after it.
  EXPECT_EQ(GetParamValue("boundary", "multipart/mixed;boundary=xyz;charset=a"), "xyz");
}

TEST(GetMediaType, StopsAtBlankOrSemicolon) {
  EXPECT_EQ(GetMediaType("text/plain; charset=us-ascii"), "text/plain");
  EXPECT_EQ(GetMediaType(" image/gif name=x"), "");
  EXPECT_EQ(GetMediaType("image/gif"), "image/gif");
}

TEST(ContentTypeOfFile, UsesExtensionWithFallback) {
  EXPECT_EQ(ContentTypeOfFile("dir/x.unknownextension"), "application/octet-stream");
  EXPECT_EQ(ContentTypeOfFile("noextension"), "application/octet-stream");
  EXPECT_EQ(ContentTypeOfFile("C:\\docs.d\\readme"), "application/octet-stream");
}

struct DateCase {
  const char* name;
  std::string text;
  int year, month, day, hour, minute, second;
  std::string rest;
};

class ParseMailDateTest : public testing::TestWithParam<DateCase> {};

TEST_P(ParseMailDateTest, Parses) {
  const DateCase& c = GetParam();
  TDateTime date = -1;
  std::string rest = "junk";
  ParseMailDate(c.text, date, rest);
  if (c.year == 0) {
    EXPECT_EQ(date, 0);
    return;
  }
  TDateTime expected = EncodeDate(c.year, c.month, c.day) +
                       (c.hour * 3600 + c.minute * 60 + c.second) / 86400.0;
  EXPECT_NEAR(date, expected, 1e-9);
  EXPECT_EQ(rest, c.rest);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseMailDateTest,
    testing::Values(
        DateCase{"two_digit_year_94", "15 Nov 94 08:12 GMT", 1994, 11, 15, 8, 12, 0, "GMT"},
        DateCase{"weekday_and_seconds", "Tue, 8 Dec 2026 20:07:51 +0000", 2026, 12, 8, 20, 7, 51,
                 "+0000"},
        DateCase{"year_50", "1 Jan 50 00:00 GMT", 2050, 1, 1, 0, 0, 0, "GMT"},
        DateCase{"year_51", "1 Jan 51 00:00 GMT", 1951, 1, 1, 0, 0, 0, "GMT"},
        DateCase{"bad_time_gives_midnight", "2 Feb 2020 xx:yy EST", 2020, 2, 2, 0, 0, 0, "EST"},
        DateCase{"quoted", "\"3 Mar 2021 10:00\"", 2021, 3, 3, 10, 0, 0, ""},
        DateCase{"no_digits", "Tuesday", 0, 0, 0, 0, 0, 0, ""},
        DateCase{"no_time_after_year", "15 Nov 1994", 0, 0, 0, 0, 0, 0, ""},
        DateCase{"no_month", "15 Foo 1994 10:00", 0, 0, 0, 0, 0, 0, ""},
        DateCase{"invalid_day", "31 Feb 2021 10:00", 0, 0, 0, 0, 0, 0, ""},
        DateCase{"digit_last", "Date 5", 0, 0, 0, 0, 0, 0, ""},
        DateCase{"empty", "", 0, 0, 0, 0, 0, 0, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(EncodeDate, CountsDaysFrom1899) {
  EXPECT_EQ(EncodeDate(1899, 12, 30), 0);
  EXPECT_EQ(EncodeDate(1900, 1, 1), 2);
  EXPECT_EQ(EncodeDate(2000, 1, 1), 36526);
}

TmsHeaders SampleHeaders() {
  return TmsHeaders{"Received: from a",
                    "\tby b",
                    "Subject: =?iso-8859-1?Q?Caf=E9?=",
                    "  and more",
                    "To: Ann <ann@example.org>, \"Doe, John\" <john@example.org>,",
                    " Third <third@example.org>",
                    "Cc:bob@example.org",
                    "Content-Type: text/plain;",
                    " charset=\"=?x?\"",
                    "Tone: not a recipient",
                    "To: Late <late@example.org>"};
}

TEST(GetFieldValue, UnfoldsTrimsAndDecodes) {
  TmsHeaders headers = SampleHeaders();
  EXPECT_EQ(headers.GetFieldValue("Received"), "from a by b");
  EXPECT_EQ(headers.GetFieldValue("subject:"), "Caf\xe9 and more");
  EXPECT_EQ(headers.GetFieldValue("Missing"), "");
  EXPECT_EQ(TmsHeaders{}.GetFieldValue("Subject"), "");
  // Content-Type is neither cut nor decoded.
  EXPECT_EQ(headers.GetFieldValue("Content-Type"), "text/plain; charset=\"=?x?\"");
}

TEST(GetFieldValue, DropsOnlyABlankOrTabAfterTheColon) {
  TmsHeaders headers{"Subject:Hello", "To:bob@example.org", "X-A:\tx", "X-B:  y"};
  EXPECT_EQ(headers.GetFieldValue("Subject"), "Hello");
  EXPECT_EQ(headers.GetFieldValue("To"), "bob@example.org");
  EXPECT_EQ(headers.GetFieldValue("X-A"), "x");
  EXPECT_EQ(headers.GetFieldValue("X-B"), "y");
}

TEST(GetFieldValue, LongValueIsCutTo255) {
  TmsHeaders headers{"Subject: " + std::string(300, 's')};
  EXPECT_EQ(headers.GetFieldValue("Subject").size(), 255u);
  TmsHeaders uidl{"X-UIDL: " + std::string(300, 'u')};
  EXPECT_EQ(uidl.GetFieldValue("X-UIDL").size(), 300u);
}

TEST(GetFieldValues, SplitsAddressFieldsAcrossLinesAndFields) {
  TStringList list{"stale"};
  SampleHeaders().GetFieldValues("TO:", list);
  EXPECT_EQ(list, (TStringList{"Ann <ann@example.org>", "\"Doe, John\" <john@example.org>",
                               "Third <third@example.org>", "Late <late@example.org>"}));
  SampleHeaders().GetFieldValues("CC:", list);
  EXPECT_EQ(list, (TStringList{"bob@example.org"}));
}

TEST(GetFieldValues, QuotedCommaOnContinuationLineIsKept) {
  TmsHeaders headers{"To: a@example.org,", " \"Doe, Jane\" <jane@example.org>"};
  TStringList list;
  headers.GetFieldValues("To:", list);
  EXPECT_EQ(list, (TStringList{"a@example.org", "\"Doe, Jane\" <jane@example.org>"}));
}

TEST(GetFieldValues, MatchingLineWithoutColonEndsTheScan) {
  TmsHeaders headers{"To: a@x", "X: y", "TO-nothing", "To: b@x"};
  TStringList list;
  headers.GetFieldValues("TO", list);
  EXPECT_EQ(list, (TStringList{"a@x"}));
}

TEST(DeleteField, RemovesFirstFieldWithContinuations) {
  TmsHeaders headers = SampleHeaders();
  headers.DeleteField("to");
  EXPECT_EQ(headers[4], "Cc:bob@example.org");
  EXPECT_EQ(headers.back(), "To: Late <late@example.org>");
  headers.DeleteField("Nothing");
  EXPECT_EQ(headers.size(), SampleHeaders().size() - 2);
}

TEST(TruncateAtBlankLine, DropsBlankLineAndRest) {
  TmsHeaders headers{"A: 1", "B: 2", "", "body", ""};
  headers.TruncateAtBlankLine();
  EXPECT_EQ(headers, (TmsHeaders{"A: 1", "B: 2"}));
  TmsHeaders no_blank{"A: 1"};
  no_blank.TruncateAtBlankLine();
  EXPECT_EQ(no_blank.size(), 1u);
}

}  // namespace
}  // namespace quillon
