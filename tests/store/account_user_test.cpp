// Accounts and users files: byte layout, lookup and failure behaviour.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/data_dir.h"
#include "store/account_record.h"
#include "store/record_file.h"
#include "store/user_record.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;

// Little-endian 32-bit integer written by hand, independent of the record
// helpers under test.
void PokeInt(std::string& record, std::size_t offset, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) {
    record[offset + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  }
}

void PokeText(std::string& record, std::size_t offset,
              const std::string& text) {
  record[offset] = static_cast<char>(text.size());
  record.replace(offset + 1, text.size(), text);
}

std::string AccountBytes(std::int32_t id, const std::string& address) {
  std::string record(2584, '\0');
  PokeInt(record, 0, static_cast<std::uint32_t>(id));
  PokeText(record, 8, address);
  return record;
}

std::string UserBytes(std::int32_t id, const std::string& name) {
  std::string record(1188, '\0');
  PokeInt(record, 0, static_cast<std::uint32_t>(id));
  PokeText(record, 4, name);
  return record;
}

class DataFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quillon-store-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    directory_ = pattern;
    SetDataDirectory(directory_);
    CurrentAccount() = AccountRecord{};
    CurrentUser() = UserRecord{};
  }
  void TearDown() override { fs::remove_all(directory_); }

  std::string PathOf(const std::string& name) const {
    return directory_ + "/" + name;
  }
  void WriteFile(const std::string& name, const std::string& bytes) const {
    std::ofstream out(PathOf(name), std::ios::binary | std::ios::trunc);
    out << bytes;
  }
  std::string ReadFile(const std::string& name) const {
    std::ifstream in(PathOf(name), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  // A header record (whose first integer is `header_id`) and the records.
  void WriteAccounts(std::int32_t header_id,
                     std::initializer_list<std::string> records) const {
    std::string bytes = AccountBytes(header_id, "header@example.org");
    for (const auto& record : records) bytes += record;
    WriteFile(kAccountsFileName, bytes);
  }
  void WriteUsers(std::initializer_list<std::string> records) const {
    std::string bytes(1188, '\0');
    for (const auto& record : records) bytes += record;
    WriteFile(kUsersFileName, bytes);
  }

  std::string directory_;
};

TEST(AccountRecordLayout, FieldsAreReadAtTheirOffsets) {
  std::string record(2584, '\0');
  PokeInt(record, 0, 7);
  PokeInt(record, 4, 0xFFFFFFFE);  // -2
  PokeText(record, 8, "anna@example.org");
  PokeText(record, 109, "reply@example.org");
  PokeText(record, 210, "Anna");
  record[261] = 2;  // any non-zero byte is true
  PokeText(record, 262, "imap.example.org");
  PokeText(record, 363, "smtp.example.org");
  PokeText(record, 464, "anna");
  PokeText(record, 565, "secret");
  PokeInt(record, 672, 45);
  record[2223] = 1;
  record[700] = 'R';  // reserved ranges travel along unchanged
  record[2583] = 'Z';

  AccountRecord account = AccountRecord::FromBytes(record);
  EXPECT_EQ(account.Id, 7);
  EXPECT_EQ(account.UserId, -2);
  EXPECT_EQ(account.EMailAddress, "anna@example.org");
  EXPECT_EQ(account.ReplyToAddress, "reply@example.org");
  EXPECT_EQ(account.SenderName, "Anna");
  EXPECT_TRUE(account.IsImap);
  EXPECT_EQ(account.ImapHost, "imap.example.org");
  EXPECT_EQ(account.SmtpHost, "smtp.example.org");
  EXPECT_EQ(account.ImapUser, "anna");
  EXPECT_EQ(account.ImapPassword, "secret");
  EXPECT_EQ(account.SmtpTimeOut, 45);
  EXPECT_TRUE(account.EightBitCharset);
  // Unchanged fields write back the very same bytes, the stored 2 included.
  EXPECT_EQ(account.ToBytes(), record);
}

TEST(AccountRecordLayout, WritesFieldsAtTheirOffsetsAndCutsLongTexts) {
  AccountRecord account;
  account.Id = 3;
  account.UserId = 9;
  account.EMailAddress = std::string(150, 'a');
  account.SenderName = "Bob";
  account.IsImap = true;
  account.ImapPassword = std::string(120, 'p');
  account.SmtpTimeOut = 60;
  account.EightBitCharset = true;
  const std::string record = account.ToBytes();
  ASSERT_EQ(record.size(), 2584u);
  EXPECT_EQ(record.substr(0, 8), std::string("\x03\0\0\0\x09\0\0\0", 8));
  EXPECT_EQ(static_cast<unsigned char>(record[8]), 100);  // cut to its room
  EXPECT_EQ(record[109], 0);  // the reply-to field is untouched by the cut
  EXPECT_EQ(record.substr(210, 4),
            "\x03"
            "Bob");
  EXPECT_EQ(record[261], 1);
  EXPECT_EQ(static_cast<unsigned char>(record[565]), 106);
  EXPECT_EQ(record.substr(672, 4), std::string("\x3c\0\0\0", 4));
  EXPECT_EQ(record[2223], 1);
}

TEST(AccountRecordLayout, OverlongStoredLengthStaysInsideTheField) {
  std::string record(2584, '\0');
  record[8] = static_cast<char>(200);
  record.replace(9, 100, std::string(100, 'x'));
  PokeText(record, 109, "next");
  AccountRecord account = AccountRecord::FromBytes(record);
  EXPECT_EQ(account.EMailAddress, std::string(100, 'x'));
  EXPECT_EQ(account.ReplyToAddress, "next");
}

TEST(AccountRecordLayout, WrongSizeIsRefused) {
  EXPECT_THROW(AccountRecord::FromBytes(std::string(2583, '\0')),
               std::invalid_argument);
  EXPECT_THROW(UserRecord::FromBytes(std::string(1189, '\0')),
               std::invalid_argument);
}

TEST(UserRecordLayout, FieldsAtTheirOffsets) {
  std::string record(1188, '\0');
  PokeInt(record, 0, 12);
  PokeText(record, 4, "Anna Jonsdottir");
  PokeText(record, 146, std::string(255, 'o'));
  record[1187] = 'Z';
  UserRecord user = UserRecord::FromBytes(record);
  EXPECT_EQ(user.Id, 12);
  EXPECT_EQ(user.UserName, "Anna Jonsdottir");
  EXPECT_EQ(user.Organization, std::string(255, 'o'));
  EXPECT_EQ(user.ToBytes(), record);

  user.UserName = std::string(200, 'n');
  EXPECT_EQ(static_cast<unsigned char>(user.ToBytes()[4]), 141);
}

TEST_F(DataFilesTest, MissingFileIsCreatedWithItsHeaderRecord) {
  ReadAccount(1);
  EXPECT_EQ(CurrentAccount().Id, -1);
  EXPECT_EQ(ReadFile(kAccountsFileName), std::string(2584, '\0'));
  ReadUser(1);
  EXPECT_EQ(CurrentUser().Id, -1);
  EXPECT_EQ(ReadFile(kUsersFileName), std::string(1188, '\0'));
}

TEST_F(DataFilesTest, HeaderRecordIsNeverFound) {
  WriteAccounts(/*header_id=*/5, {});
  ReadAccount(5);
  EXPECT_EQ(CurrentAccount().Id, -1);
  EXPECT_EQ(CurrentAccount().EMailAddress, "");
  ReadAccount(0);
  EXPECT_EQ(CurrentAccount().Id, -1);
  ReadAccount(-1);
  EXPECT_EQ(CurrentAccount().Id, -1);
}

TEST_F(DataFilesTest, FindsARecordAnywhereAfterTheHeader) {
  WriteAccounts(0, {AccountBytes(4, "four@example.org"),
                    AccountBytes(2, "two@example.org")});
  ReadAccount(2);
  EXPECT_EQ(CurrentAccount().Id, 2);
  EXPECT_EQ(CurrentAccount().EMailAddress, "two@example.org");
}

TEST_F(DataFilesTest, FirstOfTwoEqualIdsWins) {
  WriteAccounts(0, {AccountBytes(3, "first@example.org"),
                    AccountBytes(3, "second@example.org")});
  ReadAccount(3);
  EXPECT_EQ(CurrentAccount().EMailAddress, "first@example.org");
}

TEST_F(DataFilesTest, UserWithIdZeroAfterTheHeaderIsFound) {
  WriteUsers({UserBytes(0, "Zero")});
  ReadUser(0);
  EXPECT_EQ(CurrentUser().Id, 0);
  EXPECT_EQ(CurrentUser().UserName, "Zero");
}

TEST_F(DataFilesTest, AbsentIdAfterAHitKeepsTheFieldsAndMarksMinusOne) {
  WriteAccounts(0, {AccountBytes(8, "eight@example.org")});
  WriteUsers({UserBytes(1, "One")});
  ReadAccount(8);
  ReadUser(1);
  ReadAccount(99);
  ReadUser(99);
  EXPECT_EQ(CurrentAccount().Id, -1);
  EXPECT_EQ(CurrentAccount().EMailAddress, "eight@example.org");
  EXPECT_EQ(CurrentUser().Id, -1);
  EXPECT_EQ(CurrentUser().UserName, "One");
}

TEST_F(DataFilesTest, TrailingPartOfARecordIsIgnored) {
  std::string partial = AccountBytes(6, "partial@example.org").substr(0, 1000);
  WriteFile(
      kAccountsFileName,
      std::string(2584, '\0') + AccountBytes(1, "one@example.org") + partial);
  ReadAccount(6);
  EXPECT_EQ(CurrentAccount().Id, -1);
  ReadAccount(1);
  EXPECT_EQ(CurrentAccount().Id, 1);
}

TEST_F(DataFilesTest, EmptyFileIsAnInputOutputError) {
  WriteAccounts(0, {AccountBytes(1, "one@example.org")});
  ReadAccount(1);
  WriteFile(kAccountsFileName, "");
  EXPECT_THROW(ReadAccount(1), EInOutError);
  EXPECT_EQ(CurrentAccount().Id, -1);          // no stale success
  EXPECT_EQ(ReadFile(kAccountsFileName), "");  // nothing written into it

  WriteFile(kUsersFileName, std::string(100, '\0'));
  EXPECT_THROW(ReadUser(0), EInOutError);
}

TEST_F(DataFilesTest, UnopenableFileIsAnInputOutputErrorWithItsCode) {
  fs::create_directory(PathOf(kUsersFileName));
  try {
    ReadUser(1);
    FAIL() << "a directory in place of the users file must not be read";
  } catch (const EInOutError& error) {
    EXPECT_EQ(error.ErrorCode(), EISDIR);
  }
  EXPECT_EQ(CurrentUser().Id, -1);
}

}  // namespace
}  // namespace quillon
