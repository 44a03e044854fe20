// Real messages and Python's email package as a second opinion: every
// corpus message decodes without losing content, Quillon and Python agree
// on attachment bytes both ways, and encode-then-decode gives back what
// went in.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <vector>

#include "mail/header_values.h"
#include "mail/message.h"
#include "platform/code_pages.h"
#include "platform/string_list.h"
#include "mail/base64.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;

const std::string kPythonHelper = std::string(QUILLON_SOURCE_DIR) + "/tests/mail/python_mail.py";

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

std::unique_ptr<TmsMessage> DecodeBytes(const std::string& raw) {
  auto message = std::make_unique<TmsMessage>();
  message->Clear();
  TMemoryStream stream;
  stream.Write(raw);
  message->LoadFromStream(stream);
  return message;
}

// Runs the Python helper; null when Python is not there.
json RunPython(const std::string& arguments) {
  if (std::system("python3 -c 'import email' >/dev/null 2>&1") != 0) return nullptr;
  std::string command = "python3 " + kPythonHelper + " " + arguments;
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  if (!pipe) return nullptr;
  std::string output;
  char buffer[65536];
  std::size_t got = 0;
  while ((got = fread(buffer, 1, sizeof buffer, pipe.get())) > 0) output.append(buffer, got);
  return json::parse(output);
}

std::vector<fs::path> MessageFiles(const fs::path& directory) {
  std::vector<fs::path> files;
  if (!fs::is_directory(directory)) return files;
  for (const auto& entry : fs::recursive_directory_iterator(directory)) {
    if (entry.is_regular_file() && entry.path().filename() != "LICENSE") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

// The sample messages of Python's own email tests, where Python's test
// package is installed; empty otherwise.
fs::path PythonEmailTestData() {
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(
      popen("python3 -c 'import os, test; print(os.path.dirname(test.__file__))' 2>/dev/null", "r"),
      pclose);
  if (!pipe) return {};
  char buffer[4096] = {};
  if (fgets(buffer, sizeof buffer, pipe.get()) == nullptr) return {};
  std::string directory(buffer);
  while (!directory.empty() && (directory.back() == '\n' || directory.back() == '\r')) {
    directory.pop_back();
  }
  return directory.empty() ? fs::path() : fs::path(directory) / "test_email" / "data";
}

std::vector<fs::path> AllSampleMessages() {
  std::vector<fs::path> files = MessageFiles(QUILLON_CORPUS_DIR);
  auto seeds = MessageFiles(fs::path(QUILLON_SOURCE_DIR) / "fuzz/corpus/mime_decoder");
  files.insert(files.end(), seeds.begin(), seeds.end());
  auto python_data = MessageFiles(PythonEmailTestData());
  files.insert(files.end(), python_data.begin(), python_data.end());
  return files;
}

std::string DataOf(const json& part) {
  return Base64DecodeLine(part["data_base64"].get<std::string>());
}

bool Contains(const std::string& haystack, const std::string& needle) {
  return haystack.find(needle) != std::string::npos;
}

TEST(Corpus, EveryMessageDecodesAndKeepsItsContent) {
  std::vector<fs::path> files = AllSampleMessages();
  ASSERT_GE(files.size(), 100u) << "the message corpus is missing";
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.string());
    std::string raw = ReadFile(file);
    auto message = DecodeBytes(raw);
    const TmsAttList& attachments = message->Attachments();
    for (int i = 0; i < attachments.Count(); ++i) {
      if (attachments.Items(i).FileName() == "original.eml") {
        EXPECT_EQ(attachments.Items(i).Data().Data(), raw);
      }
    }
    // Whatever follows the header block is somewhere in the result.
    std::size_t header_end = raw.find("\n\n");
    if (header_end == std::string::npos) header_end = raw.find("\r\n\r\n");
    bool has_body_text = header_end != std::string::npos &&
                         raw.find_first_not_of(" \t\r\n.", header_end) != std::string::npos;
    if (has_body_text) {
      EXPECT_TRUE(!message->Body().empty() || attachments.Count() > 0);
    }
  }
}

