// quillon-tool mime, run as a program: the JSON shape of decode, encode
// from JSON and back, saving attachments, errors, and the attachment
// checksums against Python's hashlib.
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "tests/support/tool_run.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;

using test::ToolRun;

ToolRun RunMime(const std::string& arguments) {
  return test::RunTool("mime " + arguments);
}

class MimeCommandTest : public testing::Test {
 protected:
  void SetUp() override {
    directory_ = fs::temp_directory_path() / ("mime_command_" + std::to_string(getpid()));
    fs::create_directories(directory_);
  }
  void TearDown() override { fs::remove_all(directory_); }

  std::string Write(const std::string& name, const std::string& content) {
    std::string path = (directory_ / name).string();
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }

  fs::path directory_;
};

const char kRawMessage[] =
    "From: =?iso-8859-1?Q?J=F3n?= <jon@example.org>\r\n"
    "To: Ann <ann@example.org>, bob@example.org\r\n"
    "Cc: Cid <cid@example.org>\r\n"
    "Subject: Caf\xe9\r\n"
    "X-Priority: 5\r\n"
    "Return-Receipt-To: jon@example.org\r\n"
    "MIME-Version: 1.0\r\n"
    "Content-Type: multipart/mixed; boundary=\"b\"\r\n"
    "\r\n"
    "--b\r\n"
    "Content-Type: text/plain; charset=iso-8859-1\r\n"
    "Content-Transfer-Encoding: quoted-printable\r\n"
    "\r\n"
    "S=E6l\r\n"
    "--b\r\n"
    "Content-Type: application/octet-stream; name=\"abc.bin\"\r\n"
    "Content-Transfer-Encoding: base64\r\n"
    "\r\n"
    "YWJj\r\n"
    "--b--\r\n"
    ".\r\n";

