#include "store/message_store.h"

#include <sys/resource.h>

#include <csignal>
#include <cerrno>
#include <cstring>

#include "platform/data_dir.h"
#include "store/record_file.h"
#include "tests/store/store_test_support.h"

namespace quillon {
namespace {

using test::ByteAt;
using test::Le32;
using test::Le32At;
using test::Pascal;
using test::PascalAt;
using test::RecordAt;

constexpr std::size_t kRecord = 1720;
const std::string S(1, '\xB7');

std::string DoubleBytes(double value) {
  std::string bytes(8, '\0');
  std::memcpy(bytes.data(), &value, 8);  // the test machine is little-endian
  return bytes;
}

std::string MessagesHeader(int count, int highest) {
  std::string header(kRecord, '\0');
  Le32(header, 0, count);
  Le32(header, 4, highest);
  return header;
}

class MessageStoreTest : public test::StoreDirectoryTest {
 protected:
  // Writes the recipients file of message `n` and returns the values that
  // store it.
  StoredMessageValues Values(int n, const RecipientsFileContent& content = {}) {
    StoredMessageValues values;
    values.MessageNumber = n;
    values.UserId = 1;
    values.AccountId = 3;
    values.FolderId = 9;
    values.MessageFileName = MessageFileName(n, 3, 1);
    values.RecipientsFileName = RecipientsFileName(n, 3, 1);
    WriteRecipientsFile(StoredFilePath(values.RecipientsFileName), content);
    return values;
  }
  std::string Messages() const { return ReadBytes(kMessagesFileName); }
  std::string FolderIndex() const { return ReadBytes(kFolderIndexFileName); }
};

TEST(StoredNames, NumbersInDecimalWithBackslashInTheStoredName) {
  EXPECT_EQ(MessageFileName(57, 3, 1), "In\\M57!A3!U1!.eml");
  EXPECT_EQ(RecipientsFileName(57, 3, 1), "In\\M57!A3!U1!.rcv");
  EXPECT_EQ(MessageFileName(-1, 12, 0), "In\\M-1!A12!U0!.eml");
  SetDataDirectory("/data/dir");
  EXPECT_EQ(StoredFilePath("In\\M57!A3!U1!.eml"), "/data/dir/In/M57!A3!U1!.eml");
}

TEST_F(MessageStoreTest, FirstMessageIntoAnEmptyStore) {
  EXPECT_EQ(ReadMessageIndexHeader().RecordCount, 0);
  EXPECT_EQ(Messages(), MessagesHeader(0, 0));
  int n = NewMessageNumber();
  EXPECT_EQ(n, 1);
  StoreMessage(Values(n));
  std::string file = Messages();
  ASSERT_EQ(file.size(), 2 * kRecord);
  EXPECT_EQ(Le32At(file, 0), 1);
  EXPECT_EQ(Le32At(file, 4), 1);
  EXPECT_EQ(Le32At(file, kRecord), 1);
  EXPECT_EQ(LastStoredRecordNumber(), 1);
  std::string index = FolderIndex();
  ASSERT_EQ(index.size(), 32u);
  EXPECT_EQ(Le32At(index, 0), 0);
  EXPECT_EQ(Le32At(index, 16), 9);
  EXPECT_EQ(Le32At(index, 20), 1);
}

TEST_F(MessageStoreTest, StoredRecordMatchesTheLayoutByteForByte) {
  RecipientsFileContent content;
  content.To = {{"a@x", "Ann"}, {"b@x", "Bob"}};
  content.Cc = {{"c@x", "Cy"}};
  content.Bcc = {{"d@x", "Di"}};
  content.AttachmentFileNames = {"f.pdf"};
  content.Sender = {"s@y", "Sue"};
  StoredMessageValues values = Values(57, content);
  values.Subject = "Hello";
  values.SenderText = "Sue <s@y>";
  values.MessageIdText = "<id@y>";
  values.MessageDate = 45000.5;
  values.TimeZoneText = "+0000";  // cut to 3
  values.MessageSize = 1234;
  values.ColourCode = 4;
  values.Priority = 2;
  values.HasAttachments = 1;
  StoreMessage(values);

  std::string expected(kRecord, '\0');
  Le32(expected, 0, 57);
  Le32(expected, 4, 1);
  Le32(expected, 8, 3);
  Le32(expected, 12, 9);
  expected.replace(16, 8, DoubleBytes(45000.5));
  Pascal(expected, 24, "+00");
  expected[29] = 1;
  Le32(expected, 32, 1234);
  expected[36] = 1;
  Pascal(expected, 37, "Hello");
  Pascal(expected, 118, "Sue <s@y>");
  Pascal(expected, 219, "Ann <a@x>|Bob <b@x>");
  Pascal(expected, 420, "Cy <c@x>");
  Pascal(expected, 621, "Di <d@x>");
  Pascal(expected, 822, "In\\M57!A3!U1!.eml");
  Pascal(expected, 1024, "In\\M57!A3!U1!.rcv");
  Pascal(expected, 1125, "Sue <s@y>");
  expected[1226] = 4;
  expected[1227] = 2;
  Pascal(expected, 1232, "<id@y>");
  EXPECT_EQ(RecordAt(Messages(), kRecord, 1), expected);

  std::string entry = RecordAt(FolderIndex(), 16, 1);
  std::string expected_entry(16, '\0');
  Le32(expected_entry, 0, 9);
  Le32(expected_entry, 4, 57);
  expected_entry[8] = 1;
  Le32(expected_entry, 12, 3);
  EXPECT_EQ(entry, expected_entry);
}

TEST_F(MessageStoreTest, ReadsAHandBuiltRecord) {
  std::string record(kRecord, '\0');
  Le32(record, 0, 5);
  Le32(record, 12, -1);
  Pascal(record, 37, "Subject here");
  Pascal(record, 621, "B <b>");
  record[1227] = 0;
  Pascal(record, 1232, "<m@x>");
  MessageRecord read = MessageRecord::FromBytes(record);
  EXPECT_EQ(read.MessageNumber, 5);
  EXPECT_EQ(read.FolderId, -1);
  EXPECT_EQ(read.Subject, "Subject here");
  EXPECT_EQ(read.BccList, "B <b>");
  EXPECT_EQ(read.MessageIdText, "<m@x>");
  EXPECT_EQ(read.ToBytes(), record);
}

TEST_F(MessageStoreTest, AppendsAfterAnExistingIndexWrittenByAnotherProgram) {
  WriteBytes(kMessagesFileName, MessagesHeader(2, 42) + std::string(2 * kRecord, 'r'));
  EXPECT_EQ(NewMessageNumber(), 43);
  StoreMessage(Values(43));
  std::string file = Messages();
  ASSERT_EQ(file.size(), 4 * kRecord);
  EXPECT_EQ(Le32At(file, 0), 3);
  EXPECT_EQ(Le32At(file, 4), 43);
  EXPECT_EQ(RecordAt(file, kRecord, 2), std::string(kRecord, 'r'));
  EXPECT_EQ(Le32At(file, 3 * kRecord), 43);
  EXPECT_EQ(LastStoredRecordNumber(), 3);
  // The folder index grows to entry 3 with zero entries in between.
  std::string index = FolderIndex();
  ASSERT_EQ(index.size(), 4 * 16u);
  EXPECT_EQ(index.substr(16, 32), std::string(32, '\0'));
  EXPECT_EQ(Le32At(index, 3 * 16 + 4), 43);
}

TEST_F(MessageStoreTest, MessageNumberMinusOneLeavesTheHighestNumber) {
  WriteBytes(kMessagesFileName, MessagesHeader(0, 7));
  StoreMessage(Values(-1));
  EXPECT_EQ(Le32At(Messages(), 0), 1);
  EXPECT_EQ(Le32At(Messages(), 4), 7);
  EXPECT_EQ(NewMessageNumber(), 8);
}

TEST_F(MessageStoreTest, AHigherNumberBecomesTheHighestNumber) {
  WriteBytes(kMessagesFileName, MessagesHeader(0, 7));
  StoreMessage(Values(100));
  StoreMessage(Values(50));
  EXPECT_EQ(Le32At(Messages(), 0), 2);
  EXPECT_EQ(Le32At(Messages(), 4), 100);
}

TEST_F(MessageStoreTest, WithoutAFolderTheRecordAndEntryHoldMinusOne) {
  StoredMessageValues values = Values(1);
  values.FolderId = -1;
  StoreMessage(values);
  EXPECT_EQ(Le32At(RecordAt(Messages(), kRecord, 1), 12), -1);
  EXPECT_EQ(Le32At(RecordAt(FolderIndex(), 16, 1), 0), -1);
}

TEST_F(MessageStoreTest, NumbersHandedOutAreNeverHandedOutAgain) {
  int first = NewMessageNumber();
  int second = NewMessageNumber();
  EXPECT_EQ(first, 1);
  EXPECT_EQ(second, 2);
  StoreMessage(Values(second));
  StoreMessage(Values(first));
  EXPECT_EQ(ReadMessageIndexHeader().HighestNumber, 2);
  EXPECT_EQ(NewMessageNumber(), 3);
}

TEST_F(MessageStoreTest, TextsAreCutToTheirCapacity) {
  RecipientsFileContent content;
  for (int i = 0; i < 30; ++i) {
    content.To.push_back({"person" + std::to_string(i) + "@example.org", "P"});
  }
  content.Sender = {std::string(150, 'a'), "N"};
  StoredMessageValues values = Values(1, content);
  values.Subject = std::string(81, 's');
  values.SenderText = std::string(120, 't');
  values.MessageIdText = std::string(90, 'i');
  StoreMessage(values);
  std::string record = RecordAt(Messages(), kRecord, 1);
  EXPECT_EQ(PascalAt(record, 37), std::string(80, 's'));
  std::string to_list = RecipientsSummary(SummarizeRecipientsText(
                            FormatRecipientsText(content))).ToList;
  ASSERT_GT(to_list.size(), 200u);
  EXPECT_EQ(PascalAt(record, 219), to_list.substr(0, 200));
  EXPECT_EQ(PascalAt(record, 118), ("N <" + std::string(150, 'a')).substr(0, 100));
  EXPECT_EQ(PascalAt(record, 1125), std::string(100, 't'));
  EXPECT_EQ(PascalAt(record, 1232), std::string(80, 'i'));
  EXPECT_EQ(ByteAt(record, 1377), 0);
  EXPECT_EQ(ByteAt(record, 1517), 0);
}

TEST_F(MessageStoreTest, MissingRecipientsFileStoresNothing) {
  StoredMessageValues values = Values(1);
  std::filesystem::remove(StoredFilePath(values.RecipientsFileName));
  try {
    StoreMessage(values);
    FAIL() << "no error";
  } catch (const EInOutError& error) {
    EXPECT_EQ(error.ErrorCode(), ENOENT);
  }
  EXPECT_EQ(ReadMessageIndexHeader().RecordCount, 0);
}

// Limits the size of files this process may write to their current size,
// so the next write that grows a file fails (EFBIG) and writes in place
// still work.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t limit) {
    previous_handler_ = std::signal(SIGXFSZ, SIG_IGN);
    ::getrlimit(RLIMIT_FSIZE, &previous_);
    rlimit limited = previous_;
    limited.rlim_cur = limit;
    ::setrlimit(RLIMIT_FSIZE, &limited);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &previous_);
    std::signal(SIGXFSZ, previous_handler_);
  }

 private:
  rlimit previous_{};
  void (*previous_handler_)(int) = nullptr;
};

TEST_F(MessageStoreTest, FailedRecordWriteLeavesTheHeaderUntouched) {
  StoreMessage(Values(1));
  StoredMessageValues second = Values(2);
  const std::string before = Messages();
  {
    FileSizeLimit limit(before.size());
    try {
      StoreMessage(second);
      FAIL() << "the record write did not fail";
    } catch (const EInOutError& error) {
      EXPECT_EQ(error.ErrorCode(), EFBIG);
    }
  }
  EXPECT_EQ(Messages(), before);
  // The store goes on where it was.
  StoreMessage(second);
  EXPECT_EQ(Le32At(Messages(), 0), 2);
  EXPECT_EQ(Le32At(Messages(), 2 * kRecord), 2);
}

TEST_F(MessageStoreTest, AnUnreadableHeaderRaisesInOutError) {
  WriteBytes(kMessagesFileName, "");
  try {
    NewMessageNumber();
    FAIL() << "no error";
  } catch (const EInOutError& error) {
    EXPECT_EQ(error.ErrorCode(), kReadBeyondEndOfFile);
  }
}

}  // namespace
}  // namespace quillon