// Python's leaf part is kept when its bytes are an attachment, or its first
// line, decoded or as it came, is in the body, the headers or an attachment.
bool PartIsKept(const json& part, const TmsMessage& message, const std::string& body_text) {
  for (int i = 0; i < message.Attachments().Count(); ++i) {
    const std::string& data = message.Attachments().Items(i).Data().Data();
    if (data == DataOf(part)) return true;
  }
  const std::string boundary =
      "--" + GetParamValue("boundary", message.Headers().GetFieldValue("Content-Type"));
  for (const char* key : {"first_line", "first_decoded_line"}) {
    std::string line = Utf8ToLatin1(part[key].get<std::string>());
    if (line.empty() || Contains(body_text, line)) return true;
    // Header lines Python takes for body text stay in Headers.
    if (Contains(message.Headers().Text(), line)) return true;
    // A malformed closing delimiter ("--boundary-") ends the data.
    if (boundary.size() > 2 && line.rfind(boundary, 0) == 0) return true;
    for (int i = 0; i < message.Attachments().Count(); ++i) {
      if (Contains(message.Attachments().Items(i).Data().Data(), line)) return true;
    }
  }
  return part["size"] == 0;
}

TEST(Corpus, EveryPartPythonFindsIsKept) {
  std::vector<fs::path> files = MessageFiles(QUILLON_CORPUS_DIR);
  for (const fs::path& file : MessageFiles(PythonEmailTestData())) {
    if (file.filename().string().rfind("msg_", 0) == 0) files.push_back(file);
  }
  std::string arguments = "parts";
  for (const fs::path& file : files) arguments += " '" + file.string() + "'";
  json parts = RunPython(arguments);
  if (parts.is_null()) GTEST_SKIP() << "python3 with the email package is not available";
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.string());
    auto message = DecodeBytes(ReadFile(file));
    std::string body_text = message->Body().Text();
    for (const json& part : parts[file.string()]) {
      EXPECT_TRUE(PartIsKept(part, *message, body_text)) << part.dump();
    }
  }
}

class InteropTest : public testing::Test {
 protected:
  void SetUp() override {
    directory_ = fs::temp_directory_path() / ("mail_interop_" + std::to_string(getpid()));
    fs::create_directories(directory_);
  }
  void TearDown() override { fs::remove_all(directory_); }
  fs::path directory_;
};

TEST_F(InteropTest, QuillonDecodesTheAttachmentsPythonWrote) {
  json generated = RunPython("generate '" + directory_.string() + "' 12");
  if (generated.is_null()) GTEST_SKIP() << "python3 with the email package is not available";
  ASSERT_EQ(generated.size(), 12u);
  for (const auto& [path, expected] : generated.items()) {
    SCOPED_TRACE(path);
    auto message = DecodeBytes(ReadFile(path));
    ASSERT_EQ(message->Attachments().Count(), static_cast<int>(expected.size()));
    for (std::size_t i = 0; i < expected.size(); ++i) {
      const TmsAttItem& item = message->Attachments().Items(static_cast<int>(i));
      EXPECT_EQ(item.FileName(), expected[i]["file_name"].get<std::string>());
      EXPECT_EQ(item.Data().Data(), DataOf(expected[i]));
    }
    EXPECT_EQ(message->Recipients().Count(), 2);
    EXPECT_EQ(message->Recipients().Items(1).Name(), "Doe, Jane");
  }
}

std::string RandomBytes(std::mt19937& generator, std::size_t size) {
  std::uniform_int_distribution<int> byte(0, 255);
  std::string data;
  for (std::size_t i = 0; i < size; ++i) data.push_back(static_cast<char>(byte(generator)));
  return data;
}

