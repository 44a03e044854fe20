// Two processes writing to one store at once: the header lock keeps every
// record and makes every number unique.
#include <sys/wait.h>
#include <unistd.h>

#include <set>

#include "store/address_record.h"
#include "store/message_store.h"
#include "tests/store/store_test_support.h"

namespace quillon {
namespace {

using test::Le32At;
using test::RecordAt;

constexpr int kPerProcess = 150;

// Runs `work` in a child process and in this one, both released at once;
// true when both finished without an exception.
template <typename Work>
bool RunInTwoProcesses(Work work) {
  int start[2];
  if (::pipe(start) != 0) return false;
  pid_t child = ::fork();
  if (child < 0) return false;
  if (child == 0) {
    char go = 0;
    ::close(start[1]);
    bool read_ok = ::read(start[0], &go, 1) == 1;
    int status = 1;
    try {
      if (read_ok) status = work(1) ? 0 : 1;
    } catch (...) {
    }
    ::_exit(status);
  }
  ::close(start[0]);
  bool written = ::write(start[1], "g", 1) == 1;
  ::close(start[1]);
  bool parent_ok = false;
  try {
    parent_ok = written && work(0);
  } catch (...) {
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return parent_ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

class StoreConcurrencyTest : public test::StoreDirectoryTest {};

TEST_F(StoreConcurrencyTest, TwoProcessesAppendingMessagesLoseNothing) {
  bool ok = RunInTwoProcesses([](int process) {
    for (int i = 0; i < kPerProcess; ++i) {
      StoredMessageValues values;
      values.MessageNumber = NewMessageNumber();
      values.UserId = 1;
      values.AccountId = 10 + process;
      values.FolderId = 5;
      values.MessageFileName = MessageFileName(values.MessageNumber, values.AccountId, 1);
      values.RecipientsFileName =
          RecipientsFileName(values.MessageNumber, values.AccountId, 1);
      WriteRecipientsFile(StoredFilePath(values.RecipientsFileName), {});
      StoreMessage(values);
    }
    return true;
  });
  ASSERT_TRUE(ok);

  const int total = 2 * kPerProcess;
  std::string messages = ReadBytes(kMessagesFileName);
  std::string index = ReadBytes(kFolderIndexFileName);
  ASSERT_EQ(messages.size(), (total + 1) * 1720u);
  EXPECT_EQ(Le32At(messages, 0), total);
  EXPECT_EQ(Le32At(messages, 4), total);
  std::set<int> numbers;
  for (int k = 1; k <= total; ++k) {
    std::string record = RecordAt(messages, 1720, k);
    int number = Le32At(record, 0);
    numbers.insert(number);
    std::string entry = RecordAt(index, 16, k);
    EXPECT_EQ(Le32At(entry, 4), number) << "folder index entry " << k;
    EXPECT_EQ(Le32At(entry, 12), Le32At(record, 8)) << "folder index entry " << k;
  }
  EXPECT_EQ(numbers.size(), static_cast<std::size_t>(total));
  EXPECT_EQ(*numbers.begin(), 1);
  EXPECT_EQ(*numbers.rbegin(), total);
}

TEST_F(StoreConcurrencyTest, TwoProcessesAddingAddressesGetDistinctIds) {
  bool ok = RunInTwoProcesses([](int process) {
    for (int i = 0; i < kPerProcess; ++i) {
      AddAddressToGroup("N", "p" + std::to_string(process) + "-" + std::to_string(i) + "@x", 4);
      AddAddressToGroup("Shared", "shared" + std::to_string(i) + "@x", 4);
    }
    return true;
  });
  ASSERT_TRUE(ok);
  std::vector<AddressRecord> members = AddressesInGroup(4);
  EXPECT_EQ(members.size(), 3u * kPerProcess);
  std::set<int> ids;
  std::set<std::string> addresses;
  for (const AddressRecord& member : members) {
    ids.insert(member.AddressId);
    addresses.insert(member.EntryAddress);
  }
  EXPECT_EQ(ids.size(), members.size());
  EXPECT_EQ(addresses.size(), members.size());
  EXPECT_EQ(Le32At(ReadBytes(kAddressesFileName), 0), 3 * kPerProcess);
}

}  // namespace
}  // namespace quillon
