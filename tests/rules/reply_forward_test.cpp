// Automatic replies and forwards of the received-message step, delivered to
// a real SMTP server (aiosmtpd) on loopback and checked as it stored them;
// failing servers, loop protection and header injection.
#include "rules/reply_forward.h"

#include <algorithm>
#include <fstream>
#include <memory>

#include "platform/text.h"
#include "store/address_record.h"
#include "tests/rules/received_message_support.h"
#include "tests/support/scripted_server.h"
#include "tests/support/smtp_sink.h"
#include "tests/support/test_certificates.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;
using test::kIncomingFolder;
using test::kWorkFolder;
using test::SmtpSink;
using test::SubjectRule;

const char kQuestion[] =
    "From: Sue Sender <sue@example.org>\n"
    "To: Una <me@acct.example>\n"
    "Subject: A question\n"
    "Date: Tue, 15 Nov 1994 08:12:31 +0100\n"
    "\n"
    "Are you there?\n";

// The header lines of stored message data (up to the empty line) and the
// rest.
struct SplitMessage {
  std::vector<std::string> headers;
  std::string body;
};

SplitMessage Split(const std::string& data) {
  SplitMessage split;
  const std::size_t end = data.find("\r\n\r\n");
  std::string block = data.substr(0, end + 2);
  split.body = end == std::string::npos ? "" : data.substr(end + 4);
  for (std::size_t at = 0; at < block.size();) {
    const std::size_t line_end = block.find("\r\n", at);
    split.headers.push_back(block.substr(at, line_end - at));
    at = line_end + 2;
  }
  return split;
}

std::vector<std::string> FieldNames(const std::vector<std::string>& headers) {
  std::vector<std::string> names;
  for (const std::string& line : headers) names.push_back(line.substr(0, line.find(':')));
  return names;
}

class ReplyForwardTest : public test::ReceivedMessageTest {
 protected:
  void SetUp() override {
    test::ReceivedMessageTest::SetUp();
    if (!SmtpSink::Available()) GTEST_SKIP() << "aiosmtpd is not available";
    sink_ = std::make_unique<SmtpSink>();
    CurrentAccount().SmtpHost = sink_->Address();
    reply_text_ = (directory_ / "reply.txt").string();
    std::ofstream(reply_text_, std::ios::binary) << "Thanks.\r\nAway until Monday.\r\n";
  }

  RuleRecord ReplyRule(const std::string& word) const {
    RuleRecord rule = SubjectRule(7, word, kWorkFolder);
    rule.RuleName = "Away";
    rule.ReplyEnabled = 1;
    rule.ReplySubject = "Out of office";
    rule.ReplyTextFile = reply_text_;
    return rule;
  }
  static RuleRecord ForwardRule(const std::string& word) {
    RuleRecord rule = SubjectRule(8, word, kWorkFolder);
    rule.RuleName = "Pass on";
    rule.ForwardEnabled = 1;
    rule.ForwardName = "Deputy";
    rule.ForwardAddress = "deputy@example.net";
    return rule;
  }
  // A rule that replies and forwards: when only the forward arrives, the
  // reply was not sent.
  RuleRecord ReplyAndForwardRule(const std::string& word) const {
    RuleRecord rule = ReplyRule(word);
    rule.ForwardEnabled = 1;
    rule.ForwardName = "Deputy";
    rule.ForwardAddress = "deputy@example.net";
    return rule;
  }

  // Waits for `count` messages and checks no more came (the step is done
  // with the server when it returns).
  std::vector<SmtpSink::Message> Delivered(std::size_t count) const {
    auto messages = sink_->WaitForMessages(count);
    EXPECT_EQ(sink_->Messages().size(), count);
    // Empty stand-ins keep the callers' checks failing instead of crashing.
    messages.resize(std::max(messages.size(), count));
    return messages;
  }

  std::unique_ptr<SmtpSink> sink_;
  std::string reply_text_;
};

// ---- replies ----

