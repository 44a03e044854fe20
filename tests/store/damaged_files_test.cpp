// Store files as a crash, a full disk or another program may leave them:
// every reader and writer of every data file meets a zero-length file, a
// header cut short, a file cut inside a record, a header that counts more
// records than the file holds or fewer than it holds, and random bytes. A
// read either reads what is there or throws EInOutError naming the file; a
// writer that throws has written nothing; nothing readable is written over.
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "store/account_record.h"
#include "store/address_record.h"
#include "store/folder_record.h"
#include "store/message_store.h"
#include "store/record_file.h"
#include "store/rule_record.h"
#include "store/user_record.h"
#include "tests/store/store_test_support.h"

namespace quillon {
namespace {

using test::Le32;
using test::Le32At;
using test::Pascal;
using test::RecordAt;

constexpr int kRecords = 3;  // data records of an undamaged file

struct StoreFile {
  const char* label;
  const char* file_name;
  std::size_t record_size;
  // The header's first integer counts the data records and writers append
  // behind it.
  bool counted;
  // Data record `number` of an undamaged file.
  std::function<std::string(int number)> record;
  // Reads every record the way the program does.
  std::function<void()> read;
  // Appends a record (counted files only).
  std::function<void()> append;
};

std::string Blank(std::size_t size) { return std::string(size, '\0'); }

const std::vector<StoreFile>& StoreFiles() {
  static const std::vector<StoreFile> files = {
      {"Accounts", kAccountsFileName, account_layout::kRecordSize, false,
       [](int number) {
         std::string record = Blank(account_layout::kRecordSize);
         Le32(record, 0, number);
         Pascal(record, 8, "a" + std::to_string(number) + "@example.org");
         return record;
       },
       [] { ReadAccount(kRecords); }, nullptr},
      {"Users", kUsersFileName, user_layout::kRecordSize, false,
       [](int number) {
         std::string record = Blank(user_layout::kRecordSize);
         Le32(record, 0, number);
         Pascal(record, 4, "User " + std::to_string(number));
         return record;
       },
       [] { ReadUser(kRecords); }, nullptr},
      {"Folders", kFoldersFileName, FolderRecord::kSize, false,
       [](int number) {
         std::string record = Blank(FolderRecord::kSize);
         Le32(record, 0, number);
         Le32(record, 4, 1);
         Le32(record, 8, 1);
         record[258] = static_cast<char>(number == kRecords ? 2 : 0);
         return record;
       },
       [] {
         LoadFolder(kRecords);
         (void)FindFolder(1, 1, 2, "");
       },
       nullptr},
      {"MessageIndex", kMessagesFileName, MessageRecord::kSize, true,
       [](int number) {
         std::string record = Blank(MessageRecord::kSize);
         Le32(record, 0, number);
         Pascal(record, 37, "Subject " + std::to_string(number));
         return record;
       },
       [] { (void)ReadMessageIndexHeader(); },
       [] {
         MessageRecord message;
         message.MessageNumber = NewMessageNumber();
         message.Subject = "new";
         CurrentMessage() = message;
         AppendMessageRecord();
       }},
      {"Rules", kRulesFileName, RuleRecord::kSize, false,
       [](int number) {
         std::string record = Blank(RuleRecord::kSize);
         Le32(record, 0, number);
         Le32(record, 4, 1);
         return record;
       },
       [] {
         BuildRuleList(1);
         for (int number : RuleList()) LoadRule(number);
       },
       nullptr},
      {"AddressBook", kAddressesFileName, AddressRecord::kSize, true,
       [](int number) {
         std::string record = Blank(AddressRecord::kSize);
         Le32(record, 0, number);
         Le32(record, 4, 5);
         Pascal(record, 80, "p" + std::to_string(number) + "@example.org");
         return record;
       },
       [] {
         (void)AddressesInGroup(5);
         (void)AddressInGroup(5, "p1@example.org");
         (void)NewAddressId();
       },
       [] { AddAddressToGroup("New", "new@example.org", 5); }},
  };
  return files;
}

enum class Damage {
  kZeroLength,
  kHeaderCutShort,
  kCutInsideARecord,
  kCountsMissingRecords,
  kLeavesRecordsUncounted,
  kRandomBytes,
};

struct DamageCase {
  const char* label;
  Damage damage;
  bool read_fails;   // the readers throw EInOutError
  bool write_fails;  // the writers of counted files throw EInOutError
};

const DamageCase kDamages[] = {
    {"ZeroLength", Damage::kZeroLength, true, true},
    {"HeaderCutShort", Damage::kHeaderCutShort, true, true},
    // The last record is cut; a counted header still counts it.
    {"CutInsideARecord", Damage::kCutInsideARecord, false, true},
    {"CountsMissingRecords", Damage::kCountsMissingRecords, false, true},
    {"LeavesRecordsUncounted", Damage::kLeavesRecordsUncounted, false, true},
    {"RandomBytes", Damage::kRandomBytes, false, true},
};

std::string Undamaged(const StoreFile& file) {
  std::string bytes = Blank(file.record_size);
  if (file.counted) Le32(bytes, 0, kRecords);
  for (int number = 1; number <= kRecords; ++number) bytes += file.record(number);
  return bytes;
}

std::string Damaged(const StoreFile& file, Damage damage) {
  const std::string whole = Undamaged(file);
  switch (damage) {
    case Damage::kZeroLength:
      return "";
    case Damage::kHeaderCutShort:
      return whole.substr(0, 3);
    case Damage::kCutInsideARecord:
      return whole.substr(0, whole.size() - file.record_size / 2);
    case Damage::kCountsMissingRecords: {
      std::string bytes = whole;
      Le32(bytes, 0, file.counted ? 1000 : 0);
      return bytes;
    }
    case Damage::kLeavesRecordsUncounted: {
      std::string bytes = whole;
      Le32(bytes, 0, 0);
      return bytes;
    }
    case Damage::kRandomBytes: {
      std::mt19937 random(static_cast<unsigned>(file.record_size));
      std::string bytes(whole.size() + file.record_size / 3, '\0');
      for (char& byte : bytes) byte = static_cast<char>(random());
      return bytes;
    }
  }
  return whole;
}

using Params = std::tuple<std::size_t, std::size_t>;  // file, damage

class DamagedStoreFileTest : public test::StoreDirectoryTest,
                             public ::testing::WithParamInterface<Params> {
 protected:
  const StoreFile& File() const { return StoreFiles()[std::get<0>(GetParam())]; }
  const DamageCase& Case() const { return kDamages[std::get<1>(GetParam())]; }

  // Runs `operation`; true when it threw EInOutError, which must name the
  // file.
  bool Fails(const std::function<void()>& operation) const {
    try {
      operation();
    } catch (const EInOutError& error) {
      EXPECT_NE(std::string(error.what()).find(PathOf(File().file_name)),
                std::string::npos)
          << error.what();
      return true;
    }
    return false;
  }
};

TEST_P(DamagedStoreFileTest, ReadsGiveAClearErrorAndWritesOverwriteNothing) {
  const StoreFile& file = File();
  const std::string damaged = Damaged(file, Case().damage);
  WriteBytes(file.file_name, damaged);

  EXPECT_EQ(Fails(file.read), Case().read_fails);
  EXPECT_EQ(ReadBytes(file.file_name), damaged) << "a read changed the file";

  if (!file.append) return;
  EXPECT_EQ(Fails(file.append), Case().write_fails);
  EXPECT_EQ(ReadBytes(file.file_name), damaged) << "a refused write changed the file";
}

std::string CaseName(const ::testing::TestParamInfo<Params>& info) {
  return std::string(StoreFiles()[std::get<0>(info.param)].label) +
         kDamages[std::get<1>(info.param)].label;
}

INSTANTIATE_TEST_SUITE_P(
    EveryFile, DamagedStoreFileTest,
    ::testing::Combine(::testing::Range<std::size_t>(0, 6),
                       ::testing::Range<std::size_t>(0, std::size(kDamages))),
    CaseName);

// What the counted files accept: the header of an undamaged file, and the
// one whole record an append leaves uncounted when it fails between its
// record and its header (that record is written over). Every counted record
// stays, and the header then counts exactly the records in the file.
class CountedFileAppendTest : public test::StoreDirectoryTest,
                              public ::testing::WithParamInterface<std::size_t> {};

TEST_P(CountedFileAppendTest, AppendsBehindEveryCountedRecord) {
  const StoreFile& file = StoreFiles()[GetParam()];
  for (const int count : {kRecords, kRecords - 1}) {
    SCOPED_TRACE("header count " + std::to_string(count));
    std::string before = Undamaged(file);
    Le32(before, 0, count);
    WriteBytes(file.file_name, before);
    file.append();
    const std::string after = ReadBytes(file.file_name);
    ASSERT_EQ(after.size(), (count + 2) * file.record_size);
    EXPECT_EQ(Le32At(after, 0), count + 1);
    for (int number = 1; number <= count; ++number) {
      EXPECT_EQ(RecordAt(after, file.record_size, number), file.record(number));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(IndexAndAddressBook, CountedFileAppendTest,
                         ::testing::Values(3, 5),
                         [](const ::testing::TestParamInfo<std::size_t>& info) {
                           return std::string(StoreFiles()[info.param].label);
                         });

class MessageNumberCounterTest : public test::StoreDirectoryTest {};

TEST_F(MessageNumberCounterTest, ACounterThatCannotGrowIsRefused) {
  for (const std::int32_t highest : {-5, 0x7FFFFFFF}) {
    std::string header = Blank(MessageRecord::kSize);
    Le32(header, 4, highest);
    WriteBytes(kMessagesFileName, header);
    EXPECT_THROW(NewMessageNumber(), EInOutError) << highest;
    EXPECT_EQ(ReadBytes(kMessagesFileName), header);
  }
}

}  // namespace
}  // namespace quillon
