#include "platform/ini_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/temp_file.h"

namespace quillon {
namespace {

class IniFileTest : public ::testing::Test {
 protected:
  void SetUp() override { path_ = CreateTempFile("initest"); }
  void TearDown() override { std::filesystem::remove(path_); }
  void WriteFile(const std::string& text) {
    std::ofstream(path_, std::ios::binary) << text;
  }
  std::string path_;
};

TEST_F(IniFileTest, SectionsAndKeysIgnoreCaseAndMissingOnesGiveDefaults) {
  WriteFile("[Login]\r\nHost = pop.example.org\r\nTimeOut=30\r\n"
            "[UserInfo]\r\nAccount=3\r\n");
  IniFile ini(path_);
  EXPECT_EQ(ini.ReadString("login", "HOST", ""), "pop.example.org");
  EXPECT_EQ(ini.ReadInteger("LOGIN", "timeout", 120), 30);
  EXPECT_EQ(ini.ReadInteger("UserInfo", "Account", -1), 3);
  EXPECT_EQ(ini.ReadInteger("UserInfo", "Missing", -1), -1);
  EXPECT_EQ(ini.ReadString("Nowhere", "Host", "dflt"), "dflt");
  EXPECT_TRUE(ini.SectionExists("userinfo"));
  EXPECT_FALSE(ini.ValueExists("Login", "Port"));
}

TEST_F(IniFileTest, IntegersAreReadTheIniWay) {
  WriteFile("[N]\nhex=0x1F\ndollar=$10\nneg=-5\nword=abc\ntrail=12abc\n"
            "empty=\nbig=99999999999\nbool1=1\nbool0=0\nbool2=2\n");
  IniFile ini(path_);
  EXPECT_EQ(ini.ReadInteger("N", "hex", 0), 31);
  EXPECT_EQ(ini.ReadInteger("N", "dollar", 0), 16);
  EXPECT_EQ(ini.ReadInteger("N", "neg", 0), -5);
  EXPECT_EQ(ini.ReadInteger("N", "word", 77), 77);
  EXPECT_EQ(ini.ReadInteger("N", "trail", 77), 77);
  EXPECT_EQ(ini.ReadInteger("N", "empty", 77), 77);
  EXPECT_EQ(ini.ReadInteger("N", "big", 77), 77);
  EXPECT_TRUE(ini.ReadBool("N", "bool1", false));
  EXPECT_FALSE(ini.ReadBool("N", "bool0", true));
  EXPECT_TRUE(ini.ReadBool("N", "bool2", false));
  EXPECT_TRUE(ini.ReadBool("N", "absent", true));
}

TEST_F(IniFileTest, QuotedValuesLoseTheirQuotesAndCommentsAreSkipped) {
  WriteFile("; comment\n[S]\nname=\"two words\"\n;key=hidden\nlone\n");
  IniFile ini(path_);
  EXPECT_EQ(ini.ReadString("S", "name", ""), "two words");
  EXPECT_FALSE(ini.ValueExists("S", ";key"));
  EXPECT_FALSE(ini.ValueExists("S", "lone"));
}

TEST_F(IniFileTest, WritesReachTheFileAndReplaceExistingKeys) {
  WriteFile("[Show]\nLeft=1\n");
  {
    IniFile ini(path_);
    ini.WriteInteger("show", "LEFT", 10);
    ini.WriteInteger("Show", "Top", 20);
    ini.WriteString("Other", "Text", "hello");
  }
  IniFile again(path_);
  EXPECT_EQ(again.ReadInteger("Show", "Left", 0), 10);
  EXPECT_EQ(again.ReadInteger("Show", "Top", 0), 20);
  EXPECT_EQ(again.ReadString("other", "text", ""), "hello");
}

TEST(IniFileMissing, MissingFileIsEmpty) {
  IniFile ini("/nonexistent/dir/none.ini");
  EXPECT_EQ(ini.ReadInteger("Login", "Port", 110), 110);
  EXPECT_FALSE(ini.SectionExists("Login"));
}

}  // namespace
}  // namespace quillon