TEST_F(ReplyForwardTest, ReplyGoesToTheSenderAsComposed) {
  WriteRules({ReplyRule("question")});
  Receive(kQuestion);
  Process();
  const auto messages = Delivered(1);
  EXPECT_EQ(messages[0].mail_from, "me@acct.example");
  EXPECT_EQ(messages[0].recipients, (std::vector<std::string>{"sue@example.org"}));
  EXPECT_EQ(messages[0].data,
            "From:     Acct Owner <me@acct.example>\r\n"
            "To:       Sue Sender <sue@example.org>\r\n"
            "Organization: Corvane Test Org\r\n"
            "Reply-To: replies@acct.example\r\n"
            "Local-Message: 1\r\n"
            "QVN-Auto: QVN4-REPLY\r\n"
            "Auto-Submitted: auto-replied\r\n"
            "X-mailer: Velmar's Corvane 4 Preview 6\r\n"
            "Subject:  Out of office\r\n"
            "Mime-Version: 1.0\r\n"
            "Content-Type: text/plain; charset=\"us-ascii\"\r\n"
            "Content-Transfer-Encoding: 7bit\r\n"
            "\r\n"
            "Thanks.\r\n"
            "Away until Monday.\r\n"
            "\r\n");
  EXPECT_EQ(view_.texts,
            (std::vector<std::string>{"[Scanning filters...]", "[Applying filterrule Away...]",
                                      "Replying: A question", "[Saving message...]", ""}));
  ASSERT_EQ(StoredRecords().size(), 1u);
  EXPECT_EQ(StoredRecords()[0].FolderId, kWorkFolder);
}

TEST_F(ReplyForwardTest, ReplyLinesAreCutAndEightBitAccountsUseLatin1) {
  CurrentUser().Organization = std::string(80, 'o');
  CurrentAccount().ReplyToAddress = std::string(120, 'r');
  CurrentAccount().EightBitCharset = true;
  WriteRules({ReplyRule("question")});
  Receive(kQuestion);
  Process();
  const SplitMessage reply = Split(Delivered(1)[0].data);
  ASSERT_GE(reply.headers.size(), 12u);
  EXPECT_EQ(reply.headers[2], "Organization: " + std::string(64 - 14, 'o'));
  EXPECT_EQ(reply.headers[3], "Reply-To: " + std::string(110 - 10, 'r'));
  EXPECT_EQ(reply.headers[10], "Content-Type: text/plain; charset=\"iso-8859-1\"");
  EXPECT_EQ(reply.headers[11], "Content-Transfer-Encoding: quoted-printable");
}

TEST_F(ReplyForwardTest, ReplyCarriesTheRuleAttachmentsThatExist) {
  const std::string first = (directory_ / "terms.txt").string();
  const std::string second = (directory_ / "logo.bin").string();
  std::ofstream(first, std::ios::binary) << "terms\r\n";
  std::ofstream(second, std::ios::binary) << std::string("\x00\x01\xff\x10", 4);
  RuleRecord rule = ReplyRule("question");
  rule.ReplyAttachment = {first, (directory_ / "missing.doc").string(), second, ""};
  WriteRules({rule});
  Receive(kQuestion);
  Process();
  const auto messages = Delivered(1);
  TmsMessage reply;
  TMemoryStream stream;
  stream.Write(messages[0].data);
  stream.SetPosition(0);
  reply.LoadFromStream(stream);
  ASSERT_EQ(reply.Attachments().Count(), 2);
  EXPECT_EQ(reply.Attachments().Items(0).FileName(), "terms.txt");
  EXPECT_EQ(reply.Attachments().Items(0).Data().Data(), "terms\r\n");
  EXPECT_EQ(reply.Attachments().Items(1).FileName(), "logo.bin");
  EXPECT_EQ(reply.Attachments().Items(1).Data().Data(), std::string("\x00\x01\xff\x10", 4));
  EXPECT_EQ(reply.Body(), (TStringList{"Thanks.", "Away until Monday."}));
}

