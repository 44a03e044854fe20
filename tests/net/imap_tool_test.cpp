// quillon-tool imap against a private Dovecot: select shows the counts,
// fetch-all saves and describes every message and, with --expunge, leaves
// the mailbox empty. Skipped when the tool has not been built.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "tests/support/dovecot_server.h"
#include "tests/support/tool_run.h"

namespace quillon {
namespace {

using test::DovecotServer;

const std::string kTool = std::string(QUILLON_BINARY_DIR) + "/bin/quillon-tool";

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Runs the tool and returns what it printed; `status` gets its exit code.
std::string RunTool(const std::string& arguments, int& status) {
  test::ToolRun run = test::RunTool(arguments);
  status = run.exit_code;
  return run.output;
}

class ImapTool : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(kTool)) GTEST_SKIP() << "quillon-tool is not built";
    if (!DovecotServer::Available()) GTEST_SKIP() << "Dovecot is not available";
    dovecot = std::make_unique<DovecotServer>();
    directory = std::filesystem::temp_directory_path() /
                ("imap_tool_test_" + std::to_string(getpid()));
  }
  void TearDown() override { std::filesystem::remove_all(directory); }
  std::string Base() const {
    return "imap --server " + dovecot->ImapAddress() + " --user joe --password secret ";
  }
  std::unique_ptr<DovecotServer> dovecot;
  std::filesystem::path directory;
};

TEST_F(ImapTool, SelectAndFetchAllWithExpunge) {
  const std::string fixture =
      std::string(QUILLON_CORPUS_DIR) + "/attachment_emails_attachment_pdf.eml";
  dovecot->Deliver("joe", ReadFile(fixture));
  dovecot->Deliver("joe", "From: a@example.org\r\nSubject: second\r\n\r\nHello\r\n");
  int status = -1;
  nlohmann::json selected = nlohmann::json::parse(RunTool(Base() + "select inbox", status));
  EXPECT_EQ(status, 0);
  EXPECT_EQ(selected["mailbox"], "INBOX");
  EXPECT_EQ(selected["exists"], 2);
  EXPECT_GT(selected["uidvalidity"].get<long>(), 0);

  nlohmann::json fetched = nlohmann::json::parse(
      RunTool(Base() + "fetch-all INBOX " + directory.string() + " --expunge", status));
  EXPECT_EQ(status, 0);
  ASSERT_EQ(fetched["messages"].size(), 2u);
  EXPECT_EQ(fetched["messages"][0]["number"], 1);
  EXPECT_EQ(fetched["messages"][0]["message"]["attachments"].size(), 1u);
  EXPECT_EQ(fetched["messages"][1]["message"]["subject"], "second");
  EXPECT_TRUE(std::filesystem::exists(directory / "1.eml"));
  EXPECT_TRUE(std::filesystem::exists(directory / "2.eml"));
  EXPECT_EQ(fetched["selected"]["exists"], 0);
  EXPECT_EQ(dovecot->CountMessages("joe"), 0);
}

TEST_F(ImapTool, FetchAllWithoutExpungeKeepsMailAndBadPasswordFails) {
  dovecot->Deliver("joe", "From: a@example.org\r\nSubject: kept\r\n\r\nHello\r\n");
  int status = -1;
  RunTool(Base() + "fetch-all INBOX " + directory.string(), status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(dovecot->CountMessages("joe"), 1);
  nlohmann::json error = nlohmann::json::parse(RunTool(
      "imap --server " + dovecot->ImapAddress() + " --user joe --password wrong list", status));
  EXPECT_EQ(status, 1);
  EXPECT_EQ(error["error"].get<std::string>().rfind("NO response : NO ", 0), 0u);
  // fetch-all prints as it goes; a failure still closes the document.
  nlohmann::json failed = nlohmann::json::parse(RunTool(
      "imap --server " + dovecot->ImapAddress() + " --user joe --password wrong fetch-all INBOX " +
          directory.string(),
      status));
  EXPECT_EQ(status, 1);
  EXPECT_TRUE(failed["messages"].empty());
  EXPECT_EQ(failed["error"].get<std::string>().rfind("NO response : NO ", 0), 0u);
}

}  // namespace
}  // namespace quillon
