// The received-message step without a mail server: storing, filing,
// notification, colour and priority codes, dates, printing, the address
// book and saved attachments. Replies and forwards: reply_forward_test.cpp.
#include "rules/received_message.h"

#include <sys/stat.h>

#include <fstream>

#include "mail/header_values.h"
#include "platform/date_text.h"
#include "store/address_record.h"
#include "tests/rules/received_message_support.h"
#include "tests/support/scripted_server.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;
using test::kAccountId;
using test::kIncomingFolder;
using test::kOwnAddress;
using test::kWorkFolder;
using test::SubjectRule;

const char kPlainMessage[] =
    "From: Sue Sender <sue@example.org>\n"
    "To: Una <me@acct.example>\n"
    "Subject: Quarterly invoice\n"
    "Date: Tue, 15 Nov 1994 08:12:31 +0100\n"
    "\n"
    "Please pay.\n";

std::string WithAttachments(const std::string& first_name, const std::string& second_name) {
  return "From: Sue Sender <sue@example.org>\n"
         "To: me@acct.example\n"
         "Subject: Files\n"
         "Mime-Version: 1.0\n"
         "Content-Type: multipart/mixed; boundary=\"XYZ\"\n"
         "\n"
         "--XYZ\n"
         "Content-Type: text/plain\n"
         "\n"
         "see files\n"
         "--XYZ\n"
         "Content-Type: application/octet-stream; name=\"" + first_name + "\"\n"
         "Content-Transfer-Encoding: base64\n"
         "\n"
         "Zmlyc3QgZGF0YQ==\n"
         "--XYZ\n"
         "Content-Type: text/plain; name=\"" + second_name + "\"\n"
         "\n"
         "second data\n"
         "--XYZ--\n";
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

using StepTest = test::ReceivedMessageTest;

// ---- storing and filing ----

TEST_F(StepTest, EmptyMessageIsSkippedEntirely) {
  Receive("Subject: nothing here\n\n   \n\t\n");
  CurrentRunState().SavedCount = 3;
  Process();
  EXPECT_TRUE(StoredFiles().empty());
  EXPECT_TRUE(StoredRecords().empty());
  EXPECT_TRUE(talker_.commands.empty());
  EXPECT_TRUE(view_.texts.empty());
  EXPECT_EQ(CurrentRunState().SavedCount, 3);
}

TEST_F(StepTest, MessageWithOnlyASenderIsStored) {
  Receive("From: sue@example.org\nSubject: empty body\n\n");
  Process();
  EXPECT_EQ(StoredRecords().size(), 1u);
}

TEST_F(StepTest, UnmatchedMessageGoesToIncomingFolderWithColourOne) {
  Receive(kPlainMessage);
  Process();
  EXPECT_EQ(StoredFiles(), (std::vector<std::string>{"M1!A4!U1!.eml", "M1!A4!U1!.rcv"}));
  const auto records = StoredRecords();
  ASSERT_EQ(records.size(), 1u);
  const MessageRecord& record = records[0];
  EXPECT_EQ(record.MessageNumber, 1);
  EXPECT_EQ(record.FolderId, kIncomingFolder);
  EXPECT_EQ(record.UserId, test::kUserId);
  EXPECT_EQ(record.AccountId, kAccountId);
  EXPECT_EQ(record.ColourCode, 1);
  EXPECT_EQ(record.Priority, 1);
  EXPECT_EQ(record.MessageFileName, "In\\M1!A4!U1!.eml");
  EXPECT_EQ(record.RecipientsFileName, "In\\M1!A4!U1!.rcv");
  EXPECT_EQ(record.Subject, "Quarterly invoice");
  EXPECT_EQ(record.SenderText, "Sue Sender <sue@example.org>");
  EXPECT_EQ(record.MessageIdText, "<id-1@example.org>");
  EXPECT_EQ(record.MessageSize, 1234);
  EXPECT_EQ(record.HasAttachments, 0);
  EXPECT_EQ(record.StatusFlagA, 0);
  EXPECT_EQ(record.StatusFlagB, 1);
  EXPECT_EQ(record.StatusFlagC, 0);
  EXPECT_EQ(record.ToList, "Una <me@acct.example>");
  EXPECT_EQ(view_.texts,
            (std::vector<std::string>{"[Scanning filters...]", "[Saving message...]", ""}));
  EXPECT_EQ(talker_.commands, (std::vector<std::string>{"MessNew:13|1|1"}));
  EXPECT_EQ(CurrentRunState().SavedCount, 1);
}

TEST_F(StepTest, StoredMessageFileReadsBackAsTheReceivedMessage) {
  Receive(kPlainMessage);
  Process();
  TmsMessage stored;
  stored.LoadFromFile(PathOf("In/M1!A4!U1!.eml"));
  EXPECT_EQ(stored.Subject(), "Quarterly invoice");
  EXPECT_EQ(stored.Sender().Address(), "sue@example.org");
  EXPECT_EQ(stored.Body(), TStringList{"Please pay."});
}

TEST_F(StepTest, DateHeaderGivesTheMessageDateAndZoneText) {
  Receive(kPlainMessage);
  Process();
  const double expected = EncodeDate(1994, 11, 15) + (8 * 3600 + 12 * 60 + 31) / 86400.0;
  EXPECT_NEAR(CurrentRunState().CurrentMessageDate, expected, 1e-6);
  const auto records = StoredRecords();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_NEAR(records[0].MessageDate, expected, 1e-6);
  EXPECT_EQ(records[0].TimeZoneText, "+01");  // the record keeps three characters
}

TEST_F(StepTest, MessageWithoutDateIsDatedWhenProcessed) {
  Receive("From: sue@example.org\nSubject: undated\n\nbody\n");
  const double before = NowDateTime();
  Process();
  const double after = NowDateTime();
  EXPECT_GE(CurrentRunState().CurrentMessageDate, before);
  EXPECT_LE(CurrentRunState().CurrentMessageDate, after);
  ASSERT_EQ(StoredRecords().size(), 1u);
  EXPECT_EQ(StoredRecords()[0].MessageDate, CurrentRunState().CurrentMessageDate);
}

TEST_F(StepTest, NumbersAndCountsGrowOverARun) {
  for (int i = 0; i < 3; ++i) {
    Receive(kPlainMessage);
    Process();
  }
  const auto records = StoredRecords();
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[2].MessageNumber, 3);
  EXPECT_EQ(records[2].MessageFileName, "In\\M3!A4!U1!.eml");
  EXPECT_EQ(talker_.commands, (std::vector<std::string>{"MessNew:13|1|1", "MessNew:13|2|2",
                                                        "MessNew:13|3|3"}));
}

