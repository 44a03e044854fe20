#include "net/imap_response.h"

#include <gtest/gtest.h>

namespace quillon {
namespace {

using K = ImapFetchItemKind;

std::string Literal(const std::string& bytes) {
  return "{" + std::to_string(bytes.size()) + "}" + bytes;
}

TEST(FetchResponse, MatchesOnlyNumberedFetch) {
  EXPECT_EQ(MatchFetchResponse("12 FETCH (FLAGS ())"), 12);
  EXPECT_EQ(MatchFetchResponse("12 FETCHED (x)"), std::nullopt);
  EXPECT_EQ(MatchFetchResponse("FETCH (x)"), std::nullopt);
  EXPECT_EQ(MatchFetchResponse("12 EXISTS"), std::nullopt);
}

TEST(FetchResponse, DovecotStyleResponseWithAllFourItems) {
  const std::string message = "From: a@b\r\nSubject: Hi\r\n\r\nBody (with parens) \"quotes\"\r\n";
  const std::string line =
      "1 FETCH (FLAGS (\\Seen \\Recent) INTERNALDATE \"08-Dec-2026 20:00:01 +0000\" RFC822 " +
      Literal(message) +
      " ENVELOPE (\"Tue, 8 Dec 2026 20:00:00 +0000\" \"Hi\" ((\"Ann Example\" NIL \"ann\" "
      "\"example.org\")) ((NIL NIL \"ann\" \"example.org\")) NIL ((NIL NIL \"bob\" "
      "\"example.net\")(\"Carl\" NIL \"carl\" \"example.net\")) NIL NIL NIL "
      "\"<id@example.org>\"))";
  const ImapFetchResponse response = ParseFetchResponse(line);
  EXPECT_EQ(response.number, 1);
  ASSERT_EQ(response.items.size(), 4u);
  EXPECT_EQ(response.items[0].kind, K::kFlags);
  EXPECT_EQ(response.items[0].flag_text, "(\\Seen \\Recent)");
  EXPECT_EQ(response.items[0].flags,
            (TMessageFlagSet{TMessageFlag::mesSeen, TMessageFlag::mesRecent}));
  EXPECT_EQ(response.items[1].kind, K::kInternalDate);
  EXPECT_EQ(response.items[1].Content(), "08-Dec-2026 20:00:01 +0000");
  EXPECT_EQ(response.items[2].kind, K::kRfc822);
  EXPECT_EQ(response.items[2].Content(), message);
  ASSERT_EQ(response.items[3].kind, K::kEnvelope);
  const ImapEnvelope& envelope = response.items[3].envelope;
  EXPECT_EQ(envelope.date, "Tue, 8 Dec 2026 20:00:00 +0000");
  EXPECT_EQ(envelope.subject, "Hi");
  ASSERT_EQ(envelope.from.addresses.size(), 1u);
  EXPECT_EQ(envelope.from.addresses[0].name, "Ann Example");
  EXPECT_EQ(envelope.from.addresses[0].address, "ann@example.org");
  ASSERT_EQ(envelope.to.addresses.size(), 2u);
  EXPECT_EQ(envelope.to.addresses[0].name, "");
  EXPECT_EQ(envelope.to.addresses[1].name, "Carl");
  EXPECT_EQ(envelope.to.addresses[1].address, "carl@example.net");
  EXPECT_TRUE(envelope.cc.nil);
  EXPECT_TRUE(envelope.bcc.nil);
}

TEST(FetchResponse, SizeUidHeaderTextAndSkippedItems) {
  const std::string line = "7 FETCH (UID 4827 RFC822.SIZE 310 BODYSTRUCTURE (\"text\" \"plain\" "
                           "(\"charset\" \"us-ascii\") NIL NIL \"7bit\" 3 1) MODSEQ (12) "
                           "RFC822.HEADER " + Literal("Subject: x\r\n\r\n") +
                           " RFC822.TEXT \"body\" BODY[HEADER.FIELDS (DATE FROM)]<0> " +
                           Literal("Date: x\r\n") + " X-GM-LABELS (\"a b\" c))";
  const ImapFetchResponse response = ParseFetchResponse(line);
  ASSERT_EQ(response.items.size(), 5u);
  EXPECT_EQ(response.items[0].kind, K::kUid);
  EXPECT_EQ(response.items[0].number, 4827);
  EXPECT_EQ(response.items[1].kind, K::kRfc822Size);
  EXPECT_EQ(response.items[1].number, 310);
  EXPECT_EQ(response.items[2].kind, K::kRfc822Header);
  EXPECT_EQ(response.items[2].Content(), "Subject: x\r\n\r\n");
  EXPECT_EQ(response.items[3].kind, K::kRfc822Text);
  EXPECT_EQ(response.items[3].Content(), "body");
  EXPECT_EQ(response.items[4].kind, K::kBody);
}

TEST(FetchResponse, GroupAddressesAndNilSubject) {
  const std::string line =
      "2 FETCH (ENVELOPE (NIL NIL NIL NIL NIL ((NIL NIL \"team\" NIL)(NIL NIL \"x\" \"y.z\")"
      "(NIL NIL NIL NIL)) () NIL NIL NIL))";
  const ImapEnvelope envelope = ParseFetchResponse(line).items.at(0).envelope;
  EXPECT_EQ(envelope.date, "");
  EXPECT_FALSE(envelope.subject.has_value());
  EXPECT_TRUE(envelope.from.nil);
  ASSERT_EQ(envelope.to.addresses.size(), 3u);
  EXPECT_EQ(envelope.to.addresses[0].address, "Group:team");
  EXPECT_EQ(envelope.to.addresses[1].address, "x@y.z");
  EXPECT_EQ(envelope.to.addresses[2].address, "Group:");
  EXPECT_FALSE(envelope.cc.nil);
  EXPECT_TRUE(envelope.cc.addresses.empty());
}

TEST(FetchResponse, EscapedQuotesInSubjectDoNotEndIt) {
  const std::string line =
      R"x(3 FETCH (ENVELOPE (NIL "say \"hi\" (now)" NIL NIL NIL NIL NIL NIL NIL NIL) UID 5))x";
  const ImapFetchResponse response = ParseFetchResponse(line);
  ASSERT_EQ(response.items.size(), 2u);
  EXPECT_EQ(response.items[0].envelope.subject, "say \"hi\" (now)");
  EXPECT_EQ(response.items[1].number, 5);
}

