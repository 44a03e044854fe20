#include "store/record_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "platform/temp_file.h"
#include "store/record_bytes.h"

namespace quillon {
namespace {

class RecordFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    directory_ = TempDirectory() + "/recordfile-" + std::to_string(::getpid());
    std::filesystem::create_directories(directory_);
    path_ = directory_ + "/data.rec";
  }
  void TearDown() override { std::filesystem::remove_all(directory_); }
  std::string directory_;
  std::string path_;
};

TEST_F(RecordFileTest, MissingFileIsCreatedHoldingItsHeader) {
  std::string header(8, '\0');
  PutInt32(header, 0, 0);
  PutInt32(header, 4, 99);
  {
    RecordFile file(path_, 8, header);
    EXPECT_EQ(file.RecordCount(), 1u);
    EXPECT_EQ(GetInt32(file.ReadRequiredRecord(0), 4), 99);
  }
  // An existing file is opened as it is, never re-created.
  RecordFile again(path_, 8, std::string(8, 'x'));
  EXPECT_EQ(GetInt32(again.ReadRequiredRecord(0), 4), 99);
}

TEST_F(RecordFileTest, WritingBeyondTheEndZeroFillsAndPartialRecordsDoNotCount) {
  RecordFile file(path_, 4, std::string(4, '\0'));
  file.WriteRecord(3, "abcd");
  EXPECT_EQ(file.RecordCount(), 4u);
  EXPECT_EQ(file.ReadRequiredRecord(2), std::string(4, '\0'));
  EXPECT_EQ(file.ReadRequiredRecord(3), "abcd");
  std::ofstream(path_, std::ios::app) << "xy";  // a torn trailing record
  EXPECT_EQ(file.RecordCount(), 4u);
  std::string record;
  EXPECT_FALSE(file.ReadRecord(4, record));
  try {
    file.ReadRequiredRecord(4);
    FAIL() << "reading past the end must fail";
  } catch (const EInOutError& error) {
    EXPECT_EQ(error.ErrorCode(), kReadBeyondEndOfFile);
  }
  EXPECT_THROW(file.WriteRecord(0, "toolong"), std::invalid_argument);
}

TEST_F(RecordFileTest, FailuresCarryTheSystemErrorCode) {
  try {
    RecordFile file(directory_ + "/missing-dir/data.rec", 4, std::string(4, '\0'));
    FAIL() << "a missing directory must fail";
  } catch (const EInOutError& error) {
    EXPECT_EQ(error.ErrorCode(), ENOENT);
  }
}

TEST(RecordBytes, FieldsAreLittleEndianAndTextsStayInTheirRoom) {
  std::string record(32, '\0');
  PutInt32(record, 0, -2);
  EXPECT_EQ(record.substr(0, 4), std::string("\xFE\xFF\xFF\xFF", 4));
  EXPECT_EQ(GetInt32(record, 0), -2);
  PutDouble(record, 4, 36526.5);
  EXPECT_EQ(GetDouble(record, 4), 36526.5);
  PutText(record, 12, 5, "abcdefgh");
  EXPECT_EQ(GetByte(record, 12), 5);
  EXPECT_EQ(GetText(record, 12, 5), "abcde");
  EXPECT_EQ(GetByte(record, 18), 0);  // the byte after the room is untouched
  PutByte(record, 20, 200);  // a stored length above the room reads as the room
  EXPECT_EQ(GetText(record, 20, 3).size(), 3u);
  EXPECT_THROW(GetInt32(record, 30), std::out_of_range);
  EXPECT_THROW(PutText(record, 28, 5, "x"), std::out_of_range);
}

}  // namespace
}  // namespace quillon
