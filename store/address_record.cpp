#include "store/address_record.h"

#include "platform/code_pages.h"
#include "store/data_file.h"
#include "store/record_bytes.h"
#include "store/record_file.h"

namespace quillon {

namespace {

std::string AddressesFilePath() {
  return PrepareDataFile(kAddressesFileName, AddressRecord::kSize);
}

RecordFile OpenAddressesFile(const std::string& path) {
  return RecordFile(path, AddressRecord::kSize,
                    ZeroHeader(AddressRecord::kSize));
}

bool IsEntryOf(const std::string& record, int group,
               const std::string& upper_address) {
  return GetInt32(record, AddressRecord::kGroupIdOffset) == group &&
         AnsiUpperCase(GetText(record, AddressRecord::kEntryAddressOffset,
                               AddressRecord::kEntryAddressCapacity)) ==
             upper_address;
}

bool InGroup(const RecordFile& file, int group, const std::string& address) {
  const std::string upper_address = AnsiUpperCase(address);
  bool found = false;
  ScanDataRecords(file, [&](std::size_t, const std::string& record) {
    found = IsEntryOf(record, group, upper_address);
    return !found;
  });
  return found;
}

int NextAddressId(const RecordFile& file) {
  std::int32_t highest = 0;
  ScanDataRecords(file, [&](std::size_t, const std::string& record) {
    std::int32_t id = GetInt32(record, AddressRecord::kAddressIdOffset);
    if (id != kDeletedAddress && id > highest) highest = id;
    return true;
  });
  return NextNumber(highest);
}

// The caller holds the header lock.
void Append(RecordFile& file, const AddressRecord& address) {
  std::string header = file.ReadRequiredRecord(0);
  const std::size_t position =
      AppendPosition(file, GetInt32(header, kAddressCountOffset));
  // The record before the header that counts it, so a failure in between
  // never leaves a count of a record that is not there.
  file.WriteRecord(position, address.ToBytes());
  PutInt32(header, kAddressCountOffset, static_cast<std::int32_t>(position));
  file.WriteRecord(0, header);
}

}  // namespace

AddressRecord AddressRecord::FromBytes(const std::string& record) {
  AddressRecord address;
  address.bytes = record;
  address.AddressId = GetInt32(record, kAddressIdOffset);
  address.GroupId = GetInt32(record, kGroupIdOffset);
  address.EntryKind = GetByte(record, kEntryKindOffset);
  address.EntryName = GetText(record, kEntryNameOffset, kEntryNameCapacity);
  address.EntryAddress =
      GetText(record, kEntryAddressOffset, kEntryAddressCapacity);
  return address;
}

std::string AddressRecord::ToBytes() const {
  std::string record = bytes.size() == kSize ? bytes : std::string(kSize, '\0');
  PutInt32(record, kAddressIdOffset, AddressId);
  PutInt32(record, kGroupIdOffset, GroupId);
  PutByte(record, kEntryKindOffset, EntryKind);
  PutText(record, kEntryNameOffset, kEntryNameCapacity, EntryName);
  PutText(record, kEntryAddressOffset, kEntryAddressCapacity, EntryAddress);
  return record;
}

AddressRecord& CurrentAddress() {
  static AddressRecord current;
  return current;
}

void AppendAddressRecord() {
  const std::string path = AddressesFilePath();
  HeaderWriteLock lock(path, AddressRecord::kSize);
  RecordFile file = OpenAddressesFile(path);
  Append(file, CurrentAddress());
}

int NewAddressId() {
  RecordFile file = OpenAddressesFile(AddressesFilePath());
  return NextAddressId(file);
}

bool AddressInGroup(int group, const std::string& address) {
  RecordFile file = OpenAddressesFile(AddressesFilePath());
  return InGroup(file, group, address);
}

void AddAddressToGroup(const std::string& name, const std::string& address,
                       int group) {
  const std::string path = AddressesFilePath();
  HeaderWriteLock lock(path, AddressRecord::kSize);
  RecordFile file = OpenAddressesFile(path);
  if (InGroup(file, group, address)) return;
  AddressRecord entry;  // all zero: every other text empty
  entry.EntryKind = 0;
  entry.EntryName = name;
  entry.EntryAddress = address;
  entry.GroupId = group;
  entry.AddressId = NextAddressId(file);
  CurrentAddress() = entry;
  Append(file, entry);
}

void RemoveAddressFromGroup(const std::string& address, int group) {
  RecordFile file = OpenAddressesFile(AddressesFilePath());
  const std::string upper_address = AnsiUpperCase(address);
  std::string record;
  for (std::size_t number = 1; file.ReadRecord(number, record); ++number) {
    if (!IsEntryOf(record, group, upper_address)) continue;
    PutInt32(record, AddressRecord::kAddressIdOffset, kDeletedAddress);
    PutInt32(record, AddressRecord::kGroupIdOffset, kDeletedAddress);
    file.WriteRecord(number, record);
  }
}

std::vector<AddressRecord> AddressesInGroup(int group) {
  RecordFile file = OpenAddressesFile(AddressesFilePath());
  std::vector<AddressRecord> members;
  ScanDataRecords(file, [&](std::size_t, const std::string& record) {
    if (GetInt32(record, AddressRecord::kGroupIdOffset) == group) {
      members.push_back(AddressRecord::FromBytes(record));
    }
    return true;
  });
  return members;
}

}  // namespace quillon