TEST_F(ReplyForwardTest, RepliesUseStartTlsWhenOfferedAndClearTextWhenItsCertificateFails) {
  if (!test::TestCertificates::Available()) GTEST_SKIP() << "openssl is not available";
  const test::TestCertificates& certificates = test::TestCertificates::Get();
  smtp_.SetCAFile(certificates.CaFile());
  WriteRules({ReplyRule("question")});
  for (const bool trusted : {true, false}) {
    SCOPED_TRACE(trusted ? "trusted" : "for another host");
    const test::TestCertificate certificate =
        trusted ? certificates.Server() : certificates.OtherHost();
    SmtpSink sink(SmtpSink::Tls{"starttls", certificate.certificate_file, certificate.key_file});
    CurrentAccount().SmtpHost = sink.Address();
    Receive(kQuestion);
    Process();
    const auto messages = sink.WaitForMessages(1);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].recipients, (std::vector<std::string>{"sue@example.org"}));
    EXPECT_EQ(messages[0].tls_version.starts_with("TLSv1."), trusted);
  }
}

TEST_F(ReplyForwardTest, TwoRepliesGoEachOnlyToItsOwnSender) {
  WriteRules({ReplyRule("question")});
  Receive(kQuestion);
  Process();
  Receive("From: Tom <tom@example.com>\nCc: x@example.com\nSubject: question 2\n\nhi\n");
  Process();
  const auto messages = Delivered(2);
  EXPECT_EQ(messages[0].recipients, (std::vector<std::string>{"sue@example.org"}));
  EXPECT_EQ(messages[1].recipients, (std::vector<std::string>{"tom@example.com"}));
  const SplitMessage second = Split(messages[1].data);
  EXPECT_EQ(second.headers[1], "To:       Tom <tom@example.com>");
  EXPECT_EQ(second.headers[4], "Local-Message: 2");
  EXPECT_EQ(
      FieldNames(second.headers),
      (std::vector<std::string>{"From", "To", "Organization", "Reply-To", "Local-Message",
                                "QVN-Auto", "Auto-Submitted", "X-mailer", "Subject", "Mime-Version",
                                "Content-Type", "Content-Transfer-Encoding"}));
}

TEST_F(ReplyForwardTest, MissingReplyTextSendsNoReplyAndTheMessageIsStored) {
  RuleRecord rule = ReplyAndForwardRule("question");
  rule.ReplyTextFile = (directory_ / "no-such-text.txt").string();
  rule.ColourEnabled = 1;
  rule.RuleColourCode = 6;
  WriteRules({rule});
  Receive(kQuestion);
  Process();
  const auto messages = Delivered(1);
  EXPECT_EQ(messages[0].recipients, (std::vector<std::string>{"deputy@example.net"}));
  ASSERT_EQ(StoredRecords().size(), 1u);
  EXPECT_EQ(StoredRecords()[0].ColourCode, 6);
  EXPECT_EQ(talker_.commands, (std::vector<std::string>{"MessNew:20|1|1"}));
}

// ---- replies that must not be sent ----

struct SuppressionRow {
  const char* name;
  std::string header_lines;
  std::string from = "Sue Sender <sue@example.org>";
};

void PrintTo(const SuppressionRow& row, std::ostream* out) { *out << row.name; }

class ReplySuppressionTest : public ReplyForwardTest,
                             public ::testing::WithParamInterface<SuppressionRow> {};

TEST_P(ReplySuppressionTest, OnlyTheForwardIsSent) {
  WriteRules({ReplyAndForwardRule("question")});
  Receive("From: " + GetParam().from + "\n" + GetParam().header_lines +
          "Subject: A question\n\nAre you there?\n");
  Process();
  const auto messages = Delivered(1);
  EXPECT_EQ(messages[0].recipients, (std::vector<std::string>{"deputy@example.net"}));
  // The status shows the reply step all the same.
  EXPECT_EQ(view_.texts[2], "Replying: A question");
  EXPECT_EQ(view_.texts[3], "Forwarding: A question");
}

