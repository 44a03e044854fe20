// quillon-tool print, run as a program into a PDF file: the header block
// texts as a print rule builds them, the body, and the command line.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "mail/header_values.h"
#include "platform/date_text.h"
#include "tests/support/pdf_text.h"
#include "tests/support/tool_run.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;
using test::LineWith;
using test::RunTool;
using test::ToolRun;

constexpr char kMessage[] =
    "From: Ann Smith <ann@example.org>\r\n"
    "To: Bob Jones <bob@example.org>, Carl <carl@example.org>\r\n"
    "Subject: Quarterly figures\r\n"
    "Date: Tue, 08 Dec 2026 14:05:09 +0000\r\n"
    "\r\n"
    "Dear Bob,\r\n"
    "\r\n"
    "the figures are in.\r\n";

class PrintCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::PdfToolsAvailable()) GTEST_SKIP() << "pdftotext is not installed";
    directory_ = fs::temp_directory_path() /
                 ("print_command_" + std::to_string(::getpid()));
    fs::create_directories(directory_);
    pdf_ = (directory_ / "out.pdf").string();
  }
  void TearDown() override {
    if (!directory_.empty()) fs::remove_all(directory_);
  }

  std::string Write(const std::string& content) {
    const std::string path = (directory_ / "message.eml").string();
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }

  std::string PrintedPage(const std::string& message) {
    const ToolRun run = RunTool("print " + Write(message) + " --pdf " + pdf_);
    EXPECT_EQ(run.exit_code, 0) << run.output;
    EXPECT_EQ(run.output, "printed into " + pdf_ + "\n");
    const std::vector<std::string> pages = test::PdfPages(pdf_);
    return pages.size() == 1 ? pages[0] : std::string();
  }

  fs::path directory_;
  std::string pdf_;
};

TEST_F(PrintCommandTest, HeaderBlockAsAPrintRuleBuildsIt) {
  const std::string page = PrintedPage(kMessage);
  ASSERT_FALSE(page.empty());
  // The first recipient only, as "name <address>".
  EXPECT_FALSE(LineWith(page, "To: Bob Jones <bob@example.org>").empty()) << page;
  EXPECT_EQ(page.find("carl@example.org"), std::string::npos);
  // The sender as "<address>" + name.
  EXPECT_FALSE(LineWith(page, "From: <ann@example.org>Ann Smith").empty());
  // The message's date in the system's short date and long time.
  const double date = EncodeDate(2026, 12, 8) + (14 * 3600 + 5 * 60 + 9) / 86400.0;
  const std::string date_text = ShortDateText(date) + " " + LongTimeText(date);
  EXPECT_FALSE(LineWith(page, "Date: " + date_text).empty()) << date_text;
  EXPECT_FALSE(LineWith(page, "Subject: Quarterly figures").empty());
  EXPECT_LT(page.find("Dear Bob,"), page.find("the figures are in."));
  EXPECT_FALSE(LineWith(page, "< 1 >").empty());
}

TEST_F(PrintCommandTest, MessageWithoutDateIsDatedNow) {
  const std::string before = ShortDateText(NowDateTime());
  const std::string page = PrintedPage(
      "From: ann@example.org\r\nTo: bob@example.org\r\nSubject: undated\r\n"
      "\r\nbody\r\n");
  const std::string after = ShortDateText(NowDateTime());
  const std::string line = LineWith(page, "Date: ");
  EXPECT_TRUE(line.find("Date: " + before) != std::string::npos ||
              line.find("Date: " + after) != std::string::npos)
      << line;
  EXPECT_FALSE(LineWith(page, "To: <bob@example.org>").empty()) << page;
  EXPECT_FALSE(LineWith(page, "From: <ann@example.org>").empty()) << page;
}

TEST_F(PrintCommandTest, CommandLineMistakes) {
  EXPECT_EQ(RunTool("print").exit_code, 2);
  const std::string message = Write(kMessage);
  EXPECT_EQ(RunTool("print " + message + " --pdf").exit_code, 2);
  EXPECT_EQ(RunTool("print " + message + " --printer a --pdf " + pdf_).exit_code, 2);
  EXPECT_EQ(RunTool("print " + message + " --colour").exit_code, 2);
  EXPECT_EQ(RunTool("print " + (directory_ / "missing.eml").string() +
                    " --pdf " + pdf_).exit_code,
            1);
  EXPECT_FALSE(fs::exists(pdf_));
}

}  // namespace
}  // namespace quillon
