// TmsCustomMessage::SaveAttachment never replaces or writes through a name
// that is taken: numbered copies, links left alone, bounded attempts.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <system_error>

#include "mail/message.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;

class AttachmentSavingTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "quillon-attach-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    directory_ = pattern;
  }
  void TearDown() override { fs::remove_all(directory_); }

  void Add(const std::string& name, const std::string& data) {
    auto item = std::make_unique<TmsAttItem>();
    item->SetFileName(name);
    item->Data().Write(data);
    message_.Attachments().Add(std::move(item));
  }
  std::string Save(int index) {
    return fs::path(message_.SaveAttachment(index, directory_.string())).filename().string();
  }
  std::string Read(const std::string& name) const {
    std::ifstream in(directory_ / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  fs::path directory_;
  TmsMessage message_;
};

TEST_F(AttachmentSavingTest, TakenNamesGetTheNextFreeNumberBeforeTheExtension) {
  Add("photo.jpg", "one");
  Add("archive.tar.gz", "two");
  Add("README", "three");
  Add(".hidden", "four");
  for (int round = 0; round < 3; ++round) {
    const std::string suffix = round == 0 ? "" : "(" + std::to_string(round) + ")";
    EXPECT_EQ(Save(0), "photo" + suffix + ".jpg");
    EXPECT_EQ(Save(1), "archive.tar" + suffix + ".gz");
    EXPECT_EQ(Save(2), "README" + suffix);
    EXPECT_EQ(Save(3), ".hidden" + suffix);
  }
  EXPECT_EQ(Read("photo.jpg"), "one");
  EXPECT_EQ(Read("photo(2).jpg"), "one");
  EXPECT_EQ(Read(".hidden(1)"), "four");
}

TEST_F(AttachmentSavingTest, ExistingFilesDirectoriesAndLinksAreLeftAlone) {
  { std::ofstream(directory_ / "a.txt") << "older"; }
  fs::create_directory(directory_ / "b.txt");
  const fs::path outside = directory_.string() + "-outside";
  fs::create_symlink(outside, directory_ / "c.txt");  // dangling: would create `outside`
  Add("a.txt", "new a");
  Add("b.txt", "new b");
  Add("c.txt", "new c");
  EXPECT_EQ(Save(0), "a(1).txt");
  EXPECT_EQ(Save(1), "b(1).txt");
  EXPECT_EQ(Save(2), "c(1).txt");
  EXPECT_EQ(Read("a.txt"), "older");
  EXPECT_EQ(Read("a(1).txt"), "new a");
  EXPECT_FALSE(fs::exists(outside));
}

TEST_F(AttachmentSavingTest, NoFreeNameAndMissingDirectoryFail) {
  Add("x", "data");
  { std::ofstream(directory_ / "x"); }
  for (int copy = 1; copy <= TmsCustomMessage::kMaxAttachmentCopies; ++copy) {
    std::ofstream(directory_ / ("x(" + std::to_string(copy) + ")"));
  }
  EXPECT_THROW(Save(0), std::system_error);
  EXPECT_THROW(message_.SaveAttachment(0, (directory_ / "missing").string()),
               std::system_error);
  EXPECT_FALSE(fs::exists(directory_ / "missing"));
}

}  // namespace
}  // namespace quillon
