// The user's mail folders (qvFoldersData.fld): read to find the folder that
// receives a new message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quillon {

inline constexpr char kFoldersFileName[] = "qvFoldersData.fld";

// The account's incoming-mail folder.
inline constexpr std::uint8_t kIncomingMailFolderKind = 2;

struct FolderRecord {
  static constexpr std::size_t kSize = 460;
  static constexpr std::size_t kFolderIdOffset = 0;
  static constexpr std::size_t kUserIdOffset = 4;
  static constexpr std::size_t kAccountIdOffset = 8;
  static constexpr std::size_t kFolderNameOffset = 16;
  static constexpr std::size_t kFolderNameCapacity = 241;
  static constexpr std::size_t kFolderKindOffset = 258;

  std::string bytes;           // the whole record; bytes not read are kept
  std::int32_t FolderId = 0;   // -1: no folder
  std::int32_t UserId = 0;
  std::int32_t AccountId = 0;
  std::string FolderName;
  std::uint8_t FolderKind = 0;

  static FolderRecord FromBytes(const std::string& record);
  // The record with the fields written over `bytes` (zeros when empty).
  std::string ToBytes() const;
};

// The current folder record, all zero at start.
FolderRecord& CurrentFolder();

// Makes the current folder the data record with that FolderId; when there
// is none, only the current record's FolderId changes, to -1.
void LoadFolder(int folder_id);

// FolderId of the first data record of the user and account whose
// FolderName equals `name` exactly or, when `name` is empty, whose
// FolderKind equals `kind`; -1 when none does.
int FindFolder(int user_id, int account_id, std::uint8_t kind,
               const std::string& name);

}  // namespace quillon
