#include "store/recipients_file.h"

#include <cerrno>

#include "store/message_recipients.h"
#include "store/record_file.h"
#include "tests/store/store_test_support.h"

namespace quillon {
namespace {

const std::string S(1, '\xB7');

struct FieldRow {
  const char* name;
  std::string text;
  int count;
  std::vector<std::string> fields;  // fields 1.. count + 1 (the last empty)
};

void PrintTo(const FieldRow& row, std::ostream* out) { *out << row.name; }

class FieldSplitTest : public ::testing::TestWithParam<FieldRow> {};

TEST_P(FieldSplitTest, CountsAndSplitsFields) {
  const FieldRow& row = GetParam();
  EXPECT_EQ(FieldCount(row.text, kRecipientSeparator), row.count);
  EXPECT_EQ(GetField(0, row.text, kRecipientSeparator), "");
  for (std::size_t i = 0; i < row.fields.size(); ++i) {
    EXPECT_EQ(GetField(static_cast<std::uint16_t>(i + 1), row.text,
                       kRecipientSeparator),
              row.fields[i])
        << "field " << i + 1;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FieldSplitTest,
    ::testing::Values(
        FieldRow{"AddressNameFlag", "a" + S + "b" + S + "-1", 3, {"a", "b", "-1", ""}},
        FieldRow{"LastFieldKeepsTrailingBlanks", "a" + S + "b" + S + "-1  ", 3,
                 {"a", "b", "-1  ", ""}},
        FieldRow{"Empty", "", 0, {"", ""}},
        FieldRow{"OnlyBlanks", " \t ", 0, {"", ""}},
        FieldRow{"NoSeparator", "abc", 1, {"abc", ""}},
        FieldRow{"OnlySeparator", S, 2, {"", "", ""}},
        FieldRow{"BlankLastFieldCountsAfterSeparator", "a" + S + "   ", 2,
                 {"a", "   ", ""}},
        FieldRow{"EmptyMiddleField", "a" + S + S + "c", 3, {"a", "", "c", ""}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FieldSplit, OtherSeparatorsWork) {
  EXPECT_EQ(FieldCount("x;y", ';'), 2);
  EXPECT_EQ(GetField(2, "x;y", ';'), "y");
}

TEST(RecipientsText, WritesListsInFileOrderWithCrLf) {
  RecipientsFileContent content;
  content.To = {{"a@x", "Ann"}, {"b@x", "Bob"}};
  content.Bcc = {{"c@x", "Cy"}};
  content.Cc = {{"d@x", ""}};
  content.AttachmentFileNames = {"one.pdf", "two.txt"};
  content.Sender = {"s@y", "Sue"};
  EXPECT_EQ(FormatRecipientsText(content),
            "RC:a@x" + S + "Ann" + S + "-1\r\n" +
            "RC:b@x" + S + "Bob" + S + "-1\r\n" +
            "BC:c@x" + S + "Cy" + S + "-1\r\n" +
            "CC:d@x" + S + S + "-1\r\n" +
            "AT:one.pdf\r\nAT:two.txt\r\n" +
            "SE:s@y" + S + "Sue" + S + "-1\r\n");
}

TEST(RecipientsText, WithoutRecipientsOnlyTheSenderLineIsWritten) {
  EXPECT_EQ(FormatRecipientsText({}), "SE:" + S + S + "-1\r\n");
}

TEST(RecipientsSummary, BuildsListTextsAndSenderEntry) {
  std::string text = "RC: a@x " + S + " Ann " + S + "-1\r\n" +
                     "CC:d@x" + S + "Dee" + S + "-1\n" +
                     "RC:b@x" + S + "Bob" + S + "-1\r\n" +
                     "AT:file.bin\r\n" + "XX:ignored\r\n" + "R\r\n\r\n" +
                     "BC:c@x" + S + "Cy" + S + "-1\r" +
                     "SE:s@y" + S + "Sue" + S + "-1";
  RecipientsSummary summary = SummarizeRecipientsText(text);
  EXPECT_EQ(summary.ToList, "Ann <a@x>|Bob <b@x>");
  EXPECT_EQ(summary.CcList, "Dee <d@x>");
  EXPECT_EQ(summary.BccList, "Cy <c@x>");
  EXPECT_EQ(summary.SenderEntry, "Sue <s@y>");
}

TEST(RecipientsSummary, LinesWithoutSeparatorGiveBareBrackets) {
  RecipientsSummary summary = SummarizeRecipientsText("RC:\r\nRC:abc\r\nSE:\r\n");
  EXPECT_EQ(summary.ToList, " <>| <abc>");
  EXPECT_EQ(summary.SenderEntry, " <>");
  EXPECT_EQ(summary.CcList, "");
}

TEST(RecipientsOfMessage, ListsRecipientsAttachmentsAndSenderOfTheMessage) {
  TmsMessage message;
  message.Recipients().AddAddress("a@x", "Ann");
  message.CC().AddAddress("c@x", "Cy");
  message.BCC().AddAddress("b@x", "Bo");
  message.BCC().AddAddress("b2@x", "");
  auto attachment = std::make_unique<TmsAttItem>();
  attachment->SetFileName("report.pdf");
  message.Attachments().Add(std::move(attachment));
  message.Sender().SetAddress("s@y");
  message.Sender().SetName("Sue");
  EXPECT_EQ(FormatRecipientsText(RecipientsFileContentOf(message)),
            "RC:a@x" + S + "Ann" + S + "-1\r\n" +
            "BC:b@x" + S + "Bo" + S + "-1\r\n" +
            "BC:b2@x" + S + S + "-1\r\n" +
            "CC:c@x" + S + "Cy" + S + "-1\r\n" +
            "AT:report.pdf\r\n" +
            "SE:s@y" + S + "Sue" + S + "-1\r\n");
}

class RecipientsFileTest : public test::StoreDirectoryTest {};

TEST_F(RecipientsFileTest, WrittenFileReadsBackAndReplacesAnOlderOne) {
  WriteBytes("r.rcv", std::string(500, 'z'));
  RecipientsFileContent content;
  content.Cc = {{"d@x", "Dee"}};
  content.Sender = {"s@y", "Sue"};
  WriteRecipientsFile(PathOf("r.rcv"), content);
  EXPECT_EQ(ReadBytes("r.rcv"), FormatRecipientsText(content));
  RecipientsSummary summary = ReadRecipientsFile(PathOf("r.rcv"));
  EXPECT_EQ(summary.CcList, "Dee <d@x>");
  EXPECT_EQ(summary.SenderEntry, "Sue <s@y>");
}

TEST_F(RecipientsFileTest, MissingFilesRaiseInOutErrorWithSystemCode) {
  try {
    ReadRecipientsFile(PathOf("absent.rcv"));
    FAIL() << "no error";
  } catch (const EInOutError& error) {
    EXPECT_EQ(error.ErrorCode(), ENOENT);
  }
  try {
    WriteRecipientsFile(PathOf("no-dir/x.rcv"), {});
    FAIL() << "no error";
  } catch (const EInOutError& error) {
    EXPECT_EQ(error.ErrorCode(), ENOENT);
  }
}

}  // namespace
}  // namespace quillon
