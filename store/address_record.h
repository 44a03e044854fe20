// The suite's address book (qvAddressesData.adr): entries grouped by an
// integer group id. This module appends entries, marks entries deleted and
// reads the entries of a group.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quillon {

inline constexpr char kAddressesFileName[] = "qvAddressesData.adr";

// Header record 0: the number of data records.
inline constexpr std::size_t kAddressCountOffset = 0;

// AddressId and GroupId of a deleted entry.
inline constexpr std::int32_t kDeletedAddress = -1;

struct AddressRecord {
  static constexpr std::size_t kSize = 1008;
  static constexpr std::size_t kAddressIdOffset = 0;
  static constexpr std::size_t kGroupIdOffset = 4;
  static constexpr std::size_t kEntryKindOffset = 8;
  // 9: text[29] of the main application.
  static constexpr std::size_t kEntryNameOffset = 39;
  static constexpr std::size_t kEntryNameCapacity = 40;
  static constexpr std::size_t kEntryAddressOffset = 80;
  static constexpr std::size_t kEntryAddressCapacity = 100;
  // 181: 4 x text[40], 345: 2 x text[25], 397: text[51], 449: a text and
  // the rest of the record, all the main application's.

  std::string bytes;  // the whole record; bytes not read are kept
  std::int32_t AddressId = 0;
  std::int32_t GroupId = 0;
  std::uint8_t EntryKind = 0;
  std::string EntryName;
  std::string EntryAddress;

  static AddressRecord FromBytes(const std::string& record);
  // The record with the fields written over `bytes` (zeros when empty).
  std::string ToBytes() const;
};

// The current address record.
AddressRecord& CurrentAddress();

// Appends the current address record and counts it in the header (the
// record is written first, under the header lock). Throws EInOutError.
void AppendAddressRecord();

// Highest AddressId of the book + 1, deleted entries ignored; 1 for a book
// without entries.
int NewAddressId();

// True when an entry of `group` has `address`, letter case ignored
// (Windows-1252 upper-casing on both sides).
bool AddressInGroup(int group, const std::string& address);

// Adds a new entry (name cut to 40, address to 100 characters) unless the
// group has the address already. The check, the id choice and the append
// happen under one header lock, so two writers that lock cannot add the
// same entry twice or hand out one id twice.
void AddAddressToGroup(const std::string& name, const std::string& address,
                       int group);

// Marks every entry of `group` with `address` (case ignored) deleted:
// AddressId and GroupId become -1, in place.
void RemoveAddressFromGroup(const std::string& address, int group);

// The entries of `group` in file order.
std::vector<AddressRecord> AddressesInGroup(int group);

}  // namespace quillon
