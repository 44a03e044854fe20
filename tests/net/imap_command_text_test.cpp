#include "net/imap_command_text.h"

#include <gtest/gtest.h>

namespace quillon {
namespace {

struct QuoteRow {
  const char* name;
  std::string text;
  std::string sent;
};

class Quote : public ::testing::TestWithParam<QuoteRow> {};

TEST_P(Quote, Argument) { EXPECT_EQ(QuoteArgument(GetParam().text), GetParam().sent); }

INSTANTIATE_TEST_SUITE_P(
    Rows, Quote,
    ::testing::Values(QuoteRow{"empty", "", "\"\""},
                      QuoteRow{"letters_atom", "joe", "joe"},
                      QuoteRow{"dots_and_digits_atom", "user.name42@example.org",
                               "user.name42@example.org"},
                      QuoteRow{"blank", "my pass", "{7}my pass"},
                      QuoteRow{"percent", "%", "{1}%"},
                      QuoteRow{"asterisk", "*", "{1}*"},
                      QuoteRow{"quote", "a\"b", "{3}a\"b"},
                      QuoteRow{"backslash", "a\\b", "{3}a\\b"},
                      QuoteRow{"brace", "{x", "{2}{x"},
                      QuoteRow{"parenthesis", "a)", "{2}a)"},
                      QuoteRow{"control", "a\tb", "{3}a\tb"},
                      QuoteRow{"eight_bit", "p\xE4ss", "{4}p\xE4ss"},
                      QuoteRow{"delete", "a\x7F", "{2}a\x7F"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SplitCommandText, PlainCommandIsOnePiece) {
  const auto pieces = SplitCommandText("A1 CAPABILITY");
  ASSERT_EQ(pieces.size(), 1u);
  EXPECT_EQ(pieces[0].head, "A1 CAPABILITY");
  EXPECT_FALSE(pieces[0].has_literal);
}

TEST(SplitCommandText, LiteralsAreCutOutAndNotScannedAgain) {
  const auto pieces = SplitCommandText("A0 LOGIN {3}a{1 {7}my pass");
  ASSERT_EQ(pieces.size(), 3u);
  EXPECT_EQ(pieces[0].head, "A0 LOGIN {3");
  EXPECT_EQ(pieces[0].literal, "a{1");
  EXPECT_EQ(pieces[1].head, " {7");
  EXPECT_EQ(pieces[1].literal, "my pass");
  EXPECT_EQ(pieces[2].head, "");
  EXPECT_FALSE(pieces[2].has_literal);
}

TEST(SplitCommandText, BracesInsideQuotesOrWithoutDigitsAreText) {
  const auto pieces = SplitCommandText("A2 LIST \"{3}\" {x} {} {2}%");
  ASSERT_EQ(pieces.size(), 2u);
  EXPECT_EQ(pieces[0].head, "A2 LIST \"{3}\" {x} {} {2");
  EXPECT_EQ(pieces[0].literal, "%");
}

TEST(SplitCommandText, LiteralLongerThanTheTextTakesWhatThereIs) {
  const auto pieces = SplitCommandText("A3 X {10}abc");
  ASSERT_EQ(pieces.size(), 2u);
  EXPECT_EQ(pieces[0].literal, "abc");
}

TEST(SequenceSet, RangesSortedWithoutDuplicates) {
  EXPECT_EQ(FormatSequenceSet({1, 2, 3, 5, 7, 8}), "1:3,5,7:8");
  EXPECT_EQ(FormatSequenceSet({4, 1, 2, 2}), "1:2,4");
  EXPECT_EQ(FormatSequenceSet({9}), "9");
  EXPECT_EQ(FormatSequenceSet({}), "");
}

}  // namespace
}  // namespace quillon