// Messages of every body form with attachments of awkward sizes and
// contents, in each transfer encoding.
std::vector<std::unique_ptr<TmsMessage>> SampleMessages() {
  std::mt19937 generator(7);
  std::vector<std::unique_ptr<TmsMessage>> messages;
  const std::vector<std::size_t> sizes = {0, 1, 44, 45, 46, 56, 57, 58, 1000, 100000};
  for (int index = 0; index < 8; ++index) {
    auto message = std::make_unique<TmsMessage>();
    message->Sender().SetName(index % 2 ? "Ann O. Nymous" : "Ann");
    message->Sender().SetAddress("ann@example.org");
    message->Recipients().AddAddress("bob@example.org", "Bob");
    message->CC().AddAddress("carol@example.org", "Carol C.");
    message->SetSubject("Round trip " + std::to_string(index));
    message->SetCharSet(index % 3 == 0 ? TCharSet::csISO8859 : TCharSet::csUSASCII);
    if (index != 5) message->SetBody({"Hello \xe9t\xe9", "", std::string(index * 60, 'w'), "end"});
    if (index == 7) message->SetEncoding(TMsgEncoding::meUU);
    for (int number = 0; number <= index % 3; ++number) {
      auto item = std::make_unique<TmsAttItem>();
      item->SetFileName("file" + std::to_string(index) + "_" + std::to_string(number) + ".bin");
      item->SetContentType("application/octet-stream");
      std::size_t size = sizes[static_cast<std::size_t>(index * 3 + number) % sizes.size()];
      item->Data().Write(RandomBytes(generator, size));
      if (number == 1) {
        // Text with long lines, "." lines, "=", empty lines and NUL bytes.
        item->Data().Clear();
        item->Data().Write(std::string("line=1\r\n.\r\n\r\n") + std::string(300, 'x') +
                           std::string("\0tail\r\n", 7));
        item->SetTransferEncoding(TAttEncoding::aeQuotedPrintable);
      } else {
        item->SetTransferEncoding(TAttEncoding::aeBase64);
      }
      message->Attachments().Add(std::move(item));
    }
    messages.push_back(std::move(message));
  }
  return messages;
}

TEST_F(InteropTest, EncodeThenDecodeGivesEverythingBack) {
  for (auto& original : SampleMessages()) {
    SCOPED_TRACE(original->Subject());
    TMemoryStream stream;
    TmsMessage sent;
    sent.Assign(*original);
    sent.SaveToStream(stream);
    auto decoded = DecodeBytes(stream.Data());
    EXPECT_EQ(decoded->Sender().Address(), original->Sender().Address());
    EXPECT_EQ(decoded->Sender().Name(), original->Sender().Name());
    ASSERT_EQ(decoded->Recipients().Count(), 1);
    EXPECT_EQ(decoded->Recipients().Items(0).Address(), "bob@example.org");
    EXPECT_EQ(decoded->CC().Items(0).Name(), "Carol C.");
    EXPECT_EQ(decoded->Subject(), original->Subject());
    EXPECT_EQ(decoded->Body(), original->Body());
    ASSERT_EQ(decoded->Attachments().Count(), original->Attachments().Count());
    for (int i = 0; i < original->Attachments().Count(); ++i) {
      EXPECT_EQ(decoded->Attachments().Items(i).Data().Data(),
                original->Attachments().Items(i).Data().Data())
          << i;
    }
  }
}

TEST_F(InteropTest, PythonReadsTheAttachmentsQuillonWrote) {
  std::string arguments = "attachments";
  std::vector<std::vector<std::string>> expected;
  int index = 0;
  for (auto& message : SampleMessages()) {
    if (message->Encoding() == TMsgEncoding::meUU) continue;
    fs::path path = directory_ / ("quillon" + std::to_string(index++) + ".eml");
    message->SaveToFile(path.string());
    arguments += " '" + path.string() + "'";
    std::vector<std::string> contents;
    for (int i = 0; i < message->Attachments().Count(); ++i) {
      contents.push_back(message->Attachments().Items(i).Data().Data());
    }
    expected.push_back(contents);
  }
  json parsed = RunPython(arguments);
  if (parsed.is_null()) GTEST_SKIP() << "python3 with the email package is not available";
  for (int i = 0; i < index; ++i) {
    std::string path = (directory_ / ("quillon" + std::to_string(i) + ".eml")).string();
    SCOPED_TRACE(path);
    const json& found = parsed[path];
    ASSERT_EQ(found.size(), expected[static_cast<std::size_t>(i)].size());
    for (std::size_t k = 0; k < found.size(); ++k) {
      EXPECT_EQ(DataOf(found[k]), expected[static_cast<std::size_t>(i)][k]);
    }
  }
}

}  // namespace
}  // namespace quillon
