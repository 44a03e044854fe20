#include "platform/fault_injection.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <stdlib.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "platform/streams.h"
#include "platform/string_list.h"

namespace quillon {
namespace {

class FileFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quillon-file-faults-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    directory_ = pattern;
  }
  void TearDown() override {
    StopWatchingFileOperations();
    std::filesystem::remove_all(directory_);
  }
  std::string Read(const std::string& path) const {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }

  std::string directory_;
};

TEST_F(FileFaults, OnlyTheChosenCallFailsAndEveryCallIsCounted) {
  const std::string path = directory_ + "/file";
  WatchFileOperations(FileOperation::kWrite, 2, ENOSPC);
  TFileStream file(path, TFileStream::Mode::kCreate);
  file.Write("first");
  try {
    file.Write("second");
    FAIL() << "the second write went through";
  } catch (const std::system_error& error) {
    EXPECT_EQ(error.code().value(), ENOSPC);
  }
  file.Write("third");
  file.Close();
  EXPECT_TRUE(FileFaultInjected());
  EXPECT_EQ(FileOperationCount(FileOperation::kOpen), 1);
  EXPECT_EQ(FileOperationCount(FileOperation::kWrite), 3);
  EXPECT_EQ(FileOperationCount(FileOperation::kClose), 1);
  EXPECT_EQ(Read(path), "firstthird");

  // Stopped: nothing fails and nothing is counted any more.
  StopWatchingFileOperations();
  TFileStream(path, TFileStream::Mode::kCreate).Write("again");
  EXPECT_EQ(FileOperationCount(FileOperation::kWrite), 3);
}

TEST_F(FileFaults, FailedCloseIsReportedAndTheDescriptorStillGoes) {
  const std::string path = directory_ + "/file";
  const int fd = FileOpen(path.c_str(), O_WRONLY | O_CREAT, 0600);
  ASSERT_GE(fd, 0);
  WatchFileOperations(FileOperation::kClose, 1, EIO);
  EXPECT_EQ(FileClose(fd), -1);
  EXPECT_EQ(errno, EIO);
  EXPECT_EQ(::fcntl(fd, F_GETFD), -1);

  WatchFileOperations(FileOperation::kClose, 1, EIO);
  TFileStream file(path, TFileStream::Mode::kCreate);
  EXPECT_THROW(file.Close(), std::system_error);
}

TEST_F(FileFaults, StringListSaveThatFailsLeavesTheOldFileWhole) {
  const std::string path = directory_ + "/list.txt";
  TStringList old_lines{"one", "two"};
  old_lines.SaveToFile(path);
  for (FileOperation kind : {FileOperation::kOpen, FileOperation::kWrite,
                             FileOperation::kClose, FileOperation::kRename}) {
    WatchFileOperations(kind, 1, EDQUOT);
    TStringList new_lines{"three"};
    EXPECT_THROW(new_lines.SaveToFile(path), std::system_error) << FileOperationName(kind);
    StopWatchingFileOperations();
    EXPECT_EQ(Read(path), "one\r\ntwo\r\n") << FileOperationName(kind);
  }
  // No half-written new file is left beside it.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(directory_),
                          std::filesystem::directory_iterator()),
            1);
}

}  // namespace
}  // namespace quillon