struct PriorityRow {
  const char* header;
  int code;
};

class PriorityTest : public test::ReceivedMessageTest,
                     public ::testing::WithParamInterface<PriorityRow> {};

TEST_P(PriorityTest, PriorityCodeFollowsTheMessagePriority) {
  Receive(std::string("From: sue@example.org\n") + GetParam().header + "Subject: p\n\nx\n");
  Process();
  ASSERT_EQ(StoredRecords().size(), 1u);
  EXPECT_EQ(StoredRecords()[0].Priority, GetParam().code);
}

INSTANTIATE_TEST_SUITE_P(Codes, PriorityTest,
                         ::testing::Values(PriorityRow{"X-Priority: 1\n", 2},
                                           PriorityRow{"X-Priority: 5\n", 0},
                                           PriorityRow{"X-Priority: 3\n", 1},
                                           PriorityRow{"", 1}));

// ---- rules ----

TEST_F(StepTest, MatchingRuleFilesAndColoursTheMessage) {
  RuleRecord rule = SubjectRule(7, "invoice", kWorkFolder);
  rule.RuleName = "Invoices";
  rule.ColourEnabled = 1;
  rule.RuleColourCode = 5;
  WriteRules({SubjectRule(6, "nomatch", kIncomingFolder), rule});
  Receive(kPlainMessage);
  Process();
  const auto records = StoredRecords();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].FolderId, kWorkFolder);
  EXPECT_EQ(records[0].ColourCode, 5);
  EXPECT_EQ(view_.texts, (std::vector<std::string>{
                             "[Scanning filters...]", "[Applying filterrule Invoices...]",
                             "Color Coding: Quarterly invoice", "[Saving message...]", ""}));
  EXPECT_EQ(talker_.commands, (std::vector<std::string>{"MessNew:20|1|1"}));
}

TEST_F(StepTest, MatchedRuleWithoutColourKeepsColourOne) {
  WriteRules({SubjectRule(7, "invoice", kWorkFolder)});
  Receive(kPlainMessage);
  Process();
  ASSERT_EQ(StoredRecords().size(), 1u);
  EXPECT_EQ(StoredRecords()[0].ColourCode, 1);
  EXPECT_EQ(StoredRecords()[0].FolderId, kWorkFolder);
}

TEST_F(StepTest, MissingTargetFolderFallsBackToIncomingAndActionsStillRun) {
  RuleRecord rule = SubjectRule(7, "invoice", 77);
  rule.ColourEnabled = 1;
  rule.RuleColourCode = 3;
  rule.AddressActionEnabled = 1;
  rule.AddressMode = kAddSender;
  rule.AddressGroupId = 5;
  WriteRules({rule});
  Receive(kPlainMessage);
  Process();
  const auto records = StoredRecords();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].FolderId, kIncomingFolder);
  EXPECT_EQ(records[0].ColourCode, 3);
  EXPECT_TRUE(AddressInGroup(5, "sue@example.org"));
  EXPECT_EQ(talker_.commands, (std::vector<std::string>{"MessNew:13|1|1"}));
}

