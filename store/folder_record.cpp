#include "store/folder_record.h"

#include "store/data_file.h"
#include "store/record_bytes.h"
#include "store/record_file.h"

namespace quillon {

FolderRecord FolderRecord::FromBytes(const std::string& record) {
  FolderRecord folder;
  folder.bytes = record;
  folder.FolderId = GetInt32(record, kFolderIdOffset);
  folder.UserId = GetInt32(record, kUserIdOffset);
  folder.AccountId = GetInt32(record, kAccountIdOffset);
  folder.FolderName = GetText(record, kFolderNameOffset, kFolderNameCapacity);
  folder.FolderKind = GetByte(record, kFolderKindOffset);
  return folder;
}

std::string FolderRecord::ToBytes() const {
  std::string record = bytes.size() == kSize ? bytes : std::string(kSize, '\0');
  PutInt32(record, kFolderIdOffset, FolderId);
  PutInt32(record, kUserIdOffset, UserId);
  PutInt32(record, kAccountIdOffset, AccountId);
  PutText(record, kFolderNameOffset, kFolderNameCapacity, FolderName);
  PutByte(record, kFolderKindOffset, FolderKind);
  return record;
}

FolderRecord& CurrentFolder() {
  static FolderRecord current;
  return current;
}

namespace {

RecordFile OpenFoldersFile() {
  return RecordFile(PrepareDataFile(kFoldersFileName, FolderRecord::kSize),
                    FolderRecord::kSize, ZeroHeader(FolderRecord::kSize));
}

}  // namespace

void LoadFolder(int folder_id) {
  RecordFile file = OpenFoldersFile();
  CurrentFolder().FolderId = -1;
  ScanDataRecords(file, [&](std::size_t, const std::string& record) {
    if (GetInt32(record, FolderRecord::kFolderIdOffset) != folder_id) {
      return true;
    }
    CurrentFolder() = FolderRecord::FromBytes(record);
    return false;
  });
}

int FindFolder(int user_id, int account_id, std::uint8_t kind,
               const std::string& name) {
  RecordFile file = OpenFoldersFile();
  int found = -1;
  ScanDataRecords(file, [&](std::size_t, const std::string& record) {
    FolderRecord folder = FolderRecord::FromBytes(record);
    if (folder.UserId != user_id || folder.AccountId != account_id) {
      return true;
    }
    bool matches = name.empty() ? folder.FolderKind == kind
                                : folder.FolderName == name;
    if (matches) found = folder.FolderId;
    return !matches;
  });
  return found;
}

}  // namespace quillon
