#include <gtest/gtest.h>

#include "platform/code_pages.h"
#include "platform/text.h"

namespace quillon {
namespace {

TEST(Trim, RemovesBlanksAndControlCharactersOnly) {
  EXPECT_EQ(Trim(" \t\r\n a b \x01"), "a b");
  EXPECT_EQ(TrimLeft("  x  "), "x  ");
  EXPECT_EQ(TrimRight("  x  "), "  x");
  EXPECT_EQ(Trim(""), "");
  EXPECT_EQ(Trim("\xA0x\xA0"), "\xA0x\xA0");  // 8-bit bytes are text
}

TEST(CaseHelpers, AsciiOnlyMappingAndSearching) {
  EXPECT_EQ(UpperCase("abc\xE9z"), "ABC\xE9Z");
  EXPECT_EQ(LowerCase("ABC\xC9Z"), "abc\xC9z");
  EXPECT_TRUE(SameText("Content-Type", "CONTENT-type"));
  EXPECT_FALSE(SameText("abc", "abcd"));
  EXPECT_TRUE(StartsWithNoCase("From: x", "FROM:"));
  EXPECT_FALSE(StartsWithNoCase("Fr", "FROM:"));
  EXPECT_EQ(FindNoCase("attachment; FileName=x", "filename"), 12u);
  EXPECT_EQ(FindNoCase("ab", "abc"), std::string_view::npos);
}

struct IntegerRow {
  const char* name;
  const char* text;
  bool ok;
  int value;
};

class StrToIntTest : public ::testing::TestWithParam<IntegerRow> {};

TEST_P(StrToIntTest, Converts) {
  int value = 0;
  EXPECT_EQ(TryStrToInt(GetParam().text, value), GetParam().ok);
  if (GetParam().ok) {
    EXPECT_EQ(value, GetParam().value);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, StrToIntTest,
    ::testing::Values(IntegerRow{"plain", "42", true, 42},
                      IntegerRow{"negative", "-7", true, -7},
                      IntegerRow{"leading_blanks", "  9", true, 9},
                      IntegerRow{"trailing_blank", "9 ", false, 0},
                      IntegerRow{"hex_dollar", "$ff", true, 255},
                      IntegerRow{"hex_0x", "0x10", true, 16},
                      IntegerRow{"max", "2147483647", true, 2147483647},
                      IntegerRow{"min", "-2147483648", true, -2147483647 - 1},
                      IntegerRow{"overflow", "2147483648", false, 0},
                      IntegerRow{"empty", "", false, 0},
                      IntegerRow{"sign_only", "-", false, 0},
                      IntegerRow{"letters", "x", false, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(StrToIntDef, GivesDefaultOnFailure) {
  EXPECT_EQ(StrToIntDef("x", -1), -1);
  EXPECT_EQ(StrToIntDef("12", -1), 12);
  EXPECT_EQ(Cut(std::string(300, 'a')).size(), 255u);
  EXPECT_EQ(Cut("abc", 2), "ab");
}

TEST(CodePages, Cp1252RoundTripsThroughUtf8) {
  const std::string icelandic = "S\xE6ki p\xF3st...";  // "Sæki póst..."
  EXPECT_EQ(Cp1252ToUtf8(icelandic), "S\xC3\xA6ki p\xC3\xB3st...");
  EXPECT_EQ(Utf8ToCp1252(Cp1252ToUtf8(icelandic)), icelandic);
  EXPECT_EQ(Cp1252ToUtf8("\x80"), "\xE2\x82\xAC");  // euro sign
  EXPECT_EQ(Cp1252ToUtf8("\x81"), "?");             // undefined byte
  EXPECT_EQ(Utf8ToCp1252("\xE2\x82\xAC"), "\x80");
  EXPECT_EQ(Utf8ToCp1252("\xE4\xB8\xAD"), "?");  // not in the code page
}

TEST(CodePages, Latin1KeepsEveryByte) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  EXPECT_EQ(Utf8ToLatin1(Latin1ToUtf8(all)), all);
  EXPECT_EQ(Latin1ToUtf8("\x96"), "\xC2\x96");
  EXPECT_EQ(Utf8ToLatin1("\xC3"), "?");  // truncated sequence
}

TEST(CodePages, AnsiUpperCaseCoversTheAccentedLetters) {
  EXPECT_EQ(AnsiUpperCase("abc\xE6\xF0\xFE\xF7\xFF\x9A\xDF"),
            "ABC\xC6\xD0\xDE\xF7\x9F\x8A\xDF");
}

}  // namespace
}  // namespace quillon