// ---- the address book ----

std::vector<std::string> GroupAddresses(int group) {
  std::vector<std::string> addresses;
  for (const AddressRecord& entry : AddressesInGroup(group)) {
    addresses.push_back(entry.EntryName + "<" + entry.EntryAddress + ">");
  }
  return addresses;
}

class AddressBookTest : public test::ReceivedMessageTest {
 protected:
  void RunMode(std::uint8_t mode, const std::string& message) {
    RuleRecord rule = SubjectRule(7, "team", kWorkFolder);
    rule.AddressActionEnabled = 1;
    rule.AddressMode = mode;
    rule.AddressGroupId = 5;
    WriteRules({rule});
    Receive(message);
    Process();
  }
};

const char kTeamMessage[] =
    "From: Sue <sue@example.org>\n"
    "To: Una <me@acct.example>, Al <al@example.org>\n"
    "Cc: Cy <cy@example.org>, Me Again <ME@acct.example>\n"
    "Bcc: Di <di@example.org>\n"
    "Subject: team news\n\nhello\n";

TEST_F(AddressBookTest, ModeZeroAddsTheSender) {
  RunMode(kAddSender, kTeamMessage);
  EXPECT_EQ(GroupAddresses(5), (std::vector<std::string>{"Sue<sue@example.org>"}));
  EXPECT_EQ(view_.texts[2], "Adding/Removing address: team news");
}

TEST_F(AddressBookTest, ModeOneAddsSenderToAndCcButNotTheOwnAddressOrBcc) {
  RunMode(kAddSenderAndRecipients, kTeamMessage);
  // The own address is compared exactly, so its upper-case spelling is
  // added like any other CC recipient.
  EXPECT_EQ(GroupAddresses(5),
            (std::vector<std::string>{"Sue<sue@example.org>", "Al<al@example.org>",
                                      "Cy<cy@example.org>", "Me Again<ME@acct.example>"}));
}

TEST_F(AddressBookTest, ModeOneAddsTheSenderEvenWhenItIsTheOwnAddress) {
  RunMode(kAddSenderAndRecipients,
          "From: Me <me@acct.example>\nTo: me@acct.example\nSubject: team self\n\nx\n");
  EXPECT_EQ(GroupAddresses(5), (std::vector<std::string>{"Me<me@acct.example>"}));
}

TEST_F(AddressBookTest, ModeTwoRemovesTheSender) {
  AddAddressToGroup("Sue", "SUE@example.org", 5);
  AddAddressToGroup("Al", "al@example.org", 5);
  RunMode(kRemoveSender, kTeamMessage);
  EXPECT_EQ(GroupAddresses(5), (std::vector<std::string>{"Al<al@example.org>"}));
}

TEST_F(AddressBookTest, OtherModesOnlyShowTheStatus) {
  RunMode(9, kTeamMessage);
  EXPECT_TRUE(GroupAddresses(5).empty());
  EXPECT_EQ(view_.texts[2], "Adding/Removing address: team news");
  EXPECT_EQ(StoredRecords().size(), 1u);
}

// ---- printing ----

TEST_F(StepTest, PrintRuleHandsTheMessageToThePrinter) {
  RuleRecord rule = SubjectRule(7, "invoice", kWorkFolder);
  rule.PrintEnabled = 1;
  rule.UseDefaultPrinter = 0;
  rule.PrinterName = "Office Laser";
  WriteRules({rule});
  Receive(kPlainMessage);
  Process();
  ASSERT_EQ(printer_.requests.size(), 1u);
  const PrintRequest& request = printer_.requests[0];
  EXPECT_FALSE(request.use_default_printer);
  EXPECT_EQ(request.printer_name, "Office Laser");
  EXPECT_EQ(request.subject, "Quarterly invoice");
  EXPECT_EQ(request.from, "<sue@example.org>Sue Sender");
  EXPECT_EQ(request.to, "Una User <me@acct.example>");
  const double date = CurrentRunState().CurrentMessageDate;
  EXPECT_EQ(request.date, ShortDateText(date) + " " + LongTimeText(date));
  EXPECT_EQ(request.attachments, "");
  EXPECT_EQ(request.body, TStringList{"Please pay."});
  EXPECT_EQ(view_.texts[2], "Printing: Quarterly invoice");
}

TEST_F(StepTest, PrintedRecipientIsCutTo143Characters) {
  CurrentUser().UserName = std::string(141, 'u');
  RuleRecord rule = SubjectRule(7, "invoice", kWorkFolder);
  rule.PrintEnabled = 1;
  rule.UseDefaultPrinter = 1;
  WriteRules({rule});
  Receive(kPlainMessage);
  Process();
  ASSERT_EQ(printer_.requests.size(), 1u);
  EXPECT_TRUE(printer_.requests[0].use_default_printer);
  EXPECT_EQ(printer_.requests[0].to, std::string(141, 'u') + " <");
}