TEST_F(MimeCommandTest, DecodePrintsTheMessageAsJson) {
  ToolRun run = RunMime("decode " + Write("m.eml", kRawMessage));
  ASSERT_EQ(run.exit_code, 0) << run.output;
  json message = json::parse(run.output);
  EXPECT_EQ(message["sender"], (json{{"name", "J\u00f3n"}, {"address", "jon@example.org"}}));
  EXPECT_EQ(message["recipients"],
            (json::array({{{"name", "Ann"}, {"address", "ann@example.org"}},
                          {{"name", ""}, {"address", "bob@example.org"}}})));
  EXPECT_EQ(message["cc"][0]["name"], "Cid");
  EXPECT_EQ(message["bcc"], json::array());
  EXPECT_EQ(message["subject"], "Caf\u00e9");  // the byte 0xE9 as code point 233
  EXPECT_EQ(message["priority"], "low");
  EXPECT_EQ(message["return_receipt"], true);
  EXPECT_EQ(message["content_type"], "multipart/mixed");
  EXPECT_EQ(message["encoding"], "mime");
  EXPECT_EQ(message["charset"], "iso-8859-1");
  EXPECT_EQ(message["headers"].size(), 8u);
  EXPECT_EQ(message["body"], json::array({"S\u00e6l"}));
  EXPECT_EQ(message["attachments"],
            (json::array({{{"file_name", "abc.bin"},
                           {"content_type", "application/octet-stream"},
                           {"transfer_encoding", "base64"},
                           {"size", 3},
                           {"sha256", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"}}})));
}

TEST_F(MimeCommandTest, ErrorsArePrintedAsJsonWithStatusOne) {
  ToolRun run = RunMime("decode " + (directory_ / "missing.eml").string());
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_TRUE(json::parse(run.output).contains("error"));
  EXPECT_EQ(RunMime("decode").exit_code, 2);
  EXPECT_EQ(RunMime("frobnicate x").exit_code, 2);
}

TEST_F(MimeCommandTest, EncodeFromJsonDecodesBack) {
  std::string data_path = Write("payload.bin", std::string("\0\x01\xff payload", 11));
  std::string description = R"({
    "sender": {"name": "A. Sender", "address": "a@example.org"},
    "recipients": [{"name": "Bob", "address": "bob@example.org"}],
    "bcc": [{"name": "", "address": "hidden@example.org"}],
    "subject": "S\u00f8k", "priority": "high", "return_receipt": true,
    "charset": "iso-8859-1",
    "body": ["Line \u00e9", "."],
    "attachments": [
      {"path": ")" + data_path + R"(", "file_name": "p.bin"},
      {"file_name": "n.txt", "content_type": "text/plain", "transfer_encoding": "quoted-printable",
       "data_base64": "aGk9dGhlcmUNCg=="}
    ]})";
  ToolRun encoded = RunMime("encode " + Write("m.json", description));
  ASSERT_EQ(encoded.exit_code, 0);
  EXPECT_NE(encoded.output.find("From:     \"A. Sender\" <a@example.org>\r\n"), std::string::npos);
  EXPECT_EQ(encoded.output.find("hidden@example.org"), std::string::npos);
  ToolRun decoded = RunMime("decode " + Write("out.eml", encoded.output));
  ASSERT_EQ(decoded.exit_code, 0);
  json message = json::parse(decoded.output);
  EXPECT_EQ(message["subject"], "S\u00f8k");
  EXPECT_EQ(message["priority"], "high");
  EXPECT_EQ(message["return_receipt"], true);
  EXPECT_EQ(message["body"], json::array({"Line \u00e9", ".."}));
  ASSERT_EQ(message["attachments"].size(), 2u);
  EXPECT_EQ(message["attachments"][0]["file_name"], "p.bin");
  EXPECT_EQ(message["attachments"][0]["size"], 11);
  EXPECT_EQ(message["attachments"][1]["size"], 10);  // "hi=there\r\n"
}

TEST_F(MimeCommandTest, SaveAttachmentsWritesIntoTheDirectory) {
  std::string raw =
      "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n\r\nbody\r\n"
      "--b\r\nContent-Type: text/plain; name=\"../../up.txt\"\r\n\r\nup\r\n--b--\r\n";
  fs::create_directories(directory_ / "out");
  ToolRun run = RunMime("save-attachments " + Write("m.eml", raw) + " " +
                        (directory_ / "out").string());
  ASSERT_EQ(run.exit_code, 0);
  EXPECT_EQ(json::parse(run.output), json::array({(directory_ / "out" / "up.txt").string()}));
  std::ifstream in(directory_ / "out" / "up.txt", std::ios::binary);
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), {}), "up");
  EXPECT_FALSE(fs::exists(directory_ / "up.txt"));
}

TEST_F(MimeCommandTest, ChecksumsAgreeWithPythonAroundBlockSizes) {
  if (test::RunShell("python3 -c 'import hashlib'").exit_code != 0) GTEST_SKIP() << "no python3";
  // Attachments of every size around the block boundaries of SHA-256.
  for (int size : {0, 1, 55, 56, 63, 64, 65, 119, 120, 1000, 100000}) {
    std::string data;
    for (int i = 0; i < size; ++i) data.push_back(static_cast<char>(i * 37 + size));
    std::string data_path = Write("d.bin", data);
    std::string description = R"({"sender": {"address": "a@x"}, "attachments": [{"path": ")" +
                              data_path + R"(", "file_name": "d.bin"}]})";
    ToolRun encoded = RunMime("encode " + Write("m.json", description));
    json message = json::parse(RunMime("decode " + Write("m.eml", encoded.output)).output);
    ToolRun python = test::RunShell("python3 -c \"import hashlib,sys; print(hashlib.sha256(open(sys.argv[1],'rb').read()).hexdigest())\" " + data_path);
    ASSERT_EQ(message["attachments"].size(), 1u) << size;
    EXPECT_EQ(message["attachments"][0]["sha256"].get<std::string>() + "\n", python.output) << size;
  }
}

}  // namespace
}  // namespace quillon
