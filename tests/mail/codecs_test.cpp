// Base64, uuencode and quoted-printable conversions, and encoded words.
#include <gtest/gtest.h>

#include <string>

#include "mail/base64.h"
#include "mail/header_words.h"
#include "mail/mail_errors.h"
#include "mail/quoted_printable.h"
#include "mail/uuencode.h"

namespace quillon {
namespace {

struct Base64Case {
  const char* name;
  std::string encoded;
  std::string decoded;
};

class Base64DecodeTest : public testing::TestWithParam<Base64Case> {};

TEST_P(Base64DecodeTest, DecodesLine) {
  EXPECT_EQ(Base64DecodeLine(GetParam().encoded), GetParam().decoded);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, Base64DecodeTest,
    testing::Values(Base64Case{"empty", "", ""},
                    Base64Case{"two_pads_one_byte", "QQ==", "A"},
                    Base64Case{"one_pad_two_bytes", "QUI=", "AB"},
                    Base64Case{"no_pad", "QUJD", "ABC"},
                    Base64Case{"unpadded_partial_group", "QUJDRA", "ABCD"},
                    Base64Case{"partial_group_with_pad", "QQ=", "A"},
                    Base64Case{"binary", "AP8Q", std::string("\x00\xff\x10", 3)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Base64, LongLineIsDecodedWhole) {
  std::string data(1000, 'x');
  std::string encoded = Base64EncodeBytes(data);
  ASSERT_GT(encoded.size(), 255u);
  EXPECT_EQ(Base64DecodeLine(encoded), data);
}

TEST(Base64, InvalidCharacterRaises) {
  EXPECT_THROW(Base64DecodeLine("QU!D"), ECodecError);
  try {
    Base64DecodeLine("QUJD QUJD");
    FAIL();
  } catch (const ECodecError& error) {
    EXPECT_STREQ(error.what(), "Invalid Character");
  }
}

TEST(Base64, EncodesWithPadding) {
  EXPECT_EQ(Base64EncodeBytes("A"), "QQ==");
  EXPECT_EQ(Base64EncodeBytes("AB"), "QUI=");
  EXPECT_EQ(Base64EncodeBytes("ABC"), "QUJD");
  EXPECT_EQ(Base64EncodeBytes(std::string(57, 'z')).size(), 76u);
}

TEST(Base64, RoundTripsEveryByteValueAtEveryLength) {
  std::string all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
  for (std::size_t length = 0; length <= 60; ++length) {
    std::string bytes = all.substr(length, length);
    EXPECT_EQ(Base64DecodeLine(Base64EncodeBytes(bytes)), bytes) << length;
  }
}

struct UUCase {
  const char* name;
  std::string bytes;
  std::string line;
};

class UUTest : public testing::TestWithParam<UUCase> {};

TEST_P(UUTest, EncodesAndDecodes) {
  EXPECT_EQ(UUEncodeBytes(GetParam().bytes), GetParam().line);
  EXPECT_EQ(UUDecodeLine(GetParam().line), GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, UUTest,
    testing::Values(UUCase{"zero_bytes_is_grave_accent", "", "`"},
                    UUCase{"one_byte_two_chars", "A", "!00"},
                    UUCase{"two_bytes_three_chars", "AB", "\"04("},
                    UUCase{"cat", "Cat", "#0V%T"},
                    UUCase{"zero_values_as_grave", std::string(3, '\0'), "#````"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(UUEncode, FullLineOf45BytesHas61Characters) {
  std::string line = UUEncodeBytes(std::string(45, '\x7f'));
  EXPECT_EQ(line.size(), 61u);
  EXPECT_EQ(line[0], 'M');
  EXPECT_EQ(UUDecodeLine(line), std::string(45, '\x7f'));
}

TEST(UUDecode, BlankCountsAsZeroAndShortLinesAreCompleted) {
  EXPECT_EQ(UUDecodeLine("#0V%T  "), "Cat");
  EXPECT_EQ(UUDecodeLine("#0V"), std::string("C`\0", 3));
  EXPECT_THROW(UUDecodeLine("#0V%t"), ECodecError);  // lower case is > 95
}

TEST(UUBegin, RecognisesBeginLines) {
  EXPECT_TRUE(IsUUBegin("begin 644 photo.jpg"));
  EXPECT_TRUE(IsUUBegin("BEGIN 600 a b"));
  EXPECT_FALSE(IsUUBegin("Beginning of the letter"));
  EXPECT_FALSE(IsUUBegin("begin 64"));
  EXPECT_FALSE(IsUUBegin("begin now, please"));
  EXPECT_EQ(UUFileName("begin 644 photo.jpg"), "photo.jpg");
  EXPECT_EQ(UUFileName("begin 644 two words.txt"), "two");
  EXPECT_EQ(UUFileName("begin 644 \"two words.txt\" tail"), "two words.txt");
  EXPECT_EQ(UUFileName("begin 644 \"unclosed"), "");
  EXPECT_EQ(UUFileName("begin 644"), "");
}

// Encoding through a stream and a list, as the message encoder does.
TStringList QPEncode(const std::string& bytes) {
  TMemoryStream stream;
  stream.Write(bytes);
  TStringList lines;
  TQuotedPrintable(stream, lines).Encode();
  return lines;
}

std::string QPDecode(const TStringList& lines) {
  TMemoryStream stream;
  TStringList copy = lines;
  TQuotedPrintable(stream, copy).Decode();
  return stream.Data();
}

TEST(QuotedPrintable, EqualsSignIsEscapedAndLinesComeBackWithCRLF) {
  TStringList lines = QPEncode("a=b\r\nsecond");
  EXPECT_EQ(lines, (TStringList{"a=3Db", "second"}));
  EXPECT_EQ(QPDecode(lines), "a=b\r\nsecond\r\n");
}

TEST(QuotedPrintable, LongParagraphSplitsAtLastBlankWithSoftBreak) {
  std::string paragraph;
  while (paragraph.size() < 100) paragraph += "word ";
  paragraph.resize(100);
  TStringList lines = QPEncode(paragraph);
  ASSERT_EQ(lines.size(), 2u);
  // The last blank among the first 66 characters (offset 64 here).
  EXPECT_EQ(lines[0], paragraph.substr(0, 64) + "=");
  EXPECT_EQ(lines[1], paragraph.substr(64));
  EXPECT_EQ(lines[1][0], ' ');
  EXPECT_EQ(QPDecode(lines), paragraph + "\r\n");
}

TEST(QuotedPrintable, SixtyFiveCharactersWithoutBlanksEndWithEmptyLine) {
  TStringList lines = QPEncode(std::string(65, 'x'));
  EXPECT_EQ(lines, (TStringList{std::string(65, 'x') + "=", ""}));
}

TEST(QuotedPrintable, LoneFinalLineFeedIsEncoded) {
  EXPECT_EQ(QPEncode("abc\n"), (TStringList{"abc=0A"}));
  EXPECT_EQ(QPEncode("abc\r\n"), (TStringList{"abc"}));
}

TEST(QuotedPrintable, EmptySourceGivesOneEmptyLine) {
  EXPECT_EQ(QPEncode(""), (TStringList{""}));
}

TEST(QuotedPrintable, NulByteIsEncodedNotTheEndOfTheParagraph) {
  TStringList lines = QPEncode(std::string("ab\0cd\r\n", 7));
  EXPECT_EQ(lines, (TStringList{"ab=00cd"}));
  EXPECT_EQ(QPDecode(lines), std::string("ab\0cd\r\n", 7));
}

TEST(QuotedPrintable, ParagraphOfAnySizeRoundTrips) {
  // Far beyond 24,576 bytes in one paragraph, both ways.
  std::string paragraph;
  for (int i = 0; i < 20000; ++i) paragraph += "word" + std::to_string(i % 10) + (i % 7 ? " " : "=");
  TStringList lines = QPEncode(paragraph + "\r\n");
  EXPECT_EQ(QPDecode(lines), paragraph + "\r\n");
}

TEST(QuotedPrintable, BlankLinesBetweenUnixLineEndsAreKept) {
  EXPECT_EQ(QPEncode("one\n\ntwo\r\n"), (TStringList{"one", "", "two"}));
  EXPECT_EQ(QPEncode("one\r\r\ntwo\r\n"), (TStringList{"one", "", "two"}));
  EXPECT_EQ(QPEncode("one\n\rtwo\r\n"), (TStringList{"one", "two"}));
}

TEST(QuotedPrintable, EightBitAndControlBytesAreEscapedBlanksAreNot) {
  EXPECT_EQ(QPEncode("caf\xe9 \t\r\n"), (TStringList{"caf=E9 =09"}));
}

struct QPDecodeCase {
  const char* name;
  TStringList lines;
  std::string decoded;
};

class QPDecodeTest : public testing::TestWithParam<QPDecodeCase> {};

TEST_P(QPDecodeTest, Decodes) { EXPECT_EQ(QPDecode(GetParam().lines), GetParam().decoded); }

INSTANTIATE_TEST_SUITE_P(
    Lines, QPDecodeTest,
    testing::Values(
        QPDecodeCase{"soft_break_joins", {"abc=", "def"}, "abcdef\r\n"},
        QPDecodeCase{"encoded_equals_at_end_is_hard", {"abc=3D", "x"}, "abc=\r\nx\r\n"},
        QPDecodeCase{"lower_case_hex", {"=e9t=e9"}, "\xe9t\xe9\r\n"},
        QPDecodeCase{"equals_without_hex_stays", {"a=zz b"}, "a=zz b\r\n"},
        QPDecodeCase{"single_digit_at_end", {"a=4"}, "a\x04\r\n"},
        QPDecodeCase{"single_digit_then_non_hex", {"a=4g"}, "a=4g\r\n"},
        QPDecodeCase{"end_of_file_mark_no_line_end", {"abc\x1a"}, "abc\x1a"},
        QPDecodeCase{"empty_line", {""}, "\r\n"},
        QPDecodeCase{"line_longer_than_255",
                     {std::string(300, 'a') + "=41"},
                     std::string(300, 'a') + "A\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(QPDecodeText, ReturnsFirstLine) {
  EXPECT_EQ(QPDecodeText("caf=E9"), "caf\xe9");
  EXPECT_EQ(QPDecodeText("a=0D=0Ab"), "a");
}

struct WordsCase {
  const char* name;
  std::string value;
  std::string decoded;
};

class HeaderWordsTest : public testing::TestWithParam<WordsCase> {};

TEST_P(HeaderWordsTest, Decodes) {
  EXPECT_EQ(DecodeHeaderWords(GetParam().value), GetParam().decoded);
}

INSTANTIATE_TEST_SUITE_P(
    Values, HeaderWordsTest,
    testing::Values(
        WordsCase{"plain", "Hello world", "Hello world"},
        WordsCase{"base64_word", "=?iso-8859-1?B?Q2Fm6Q==?=", "Caf\xe9"},
        WordsCase{"q_word_underscores", "=?iso-8859-1?Q?Caf=E9_au_lait?=", "Caf\xe9 au lait"},
        WordsCase{"lower_case_letters", "=?utf-8?q?a=5Fb?= =?utf-8?b?Yw==?=", "a_bc"},
        WordsCase{"adjacent_words_lose_blank", "=?x?Q?ab?= =?x?Q?cd?=", "abcd"},
        WordsCase{"word_then_plain_keeps_blank", "=?x?Q?Re:?= menu", "Re: menu"},
        WordsCase{"plain_then_word", "Re: =?x?Q?caf=E9?=", "Re: caf\xe9"},
        WordsCase{"underscore_in_plain_text_kept", "file_name =?x?Q?a?=", "file_name a"},
        WordsCase{"underscore_in_base64_text_kept", "=?x?B?YV9i?=", "a_b"},
        WordsCase{"encoded_equals_after_letter", "=?x?Q?=3D?=", "="},
        WordsCase{"invalid_base64_left_as_is", "A =?x?B?!!!?= B =?x?Q?c?=", "A =?x?B?!!!?= B c"},
        WordsCase{"no_closing_kept", "What =?x?Q?is this", "What =?x?Q?is this"},
        WordsCase{"unknown_letter_kept", "=?x?Z?abc?=", "=?x?Z?abc?="},
        WordsCase{"question_equals_in_plain_text", "a=?b", "a=?b"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(HeaderWords, ValueIsCutTo255BeforeDecoding) {
  std::string value = "=?x?Q?" + std::string(240, 'a') + "?=" + std::string(100, 'b');
  EXPECT_EQ(DecodeHeaderWords(value), std::string(240, 'a') + std::string(7, 'b'));
}

}  // namespace
}  // namespace quillon
