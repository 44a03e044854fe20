#include "store/folder_record.h"

#include <cerrno>

#include "store/record_file.h"
#include "tests/store/store_test_support.h"

namespace quillon {
namespace {

using test::Le32;
using test::Pascal;

std::string Folder(int folder_id, int user_id, int account_id,
                   const std::string& name, std::uint8_t kind) {
  std::string record(460, '\0');
  Le32(record, 0, folder_id);
  Le32(record, 4, user_id);
  Le32(record, 8, account_id);
  Pascal(record, 16, name);
  record[258] = static_cast<char>(kind);
  record[300] = 'x';  // a byte of the main application
  return record;
}

class FolderRecordTest : public test::StoreDirectoryTest {
 protected:
  void WriteFolders(const std::string& data_records) {
    WriteBytes(kFoldersFileName, std::string(460, '\0') + data_records);
  }
};

TEST_F(FolderRecordTest, MissingFileIsCreatedWithHeaderAndFindsNothing) {
  EXPECT_EQ(FindFolder(0, 0, 0, ""), -1);
  EXPECT_EQ(ReadBytes(kFoldersFileName), std::string(460, '\0'));
}

TEST_F(FolderRecordTest, HeaderRecordIsNeverFound) {
  WriteFolders("");
  EXPECT_EQ(FindFolder(0, 0, 0, ""), -1);
  LoadFolder(0);
  EXPECT_EQ(CurrentFolder().FolderId, -1);
}

TEST_F(FolderRecordTest, FindsIncomingFolderOfUserAndAccountByKind) {
  WriteFolders(Folder(10, 1, 3, "Inbox", 2) +   // other account
               Folder(11, 2, 3, "Inbox", 2) +   // other user
               Folder(12, 1, 4, "Sent", 1) +
               Folder(13, 1, 4, "Inbox", 2) +
               Folder(14, 1, 4, "Second", 2));  // later: first match wins
  EXPECT_EQ(FindFolder(1, 4, kIncomingMailFolderKind, ""), 13);
  EXPECT_EQ(FindFolder(1, 4, 1, ""), 12);
  EXPECT_EQ(FindFolder(1, 5, kIncomingMailFolderKind, ""), -1);
}

TEST_F(FolderRecordTest, NameWhenGivenDecidesCaseSensitivelyAndKindIsIgnored) {
  WriteFolders(Folder(20, 1, 4, "Work", 0) + Folder(21, 1, 4, "work", 2));
  EXPECT_EQ(FindFolder(1, 4, 2, "work"), 21);
  EXPECT_EQ(FindFolder(1, 4, 2, "Work"), 20);
  EXPECT_EQ(FindFolder(1, 4, 2, "WORK"), -1);
}

TEST_F(FolderRecordTest, LoadFolderReadsEveryFieldAndKeepsTheRecordBytes) {
  std::string name(241, 'n');
  WriteFolders(Folder(7, 1, 4, "Other", 0) + Folder(8, 5, 6, name, 2));
  LoadFolder(8);
  const FolderRecord& folder = CurrentFolder();
  EXPECT_EQ(folder.FolderId, 8);
  EXPECT_EQ(folder.UserId, 5);
  EXPECT_EQ(folder.AccountId, 6);
  EXPECT_EQ(folder.FolderName, name);
  EXPECT_EQ(folder.FolderKind, 2);
  EXPECT_EQ(folder.ToBytes(), Folder(8, 5, 6, name, 2));
}

TEST_F(FolderRecordTest, LoadingAnAbsentFolderOnlySetsTheIdToMinusOne) {
  WriteFolders(Folder(8, 5, 6, "Kept", 2));
  LoadFolder(8);
  LoadFolder(99);
  EXPECT_EQ(CurrentFolder().FolderId, -1);
  EXPECT_EQ(CurrentFolder().FolderName, "Kept");
}

TEST_F(FolderRecordTest, TrailingPartialRecordIsIgnored) {
  std::string partial = Folder(30, 1, 4, "Partial", 2).substr(0, 200);
  WriteFolders(Folder(29, 1, 4, "Whole", 1) + partial);
  EXPECT_EQ(FindFolder(1, 4, 2, ""), -1);
  EXPECT_EQ(FindFolder(1, 4, 1, ""), 29);
}

TEST_F(FolderRecordTest, MissingDataDirectoryRaisesInOutErrorWithSystemCode) {
  SetDataDirectory(PathOf("no-such-directory"));
  try {
    FindFolder(1, 1, 2, "");
    FAIL() << "no error raised";
  } catch (const EInOutError& error) {
    EXPECT_EQ(error.ErrorCode(), ENOENT);
  }
}

}  // namespace
}  // namespace quillon
