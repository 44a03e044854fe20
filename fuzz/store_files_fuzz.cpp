// The store's data files as another program may leave them: the first byte
// chooses the file (accounts, users, folders, message index, rules, address
// book), the rest is its content. Every reader reads every record or throws
// EInOutError naming the file; a writer either changes nothing and throws,
// or appends behind every record its header counted, leaving those records
// and the header's other bytes as they were and a header that counts exactly
// the records in the file.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "platform/data_dir.h"
#include "store/account_record.h"
#include "store/address_record.h"
#include "store/folder_record.h"
#include "store/message_store.h"
#include "store/record_bytes.h"
#include "store/record_file.h"
#include "store/rule_record.h"
#include "store/user_record.h"

namespace {

using namespace quillon;

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

// Removes the process's data directory when the process ends.
struct RemovedAtExit {
  std::string path;
  ~RemovedAtExit() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
};

// The data directory of the process, emptied for every input.
const std::string& Directory() {
  static const RemovedAtExit directory{[] {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") +
                          "/quillon-store-fuzz-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (::mkdtemp(name.data()) == nullptr) std::abort();
    SetDataDirectory(name.data());
    return std::string(name.data());
  }()};
  return directory.path;
}

std::string Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void Write(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

void CheckNamesFile(const EInOutError& error, const std::string& path) {
  Check(std::strstr(error.what(), path.c_str()) != nullptr);
}

// Runs `read`; an EInOutError must name the file.
template <typename Read>
void Reading(const std::string& path, Read read) {
  try {
    read();
  } catch (const EInOutError& error) {
    CheckNamesFile(error, path);
  }
}

// The first integer of data record 1 at `offset`, or `fallback`.
std::int32_t FirstRecordInt(const std::string& content, std::size_t record_size,
                            std::size_t offset, std::int32_t fallback) {
  if (content.size() < 2 * record_size) return fallback;
  return GetInt32(content.substr(record_size, record_size), offset);
}

// Runs a writer that appends one record behind a header count at offset 0,
// `counters` bytes of the header being its own, and checks the outcome.
template <typename Append>
void CheckAppend(const std::string& path, std::size_t record_size,
                 std::size_t counters, Append append) {
  const std::string before = Bytes(path);
  try {
    append();
  } catch (const EInOutError& error) {
    CheckNamesFile(error, path);
    Check(Bytes(path) == before);
    return;
  }
  const std::string after = Bytes(path);
  if (after == before) return;  // nothing to append
  Check(before.size() >= record_size);
  const std::int32_t old_count = GetInt32(before, 0);
  const std::int32_t new_count = GetInt32(after, 0);
  Check(old_count >= 0 && new_count == old_count + 1);
  Check(after.size() / record_size == static_cast<std::size_t>(new_count) + 1);
  const std::size_t counted = static_cast<std::size_t>(old_count) * record_size;
  Check(after.compare(record_size, counted, before, record_size, counted) == 0);
  Check(after.compare(counters, record_size - counters, before, counters,
                      record_size - counters) == 0);
}

void Accounts(const std::string& path, const std::string& content) {
  const std::int32_t id = FirstRecordInt(content, account_layout::kRecordSize, 0, 1);
  Reading(path, [&] {
    ReadAccount(id);
    Check(CurrentAccount().Id == id || CurrentAccount().Id == -1);
  });
}

void Users(const std::string& path, const std::string& content) {
  const std::int32_t id = FirstRecordInt(content, user_layout::kRecordSize, 0, 1);
  Reading(path, [&] {
    ReadUser(id);
    Check(CurrentUser().Id == id || CurrentUser().Id == -1);
  });
}

void Folders(const std::string& path, const std::string& content) {
  const std::int32_t id = FirstRecordInt(content, FolderRecord::kSize, 0, 1);
  const std::int32_t user = FirstRecordInt(content, FolderRecord::kSize, 4, 1);
  const std::int32_t account = FirstRecordInt(content, FolderRecord::kSize, 8, 1);
  Reading(path, [&] {
    LoadFolder(id);
    Check(CurrentFolder().FolderId == id || CurrentFolder().FolderId == -1);
  });
  Reading(path, [&] { (void)FindFolder(user, account, 2, ""); });
  Reading(path, [&] { (void)FindFolder(user, account, 0, "Inbox"); });
}

void Messages(const std::string& path) {
  Reading(path, [&] { (void)ReadMessageIndexHeader(); });
  Reading(path, [&] {
    const RecordFile file(path, MessageRecord::kSize, std::string(MessageRecord::kSize, '\0'));
    std::string record;
    for (std::size_t n = 1; file.ReadRecord(n, record); ++n) {
      (void)MessageRecord::FromBytes(record);
    }
  });
  int number = 7;
  CheckAppend(path, MessageRecord::kSize, 8, [&] {
    // Numbering changes the highest number only; it is undone here so the
    // append below is checked against the file as it came.
    const std::string before = Bytes(path);
    number = NewMessageNumber();
    const std::string after = Bytes(path);
    Check(after.size() == before.size() && GetInt32(after, 4) == number &&
          after.compare(8, std::string::npos, before, 8, std::string::npos) == 0 &&
          after.compare(0, 4, before, 0, 4) == 0);
    Write(path, before);
  });
  MessageRecord message;
  message.MessageNumber = number;
  message.FolderId = 1;
  message.Subject = "fuzz";
  CurrentMessage() = message;
  CheckAppend(path, MessageRecord::kSize, 8, [] { AppendMessageRecord(); });
}

void Rules(const std::string& path, const std::string& content) {
  const std::int32_t user = FirstRecordInt(content, RuleRecord::kSize, 4, 1);
  Reading(path, [&] {
    BuildRuleList(user);
    for (int number : RuleList()) {
      LoadRule(number);
      Check(CurrentRule().UserId == user);
    }
  });
  Reading(path, [&] { (void)ReadRuleFile(); });
  bool refused = false;
  try {
    LoadRule(static_cast<int>(content.size() / RuleRecord::kSize) + 1);
  } catch (const EInOutError& error) {
    CheckNamesFile(error, path);
    refused = true;
  }
  Check(refused);
}

void Addresses(const std::string& path, const std::string& content) {
  const std::int32_t group = FirstRecordInt(content, AddressRecord::kSize, 4, 5);
  const std::string address =
      content.size() >= 2 * AddressRecord::kSize
          ? GetText(content.substr(AddressRecord::kSize, AddressRecord::kSize),
                    AddressRecord::kEntryAddressOffset,
                    AddressRecord::kEntryAddressCapacity)
          : "ann@example.org";
  Reading(path, [&] { (void)AddressInGroup(group, address); });
  Reading(path, [&] { (void)AddressesInGroup(group); });
  Reading(path, [&] { (void)NewAddressId(); });
  CheckAppend(path, AddressRecord::kSize, 4,
              [&] { AddAddressToGroup("Fuzz", "fuzz@example.org", group); });
  const std::string before = Bytes(path);
  Reading(path, [&] { RemoveAddressFromGroup(address, group); });
  const std::string after = Bytes(path);
  Check(after.size() == before.size());
  // Only the id and group of entries change.
  for (std::size_t at = 0; at < after.size(); ++at) {
    if (at < AddressRecord::kSize || at % AddressRecord::kSize >= 8) {
      Check(after[at] == before[at]);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string& directory = Directory();
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    std::filesystem::remove_all(entry.path());
  }
  const std::string content(reinterpret_cast<const char*>(data) + 1, size - 1);
  const char* names[] = {kAccountsFileName, kUsersFileName, kFoldersFileName,
                         kMessagesFileName, kRulesFileName, kAddressesFileName};
  const int kind = data[0] % 6;
  const std::string path = DataFilePath(names[kind]);
  Write(path, content);
  switch (kind) {
    case 0: Accounts(path, content); break;
    case 1: Users(path, content); break;
    case 2: Folders(path, content); break;
    case 3: Messages(path); break;
    case 4: Rules(path, content); break;
    default: Addresses(path, content); break;
  }
  return 0;
}
