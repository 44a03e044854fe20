#include "store/address_record.h"

#include <sys/resource.h>

#include <cerrno>
#include <csignal>

#include "store/record_file.h"
#include "tests/store/store_test_support.h"

namespace quillon {
namespace {

using test::Le32;
using test::Le32At;
using test::Pascal;
using test::RecordAt;

constexpr std::size_t kAddress = 1008;

std::string Entry(int id, int group, const std::string& name,
                  const std::string& address) {
  std::string record(kAddress, '\0');
  Le32(record, 0, id);
  Le32(record, 4, group);
  Pascal(record, 39, name);
  Pascal(record, 80, address);
  Pascal(record, 181, "main application text");
  return record;
}

std::string Header(int count) {
  std::string header(kAddress, '\0');
  Le32(header, 0, count);
  return header;
}

class AddressRecordTest : public test::StoreDirectoryTest {
 protected:
  std::string Book() const { return ReadBytes(kAddressesFileName); }
};

TEST_F(AddressRecordTest, FirstEntryOfANewBook) {
  EXPECT_EQ(NewAddressId(), 1);
  AddAddressToGroup("Ann", "ann@x", 5);
  std::string book = Book();
  ASSERT_EQ(book.size(), 2 * kAddress);
  EXPECT_EQ(Le32At(book, 0), 1);
  std::string expected(kAddress, '\0');
  Le32(expected, 0, 1);
  Le32(expected, 4, 5);
  Pascal(expected, 39, "Ann");
  Pascal(expected, 80, "ann@x");
  EXPECT_EQ(RecordAt(book, kAddress, 1), expected);
}

TEST_F(AddressRecordTest, SameAddressInOtherCaseIsNotAddedTwice) {
  AddAddressToGroup("Ann", "ann@x.org", 5);
  AddAddressToGroup("Ann", "ANN@X.ORG", 5);
  EXPECT_EQ(Le32At(Book(), 0), 1);
  AddAddressToGroup("Ann", "ann@x.org", 6);  // another group: a second entry
  EXPECT_EQ(Le32At(Book(), 0), 2);
  EXPECT_EQ(Le32At(RecordAt(Book(), kAddress, 2), 0), 2);
}

TEST_F(AddressRecordTest, CaseIsIgnoredForAccentedLettersOfTheCodePage) {
  AddAddressToGroup("", "j\xF3n@x.is", 1);         // jón
  EXPECT_TRUE(AddressInGroup(1, "J\xD3N@X.IS"));   // JÓN
  EXPECT_FALSE(AddressInGroup(1, "JON@X.IS"));
}

TEST_F(AddressRecordTest, NamesAndAddressesAreCutAndIdsFollowTheHighest) {
  WriteBytes(kAddressesFileName,
             Header(3) + Entry(4, 1, "A", "a") + Entry(-1, -1, "D", "d") +
                 Entry(9, 2, "B", "b"));
  EXPECT_EQ(NewAddressId(), 10);
  AddAddressToGroup(std::string(45, 'n'), std::string(120, 'm'), 1);
  AddressRecord added = AddressRecord::FromBytes(RecordAt(Book(), kAddress, 4));
  EXPECT_EQ(added.AddressId, 10);
  EXPECT_EQ(added.EntryName, std::string(40, 'n'));
  EXPECT_EQ(added.EntryAddress, std::string(100, 'm'));
}

TEST_F(AddressRecordTest, RemovingTouchesOnlyTheGroupsEntriesWithThatAddress) {
  WriteBytes(kAddressesFileName,
             Header(4) + Entry(1, 5, "X", "x@y") + Entry(2, 5, "Z", "z@y") +
                 Entry(3, 6, "X", "x@y") + Entry(4, 5, "X2", "X@Y"));
  const std::string before = Book();
  RemoveAddressFromGroup("x@Y", 5);
  std::string book = Book();
  ASSERT_EQ(book.size(), before.size());
  EXPECT_EQ(Le32At(book, 0), 4);
  for (int k : {1, 4}) {
    std::string expected = RecordAt(before, kAddress, k);
    Le32(expected, 0, -1);
    Le32(expected, 4, -1);
    EXPECT_EQ(RecordAt(book, kAddress, k), expected) << "record " << k;
  }
  EXPECT_EQ(RecordAt(book, kAddress, 2), RecordAt(before, kAddress, 2));
  EXPECT_EQ(RecordAt(book, kAddress, 3), RecordAt(before, kAddress, 3));
  EXPECT_FALSE(AddressInGroup(5, "x@y"));
  EXPECT_TRUE(AddressInGroup(6, "x@y"));
}

TEST_F(AddressRecordTest, DeletedEntriesAreNeitherFoundNorScanned) {
  WriteBytes(kAddressesFileName,
             Header(3) + Entry(1, 7, "A", "a@x") + Entry(-1, -1, "Gone", "g@x") +
                 Entry(3, 7, "C", "c@x"));
  EXPECT_FALSE(AddressInGroup(7, "g@x"));
  std::vector<AddressRecord> members = AddressesInGroup(7);
  ASSERT_EQ(members.size(), 2u);
  EXPECT_EQ(members[0].EntryName, "A");
  EXPECT_EQ(members[1].EntryName, "C");
  EXPECT_TRUE(AddressesInGroup(8).empty());
}

TEST_F(AddressRecordTest, AppendWritesTheCurrentRecordAtTheEnd) {
  WriteBytes(kAddressesFileName, Header(1) + Entry(1, 1, "A", "a"));
  CurrentAddress() = AddressRecord::FromBytes(Entry(2, 3, "B", "b"));
  AppendAddressRecord();
  EXPECT_EQ(Le32At(Book(), 0), 2);
  EXPECT_EQ(RecordAt(Book(), kAddress, 2), Entry(2, 3, "B", "b"));
}

TEST_F(AddressRecordTest, FailedRecordWriteLeavesTheCountUntouched) {
  AddAddressToGroup("A", "a@x", 1);
  const std::string before = Book();
  rlimit previous{};
  ::getrlimit(RLIMIT_FSIZE, &previous);
  rlimit limited = previous;
  limited.rlim_cur = before.size();
  auto previous_handler = std::signal(SIGXFSZ, SIG_IGN);
  ::setrlimit(RLIMIT_FSIZE, &limited);
  int error_code = 0;
  try {
    AddAddressToGroup("B", "b@x", 1);
  } catch (const EInOutError& error) {
    error_code = error.ErrorCode();
  }
  ::setrlimit(RLIMIT_FSIZE, &previous);
  std::signal(SIGXFSZ, previous_handler);
  EXPECT_EQ(error_code, EFBIG);
  EXPECT_EQ(Book(), before);
}

}  // namespace
}  // namespace quillon