struct FetchErrorRow {
  const char* name;
  const char* line;
  const char* error;
};

class FetchErrors : public ::testing::TestWithParam<FetchErrorRow> {};

TEST_P(FetchErrors, RaiseTheirMessage) {
  try {
    ParseFetchResponse(GetParam().line);
    FAIL() << "no error";
  } catch (const EImapError& error) {
    EXPECT_STREQ(error.what(), GetParam().error);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FetchErrors,
    ::testing::Values(
        FetchErrorRow{"flags_without_close", "1 FETCH (FLAGS (\\Seen", "Bad flag list"},
        FetchErrorRow{"unknown_system_flag", "1 FETCH (FLAGS (\\Seen \\Junk))",
                      "Uncorrect message flag \"\\Junk\""},
        FetchErrorRow{"size_not_terminated", "1 FETCH (RFC822.SIZE 310",
                      "Bad RFC822.SIZE in FETCH responce"},
        FetchErrorRow{"size_not_a_number", "1 FETCH (RFC822.SIZE x1)",
                      "Bad RFC822.SIZE in FETCH responce"},
        FetchErrorRow{"uid_not_terminated", "1 FETCH (UID 12", "Bad UID in FETCH responce"},
        FetchErrorRow{"envelope_ends_after_from",
                      "1 FETCH (ENVELOPE (NIL NIL NIL", "Bad ENVELOPE responce"},
        FetchErrorRow{"envelope_ends_before_in_reply_to",
                      "1 FETCH (ENVELOPE (NIL NIL NIL NIL NIL NIL NIL NIL",
                      "Bad ENVELOPE responce"},
        FetchErrorRow{"envelope_closes_early", "1 FETCH (ENVELOPE (NIL NIL NIL NIL))",
                      "Bad ENVELOPE responce"},
        FetchErrorRow{"address_cut_short", "1 FETCH (ENVELOPE (NIL NIL ((NIL NIL \"a\")) ",
                      "Bad ENVELOPE responce"},
        FetchErrorRow{"literal_past_end", "1 FETCH (RFC822 {100}abc)",
                      "Literal runs past the end of the response"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FetchResponse, EmptyAndUnknownOnlyResponsesHaveNoItems) {
  EXPECT_TRUE(ParseFetchResponse("4 FETCH ()").items.empty());
  EXPECT_TRUE(ParseFetchResponse("4 FETCH (").items.empty());
  EXPECT_TRUE(ParseFetchResponse("4 FETCH (MODSEQ (5) X-THING \"v\")").items.empty());
}

}  // namespace
}  // namespace quillon