TEST_F(StepTest, PrintFailureEndsTheMessageWithFilesLeftAndNoRecord) {
  RuleRecord rule = SubjectRule(7, "invoice", kWorkFolder);
  rule.PrintEnabled = 1;
  rule.ColourEnabled = 1;
  WriteRules({rule});
  Receive(kPlainMessage);
  EXPECT_THROW(Process(nullptr), EPrinterError);
  EXPECT_EQ(StoredFiles(), (std::vector<std::string>{"M1!A4!U1!.eml", "M1!A4!U1!.rcv"}));
  EXPECT_TRUE(StoredRecords().empty());
  EXPECT_TRUE(talker_.commands.empty());
  EXPECT_EQ(view_.texts.back(), "Printing: Quarterly invoice");
}

// ---- saving attachments ----

class SaveAttachmentsTest : public test::ReceivedMessageTest {
 protected:
  void SetUp() override {
    test::ReceivedMessageTest::SetUp();
    target_ = directory_ / "saved";
    RuleRecord rule = SubjectRule(7, "Files", kWorkFolder);
    rule.SaveAttachmentsEnabled = 1;
    rule.SaveAttachmentsDir = target_.string();
    rule.ColourEnabled = 1;
    rule.RuleColourCode = 4;
    WriteRules({rule});
  }
  std::vector<std::string> SavedNames() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(target_)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  fs::path target_;
};

TEST_F(SaveAttachmentsTest, AttachmentsAreWrittenIntoTheDirectory) {
  fs::create_directory(target_);
  Receive(WithAttachments("report.pdf", "notes.txt"));
  Process();
  EXPECT_EQ(SavedNames(), (std::vector<std::string>{"notes.txt", "report.pdf"}));
  EXPECT_EQ(ReadFile(target_ / "report.pdf"), "first data");
  EXPECT_EQ(ReadFile(target_ / "notes.txt"), "second data");
  ASSERT_EQ(StoredRecords().size(), 1u);
  EXPECT_EQ(StoredRecords()[0].HasAttachments, 1);
  EXPECT_EQ(StoredRecords()[0].ColourCode, 4);
  EXPECT_EQ(view_.texts[2], "Saving Attachments: Files");
}

TEST_F(SaveAttachmentsTest, ExistingFilesAreKeptAndCopiesGetNumberedNames) {
  fs::create_directory(target_);
  { std::ofstream(target_ / "report.pdf") << "older report"; }
  Receive(WithAttachments("report.pdf", "report.pdf"));
  Process();
  Receive(WithAttachments("README", ".profile"));
  Process();
  Receive(WithAttachments("README", ".profile"));
  Process();
  EXPECT_EQ(SavedNames(),
            (std::vector<std::string>{".profile", ".profile(1)", "README", "README(1)",
                                      "report(1).pdf", "report(2).pdf", "report.pdf"}));
  EXPECT_EQ(ReadFile(target_ / "report.pdf"), "older report");
  EXPECT_EQ(ReadFile(target_ / "report(1).pdf"), "first data");
  EXPECT_EQ(ReadFile(target_ / "report(2).pdf"), "second data");
}

TEST_F(SaveAttachmentsTest, NamesNeverLeadOutOfTheDirectory) {
  fs::create_directory(target_);
  const fs::path outside = directory_ / "outside.txt";
  { std::ofstream(outside) << "keep me"; }
  // A link in the directory pointing elsewhere is not written through.
  fs::create_symlink(outside, target_ / "link.txt");
  Receive(WithAttachments("../../outside.txt", "link.txt"));
  Process();
  EXPECT_EQ(ReadFile(outside), "keep me");
  EXPECT_EQ(SavedNames(), (std::vector<std::string>{"link(1).txt", "link.txt", "outside.txt"}));
  EXPECT_EQ(ReadFile(target_ / "outside.txt"), "first data");
  EXPECT_EQ(ReadFile(target_ / "link(1).txt"), "second data");
}

TEST_F(SaveAttachmentsTest, MissingDirectoryEndsTheMessageWithFilesLeftAndNoRecord) {
  Receive(WithAttachments("report.pdf", "notes.txt"));
  EXPECT_THROW(Process(), std::system_error);
  EXPECT_EQ(StoredFiles(), (std::vector<std::string>{"M1!A4!U1!.eml", "M1!A4!U1!.rcv"}));
  EXPECT_TRUE(StoredRecords().empty());
  EXPECT_TRUE(talker_.commands.empty());
  EXPECT_FALSE(fs::exists(target_));
}

}  // namespace
}  // namespace quillon