INSTANTIATE_TEST_SUITE_P(
    Rfc3834, ReplySuppressionTest,
    ::testing::Values(
        SuppressionRow{"AutoReplied", "Auto-Submitted: auto-replied\n"},
        SuppressionRow{"AutoGenerated", "auto-submitted: Auto-Generated; x=1\n"},
        SuppressionRow{"PrecedenceBulk", "Precedence: bulk\n"},
        SuppressionRow{"PrecedenceList", "Precedence: LIST\n"},
        SuppressionRow{"PrecedenceJunk", "Precedence: junk\n"},
        SuppressionRow{"ListId", "List-Id: <team.example.org>\n"},
        SuppressionRow{"ListUnsubscribe", "List-Unsubscribe: <mailto:leave@example.org>\n"},
        SuppressionRow{"OwnReply", "QVN-Auto: QVN4-REPLY\n"},
        SuppressionRow{"OwnForward", "QVN-Auto: QVN4-FORWARD\n"},
        SuppressionRow{"MailerDaemon", "", "MAILER-DAEMON@example.org"},
        SuppressionRow{"MailerDaemonLower", "", "Mail System <mailer-daemon@example.org>"},
        SuppressionRow{"Postmaster", "", "PostMaster@example.org"}));

TEST_F(ReplyForwardTest, MessageWithoutSenderAddressGetsNoReply) {
  // Nothing may connect: a reply attempt would show up as a connection.
  test::ScriptedServer server("S: 220 ready\nH\n");
  CurrentAccount().SmtpHost = server.Address();
  WriteRules({ReplyRule("question")});
  Receive("From: Nobody <>\nSubject: A question\n\nAre you there?\n");
  Process();
  EXPECT_EQ(server.Connections(), 0);
  EXPECT_EQ(view_.texts[2], "Replying: A question");
  EXPECT_EQ(StoredRecords().size(), 1u);
}

TEST_F(ReplyForwardTest, AutoSubmittedNoAndOrdinaryPrecedenceStillGetAReply) {
  WriteRules({ReplyRule("question")});
  Receive(
      "From: sue@example.org\nAuto-Submitted: no\nPrecedence: first-class\n"
      "Subject: A question\n\nx\n");
  Process();
  EXPECT_EQ(Delivered(1)[0].recipients, (std::vector<std::string>{"sue@example.org"}));
}

// ---- forwards ----

TEST_F(ReplyForwardTest, ForwardKeepsSenderSubjectAndBodyWithOnlyTheForwardAddress) {
  WriteRules({ForwardRule("question")});
  Receive(kQuestion);
  Process();
  const auto messages = Delivered(1);
  EXPECT_EQ(messages[0].mail_from, "sue@example.org");
  EXPECT_EQ(messages[0].recipients, (std::vector<std::string>{"deputy@example.net"}));
  EXPECT_EQ(messages[0].data,
            "From:     Sue Sender <sue@example.org>\r\n"
            "To:       Deputy <deputy@example.net>\r\n"
            "Date: Tue, 15 Nov 1994 08:12:31 +0100\r\n"
            "Organization: Corvane Test Org\r\n"
            "Reply-To: replies@acct.example\r\n"
            "Local-Message: 1\r\n"
            "QVN-Auto: QVN4-FORWARD\r\n"
            "X-mailer: Velmar's Corvane 4 Preview 6\r\n"
            "Subject:  A question\r\n"
            "Mime-Version: 1.0\r\n"
            "Content-Type: text/plain; charset=\"us-ascii\"\r\n"
            "Content-Transfer-Encoding: 7bit\r\n"
            "\r\n"
            "Are you there?\r\n"
            "\r\n");
  EXPECT_EQ(view_.texts[2], "Forwarding: A question");
}

TEST_F(ReplyForwardTest, GroupForwardGoesToTheMembersAsBccInBookOrder) {
  AddAddressToGroup("Cy", "cy@example.org", 9);
  AddAddressToGroup("Other", "other@example.org", 3);
  AddAddressToGroup("Al", "al@example.org", 9);
  AddAddressToGroup("Bo", "bo@example.org", 9);
  RuleRecord rule = ForwardRule("question");
  rule.ForwardToGroup = 1;
  rule.ForwardGroupId = 9;
  WriteRules({rule});
  Receive(kQuestion);
  Process();
  const auto messages = Delivered(1);
  EXPECT_EQ(messages[0].recipients,
            (std::vector<std::string>{"cy@example.org", "al@example.org", "bo@example.org"}));
  const SplitMessage forward = Split(messages[0].data);
  EXPECT_EQ(FieldNames(forward.headers),
            (std::vector<std::string>{"From", "Date", "Organization", "Reply-To", "Local-Message",
                                      "QVN-Auto", "X-mailer", "Subject", "Mime-Version",
                                      "Content-Type", "Content-Transfer-Encoding"}));
  EXPECT_EQ(messages[0].data.find("example.org>,"), std::string::npos);
}

