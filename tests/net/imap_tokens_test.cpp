#include "net/imap_tokens.h"

#include <gtest/gtest.h>

namespace quillon {
namespace {

TEST(ImapTokens, ReadsAtomsQuotedStringsAndLiterals) {
  ImapCursor cursor(R"x(atom "quoted text" {5}ab)cd NIL "a\"b\\c")x");
  ImapToken atom = cursor.ReadToken();
  EXPECT_EQ(atom.kind, ImapToken::Kind::kAtom);
  EXPECT_EQ(atom.Text(), "atom");
  cursor.SkipBlanks();
  EXPECT_EQ(cursor.ReadToken().Text(), "quoted text");
  cursor.SkipBlanks();
  ImapToken literal = cursor.ReadToken();
  EXPECT_EQ(literal.kind, ImapToken::Kind::kLiteral);
  EXPECT_EQ(literal.Text(), "ab)cd");  // a literal may hold anything
  cursor.SkipBlanks();
  ImapToken nil = cursor.ReadToken();
  EXPECT_TRUE(nil.IsNil());
  EXPECT_EQ(nil.Text(), "");
  cursor.SkipBlanks();
  EXPECT_EQ(cursor.ReadToken().Text(), "a\"b\\c");
  EXPECT_TRUE(cursor.AtEnd());
  EXPECT_EQ(cursor.ReadToken().kind, ImapToken::Kind::kEnd);
}

TEST(ImapTokens, AtomStopsBeforeBlankOrParenthesis) {
  ImapCursor cursor("abc) def");
  EXPECT_EQ(cursor.ReadToken().Text(), "abc");
  EXPECT_EQ(cursor.Peek(), ')');
}

TEST(ImapTokens, QuotedNilIsNotNil) {
  ImapCursor cursor("\"NIL\"");
  ImapToken token = cursor.ReadToken();
  EXPECT_FALSE(token.IsNil());
  EXPECT_EQ(token.Text(), "NIL");
}

TEST(ImapTokens, LiteralLongerThanTheTextIsRefused) {
  ImapCursor cursor("{10}abc");
  EXPECT_THROW(cursor.ReadToken(), EImapError);
}

TEST(ImapTokens, BraceWithoutMarkerIsAnAtom) {
  ImapCursor cursor("{abc} x");
  EXPECT_EQ(cursor.ReadToken().Text(), "{abc}");
}

TEST(ImapTokens, UnterminatedQuoteTakesTheRest) {
  ImapCursor cursor("\"abc");
  EXPECT_EQ(cursor.ReadToken().Text(), "abc");
  EXPECT_TRUE(cursor.AtEnd());
}

TEST(ImapTokens, SkipValueSkipsNestedListsWithLiteralsAndQuotes) {
  ImapCursor cursor(R"x(("a" ({3})x) ")") NIL) next)x");
  cursor.SkipValue();
  cursor.SkipBlanks();
  EXPECT_EQ(cursor.ReadToken().Text(), "next");
}

struct StrictFlagRow {
  const char* name;
  const char* text;
  TMessageFlagSet expected;
  const char* error;  // nullptr when the parse succeeds
};

class StrictFlags : public ::testing::TestWithParam<StrictFlagRow> {};

TEST_P(StrictFlags, Parse) {
  const StrictFlagRow& row = GetParam();
  if (row.error != nullptr) {
    try {
      ParseMessageFlagsStrict(row.text);
      FAIL() << "no error";
    } catch (const EImapError& error) {
      EXPECT_STREQ(error.what(), row.error);
    }
  } else {
    EXPECT_EQ(ParseMessageFlagsStrict(row.text), row.expected);
  }
}

using F = TMessageFlag;
INSTANTIATE_TEST_SUITE_P(
    Rows, StrictFlags,
    ::testing::Values(
        StrictFlagRow{"empty_text", "", {}, nullptr},
        StrictFlagRow{"empty_list", "()", {}, nullptr},
        StrictFlagRow{"seen_recent", "(\\Seen \\Recent)", {F::mesSeen, F::mesRecent}, nullptr},
        StrictFlagRow{"all_seven",
                      "(\\Seen \\Answered \\Flagged \\Deleted \\Draft \\Recent \\*)",
                      {F::mesSeen, F::mesAnswered, F::mesFlagged, F::mesDeleted, F::mesDraft,
                       F::mesRecent, F::mesCustom},
                      nullptr},
        StrictFlagRow{"eighth_word_not_looked_at",
                      "(\\Seen \\Seen \\Seen \\Seen \\Seen \\Seen \\Seen $Junk)",
                      {F::mesSeen},
                      nullptr},
        StrictFlagRow{"keywords_are_skipped", "(\\Seen $NotJunk NonJunk)", {F::mesSeen}, nullptr},
        StrictFlagRow{"unknown_system_flag", "(\\Seen \\Junk)", {}, "Uncorrect message flag \"\\Junk\""},
        StrictFlagRow{"case_matters", "(\\SEEN)", {}, "Uncorrect message flag \"\\SEEN\""},
        StrictFlagRow{"no_parentheses", "\\Seen", {}, "Uncorrect paranthesis list \"\\Seen\""},
        StrictFlagRow{"one_character", "(", {}, "Uncorrect paranthesis list \"(\""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LenientFlags, IgnoresUnknownWordsAndParentheses) {
  EXPECT_EQ(ParseMessageFlagsLenient("(\\Answered \\Flagged \\Deleted \\Seen \\Draft $NotJunk)"),
            (TMessageFlagSet{F::mesAnswered, F::mesFlagged, F::mesDeleted, F::mesSeen,
                             F::mesDraft}));
  EXPECT_EQ(ParseMessageFlagsLenient("\\Seen"), TMessageFlagSet{F::mesSeen});
  EXPECT_TRUE(ParseMessageFlagsLenient("()").Empty());
}

TEST(MailboxFlags, KnownFlagsAnyCaseAndErrors) {
  using O = TMailBoxOption;
  EXPECT_EQ(ParseMailboxFlags("(\\Noselect \\marked)"), (TMailBoxFlag{O::Noselect, O::Marked}));
  EXPECT_EQ(ParseMailboxFlags("(\\NoInferiors \\UnMarked)"),
            (TMailBoxFlag{O::Noinferiors, O::Unmarked}));
  EXPECT_TRUE(ParseMailboxFlags("()").Empty());
  // Only three words are looked at.
  EXPECT_EQ(ParseMailboxFlags("(\\Marked \\Marked \\Marked \\HasChildren)"),
            TMailBoxFlag{O::Marked});
  try {
    ParseMailboxFlags("(\\HasNoChildren)");
    FAIL();
  } catch (const EImapError& error) {
    EXPECT_STREQ(error.what(), "Uncorrect mailbox flag \"\\HasNoChildren\"");
  }
  EXPECT_THROW(ParseMailboxFlags("\\Noselect"), EImapError);
}

TEST(MailboxLine, ListWithQuotedDelimiterAndNames) {
  ImapMailboxLine line = ParseMailboxLine("(\\HasNoChildren) \"/\" INBOX");
  EXPECT_EQ(line.flag_text, "(\\HasNoChildren)");
  EXPECT_TRUE(line.options.Empty());  // the LIST error is ignored
  EXPECT_EQ(line.delimiter, "/");
  EXPECT_EQ(line.name, "INBOX");

  line = ParseMailboxLine("(\\Noselect) NIL \"Sent Items\"");
  EXPECT_EQ(line.options, TMailBoxFlag{TMailBoxOption::Noselect});
  EXPECT_EQ(line.delimiter, "");
  EXPECT_EQ(line.name, "Sent Items");

  line = ParseMailboxLine("() \".\" {7}Foo Bar");
  EXPECT_EQ(line.name, "Foo Bar");
}

TEST(MailboxLine, ServerAttributesLeaveTheOptionsEmpty) {
  const ImapMailboxLine line = ParseMailboxLine("(\\HasNoChildren \\Subscribed) \"/\" INBOX");
  EXPECT_TRUE(line.options.Empty());
  EXPECT_EQ(line.name, "INBOX");
}

TEST(NumberedResponse, MatchesNumberAndWordExactly) {
  EXPECT_EQ(MatchNumberedResponse("12 EXISTS", "EXISTS"), 12);
  EXPECT_EQ(MatchNumberedResponse("0 RECENT", "RECENT"), 0);
  EXPECT_EQ(MatchNumberedResponse("12 EXISTS", "RECENT"), std::nullopt);
  EXPECT_EQ(MatchNumberedResponse("x EXISTS", "EXISTS"), std::nullopt);
  EXPECT_EQ(MatchNumberedResponse("99999999999 EXISTS", "EXISTS"), std::nullopt);
  EXPECT_EQ(MatchNumberedResponse("3 EXPUNGE extra", "EXPUNGE"), std::nullopt);
  EXPECT_EQ(LeadingInteger("3857529045] UIDs valid"), std::nullopt);  // beyond 32 bits
  EXPECT_EQ(LeadingInteger("1234] UIDs valid"), 1234);
  EXPECT_EQ(LeadingInteger("] x"), std::nullopt);
}

TEST(FlagText, JoinsInFlagOrder) {
  EXPECT_EQ(MessageFlagText({F::mesDeleted, F::mesSeen}), "\\Seen \\Deleted");
}

}  // namespace
}  // namespace quillon
