// The message model: computed content type, validation, copies, files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "mail/mail_errors.h"
#include "mail/message.h"
#include "platform/temp_file.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;

void AddNamed(TmsCustomMessage& message, const std::string& name, const std::string& data = "") {
  auto item = std::make_unique<TmsAttItem>();
  item->SetFileName(name);
  item->Data().Write(data);
  message.Attachments().Add(std::move(item));
}

struct ContentTypeCase {
  const char* name;
  TStringList body;
  std::vector<std::string> attachments;
  std::string stored;
  std::string expected;
};

class ContentTypeTest : public testing::TestWithParam<ContentTypeCase> {};

TEST_P(ContentTypeTest, IsComputed) {
  const ContentTypeCase& c = GetParam();
  TmsMessage message;
  message.SetBody(c.body);
  for (const std::string& name : c.attachments) AddNamed(message, name);
  message.SetContentType(c.stored);
  EXPECT_EQ(message.ContentType(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, ContentTypeTest,
    testing::Values(
        ContentTypeCase{"empty_is_plain", {}, {}, "", "text/plain"},
        ContentTypeCase{"html_body_attachment", {}, {"_htmbody.htm"}, "", "text/html"},
        ContentTypeCase{"rtf_body_attachment", {}, {"dir/_RTFBODY.RTF"}, "", "text/rtf"},
        ContentTypeCase{"html_body_attachment_with_body", {"x"}, {"_htmbody.htm"}, "",
                        "multipart/mixed"},
        ContentTypeCase{"alternatives_whatever_the_body", {"x"}, {"_alt.0", "_ALT.1"}, "",
                        "multipart/alternative"},
        ContentTypeCase{"one_attachment_no_body", {}, {"x.unknownext"}, "",
                        "application/octet-stream"},
        ContentTypeCase{"two_attachments_no_body", {}, {"a", "b"}, "", "multipart/mixed"},
        ContentTypeCase{"body_keeps_stored", {"x"}, {}, "Text/HTML", "text/html"},
        ContentTypeCase{"body_empty_stored", {"x"}, {}, "", "text/plain"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Message, UUEncodingHasNoContentType) {
  TmsMessage message;
  message.SetEncoding(TMsgEncoding::meUU);
  EXPECT_EQ(message.ContentType(), "");
}

TEST(Message, SetAttachmentsCopiesAndSetsStoredType) {
  TmsMessage source;
  AddNamed(source, "a.bin", "data");
  TmsMessage message;
  message.SetBody({"x"});
  message.SetAttachments(source.Attachments());
  source.Attachments().Items(0).Data().Write(std::string("changed"));
  EXPECT_EQ(message.Attachments().Items(0).Data().Data(), "data");
  message.SetAttachments(TmsAttList{});
  EXPECT_EQ(message.ContentType(), "text/plain");
}

TEST(Message, ValidateNeedsSenderAndARecipient) {
  TmsMessage message;
  try {
    message.Validate();
    FAIL();
  } catch (const EMessageError& error) {
    EXPECT_STREQ(error.what(), "The address of sender is required");
  }
  message.Sender().SetAddress("a@example.org");
  message.Recipients().AddAddress("", "Nameless");
  try {
    message.Validate();
    FAIL();
  } catch (const EMessageError& error) {
    EXPECT_STREQ(error.what(), "At least one Recipient, CC or BCC must be entered");
  }
  message.BCC().AddAddress("b@example.org", "");
  EXPECT_NO_THROW(message.Validate());
}

TEST(Article, ValidateNeedsNewsgroupsThenSubject) {
  TmsArticle article;
  article.Sender().SetAddress("a@example.org");
  EXPECT_THROW(article.Validate(), EMessageError);
  article.SetNewsGroups("alt.test");
  try {
    article.Validate();
    FAIL();
  } catch (const EMessageError& error) {
    EXPECT_STREQ(error.what(), "Subject header is required");
  }
  article.SetSubject("s");
  EXPECT_NO_THROW(article.Validate());
}

TEST(Message, ClearKeepsPriorityAndReceipt) {
  TmsMessage message;
  message.SetPriority(TPriority::ptHigh);
  message.SetReturnReceipt(true);
  message.SetSubject("s");
  message.SetCharSet(TCharSet::csISO8859);
  message.SetEncoding(TMsgEncoding::meUU);
  message.Recipients().AddAddress("a", "");
  AddNamed(message, "x");
  message.Clear();
  EXPECT_EQ(message.Priority(), TPriority::ptHigh);
  EXPECT_TRUE(message.ReturnReceipt());
  EXPECT_EQ(message.Subject(), "");
  EXPECT_EQ(message.CharSet(), TCharSet::csUSASCII);
  EXPECT_EQ(message.Encoding(), TMsgEncoding::meMIME);
  EXPECT_EQ(message.Recipients().Count(), 0);
  EXPECT_EQ(message.Attachments().Count(), 0);
}

TEST(Message, AssignCopiesEverythingDeeply) {
  TmsMessage source;
  source.Sender().SetAddress("a@example.org");
  source.Recipients().AddAddress("r@example.org", "R");
  source.CC().AddAddress("c@example.org", "C");
  source.SetPriority(TPriority::ptLow);
  source.SetSubject("s");
  source.SetBody({"b"});
  source.SetHeaders({"X: y"});
  AddNamed(source, "a.bin", "payload");
  TmsMessage copy;
  copy.Assign(source);
  source.Attachments().Items(0).Data().Write(std::string("changed"));
  EXPECT_EQ(copy.Recipients().Items(0).Name(), "R");
  EXPECT_EQ(copy.CC().Count(), 1);
  EXPECT_EQ(copy.Priority(), TPriority::ptLow);
  EXPECT_EQ(copy.Headers(), (TmsHeaders{"X: y"}));
  EXPECT_EQ(copy.Attachments().Items(0).Data().Data(), "payload");
  EXPECT_EQ(copy.ContentType(), "multipart/mixed");

  TmsArticle article;
  article.SetNewsGroups("g");
  TmsMessage from_article;
  from_article.Recipients().AddAddress("kept@example.org", "");
  from_article.Assign(article);
  EXPECT_EQ(from_article.Recipients().Count(), 1);  // only the common part
}

TEST(AttItem, FileNameSetsTypeAndEncoding) {
  TmsAttItem item;
  item.SetFileName("");
  EXPECT_EQ(item.ContentType(), "");
  item.SetFileName("x.unknownext");
  EXPECT_EQ(item.ContentType(), "application/octet-stream");
  EXPECT_EQ(item.TransferEncoding(), TAttEncoding::aeBase64);
  item.SetFileName(std::string(300, 'n'));
  EXPECT_EQ(item.FileName().size(), 255u);
}

class MessageFileTest : public testing::Test {
 protected:
  void SetUp() override {
    directory_ = fs::temp_directory_path() / ("mail_test_" + std::to_string(getpid()));
    fs::create_directories(directory_ / "inner");
  }
  void TearDown() override { fs::remove_all(directory_); }

  fs::path directory_;
};

TEST_F(MessageFileTest, SaveAttachmentStaysInsideTheDirectory) {
  TmsMessage message;
  for (const char* name : {"../../escape.txt", "C:\\Windows\\evil.dll", "", "..", ".",
                           "bad\nname", "sub/ok.txt", "plain.txt"}) {
    AddNamed(message, name, std::string("data of ") + name);
  }
  std::vector<std::string> expected = {"escape.txt", "evil.dll", "att.2",  "att.3",
                                       "att.4",      "att.5",    "ok.txt", "plain.txt"};
  for (int i = 0; i < message.Attachments().Count(); ++i) {
    std::string path = message.SaveAttachment(i, (directory_ / "inner").string());
    EXPECT_EQ(fs::path(path).filename().string(), expected[static_cast<std::size_t>(i)]);
    EXPECT_EQ(fs::path(path).parent_path(), directory_ / "inner");
    std::ifstream in(path, std::ios::binary);
    std::string content((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(content, message.Attachments().Items(i).Data().Data());
  }
  EXPECT_FALSE(fs::exists(directory_ / "escape.txt"));
  EXPECT_EQ(std::distance(fs::directory_iterator(directory_ / "inner"), {}), 8);
}

TEST_F(MessageFileTest, SaveToFileThenLoadFromFile) {
  TmsMessage message;
  message.Sender().SetAddress("a@example.org");
  message.Recipients().AddAddress("b@example.org", "B");
  message.SetSubject("Saved");
  message.SetBody({"one", "two"});
  std::string path = (directory_ / "m.eml").string();
  message.SaveToFile(path);
  TmsMessage loaded;
  loaded.SetSubject("stale");
  loaded.LoadFromFile(path);
  EXPECT_EQ(loaded.Subject(), "Saved");
  EXPECT_EQ(loaded.Recipients().Items(0).Address(), "b@example.org");
  EXPECT_EQ(loaded.Body(), (TStringList{"one", "two"}));
  EXPECT_THROW(loaded.LoadFromFile((directory_ / "missing.eml").string()), std::system_error);
}

TEST_F(MessageFileTest, AddFileLoadsData) {
  std::string path = (directory_ / "report.unknownext").string();
  std::ofstream(path, std::ios::binary) << std::string("bytes\0here", 10);
  TmsAttList list;
  list.AddFile(path);
  EXPECT_EQ(list.Items(0).Data().Data(), std::string("bytes\0here", 10));
  EXPECT_EQ(list.Items(0).FileName(), path);
  EXPECT_THROW(list.AddFile((directory_ / "none").string()), std::system_error);
}

}  // namespace
}  // namespace quillon