TEST_F(ReplyForwardTest, ForwardKeepsTheAttachments) {
  WriteRules({ForwardRule("Files")});
  Receive(
      "From: Sue <sue@example.org>\nSubject: Files\nMime-Version: 1.0\n"
      "Content-Type: multipart/mixed; boundary=\"B1\"\n\n"
      "--B1\nContent-Type: text/plain\n\nsee file\n"
      "--B1\nContent-Type: application/octet-stream; name=\"a.bin\"\n"
      "Content-Transfer-Encoding: base64\n\nAAEC/w==\n--B1--\n");
  Process();
  TmsMessage forward;
  TMemoryStream stream;
  stream.Write(Delivered(1)[0].data);
  stream.SetPosition(0);
  forward.LoadFromStream(stream);
  ASSERT_EQ(forward.Attachments().Count(), 1);
  EXPECT_EQ(forward.Attachments().Items(0).FileName(), "a.bin");
  EXPECT_EQ(forward.Attachments().Items(0).Data().Data(), std::string("\x00\x01\x02\xff", 4));
  EXPECT_EQ(forward.Body(), TStringList{"see file"});
  EXPECT_EQ(forward.Headers().GetFieldValue("QVN-Auto"), "QVN4-FORWARD");
}

TEST_F(ReplyForwardTest, ThirdForwardHopIsTheLast) {
  WriteRules({ForwardRule("hop")});
  Receive(
      "From: sue@example.org\nQVN-Auto: QVN4-FORWARD\nqvn-auto:  qvn4-forward \n"
      "Subject: hop two\n\nx\n");
  Process();
  const SplitMessage third = Split(Delivered(1)[0].data);
  const std::vector<std::string> names = FieldNames(third.headers);
  EXPECT_EQ(std::count_if(names.begin(), names.end(),
                          [](const std::string& name) { return SameText(name, "QVN-Auto"); }),
            3);

  Receive(
      "From: sue@example.org\nQVN-Auto: QVN4-FORWARD\nQVN-Auto: QVN4-FORWARD\n"
      "QVN-Auto: QVN4-FORWARD\nSubject: hop three\n\nx\n");
  Process();
  Delivered(1);
  EXPECT_EQ(view_.texts[view_.texts.size() - 3], "Forwarding: hop three");
  EXPECT_EQ(StoredRecords().size(), 2u);
}

// ---- header injection ----

TEST_F(ReplyForwardTest, LineBreaksInCopiedValuesNeverStartHeaderLines) {
  CurrentUser().Organization = "Org\r\nBcc: evil@example.com";
  CurrentAccount().ReplyToAddress = "r@acct.example\nX-Injected: 1";
  WriteRules({ReplyAndForwardRule("question")});
  // The display name decodes to text with CR LF in it.
  Receive(
      "From: =?iso-8859-1?Q?Sue=0D=0ABcc:_evil@example.com?= <sue@example.org>\n"
      "Subject: =?iso-8859-1?Q?A_question=0D=0AX-Injected:_2?=\n\nx\n");
  Process();
  const auto messages = Delivered(2);
  EXPECT_EQ(messages[0].recipients, (std::vector<std::string>{"sue@example.org"}));
  EXPECT_EQ(messages[1].recipients, (std::vector<std::string>{"deputy@example.net"}));
  for (const auto& message : messages) {
    const SplitMessage split = Split(message.data);
    for (const std::string& line : split.headers) {
      EXPECT_FALSE(line.starts_with("Bcc")) << line;
      EXPECT_FALSE(line.starts_with("X-Injected")) << line;
    }
  }
  const SplitMessage reply = Split(messages[0].data);
  EXPECT_EQ(reply.headers[2], "Organization: Org  Bcc: evil@example.com");
  EXPECT_EQ(reply.headers[3], "Reply-To: r@acct.example X-Injected: 1");
}

TEST_F(ReplyForwardTest, LineBreaksInForwardAddressesFromRulesAndBookAreBlanked) {
  AddAddressToGroup("Al\r\nBcc: x@evil.example", "al@example.org", 9);
  RuleRecord rule = ForwardRule("question");
  rule.ForwardToGroup = 1;
  rule.ForwardGroupId = 9;
  WriteRules({rule});
  Receive(kQuestion);
  Process();
  const auto messages = Delivered(1);
  EXPECT_EQ(messages[0].recipients, (std::vector<std::string>{"al@example.org"}));
  for (const std::string& line : Split(messages[0].data).headers) {
    EXPECT_FALSE(line.starts_with("Bcc")) << line;
  }
}

// ---- servers that fail ----

TEST_F(ReplyForwardTest, UnreachableServerNeverEndsProcessing) {
  test::RefusingPort refusing;
  CurrentAccount().SmtpHost = refusing.Address();
  RuleRecord rule = ReplyAndForwardRule("question");
  rule.ColourEnabled = 1;
  rule.RuleColourCode = 2;
  WriteRules({rule});
  Receive(kQuestion);
  Process();
  EXPECT_EQ(view_.texts,
            (std::vector<std::string>{"[Scanning filters...]", "[Applying filterrule Away...]",
                                      "Replying: A question", "Forwarding: A question",
                                      "Color Coding: A question", "[Saving message...]", ""}));
  ASSERT_EQ(StoredRecords().size(), 1u);
  EXPECT_EQ(StoredRecords()[0].ColourCode, 2);
  EXPECT_EQ(talker_.commands, (std::vector<std::string>{"MessNew:20|1|1"}));
}

TEST_F(ReplyForwardTest, RefusedGreetingLeavesNoConnectionBehindForTheNextReply) {
  test::ScriptedServer server(
      "S: 554 not now\n"
      "A\n"
      "S: 220 ready\n"
      "C~ EHLO\n"
      "S: 250 hello\n"
      "C: MAIL FROM:<me@acct.example>\n"
      "S: 250 ok\n"
      "C: RCPT TO:<tom@example.com>\n"
      "S: 250 ok\n"
      "C: DATA\n"
      "S: 354 go on\n"
      "D\n"
      "S: 250 stored\n"
      "C: QUIT\n"
      "S: 221 bye\n");
  CurrentAccount().SmtpHost = server.Address();
  WriteRules({ReplyRule("question")});
  Receive(kQuestion);
  Process();
  Receive("From: Tom <tom@example.com>\nSubject: question 2\n\nhi\n");
  Process();
  EXPECT_EQ(server.Finish(), "");
  ASSERT_EQ(server.DataBlocks().size(), 1u);
  EXPECT_NE(server.DataBlocks()[0].find("To:       Tom <tom@example.com>"), std::string::npos);
  EXPECT_EQ(StoredRecords().size(), 2u);
}

TEST_F(ReplyForwardTest, RejectedRecipientEndsOnlyTheForward) {
  RuleRecord rule = ForwardRule("question");
  rule.ForwardAddress = "reject-all@example.net";
  rule.ColourEnabled = 1;
  rule.RuleColourCode = 3;
  WriteRules({rule});
  Receive(kQuestion);
  Process();
  ASSERT_EQ(StoredRecords().size(), 1u);
  EXPECT_EQ(StoredRecords()[0].ColourCode, 3);
  // The client is usable again: the next forward is delivered.
  WriteRules({ForwardRule("question")});
  Receive(kQuestion);
  Process();
  EXPECT_EQ(Delivered(1)[0].recipients, (std::vector<std::string>{"deputy@example.net"}));
}

}  // namespace
}  // namespace quillon
