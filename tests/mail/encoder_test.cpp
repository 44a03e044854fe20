// Encoding messages: exact header block and body formats.
#include <gtest/gtest.h>

#include <string>

#include "mail/encoder.h"
#include "mail/message.h"

namespace quillon {
namespace {

bool IsBoundary(const std::string& text) {
  if (text.size() != 8) return false;
  for (char c : text) {
    if (c < '0' || c > '8') return false;
  }
  return true;
}

// The output as lines, boundaries replaced by B1, B2 in order of appearance.
TStringList Encode(TmsCustomMessage& message) {
  TMemoryStream stream;
  message.SaveToStream(stream);
  std::string text = stream.Data();
  EXPECT_TRUE(text.size() >= 2 && text.substr(text.size() - 2) == "\r\n");
  int count = 0;
  const std::string marker = "boundary=\"";
  for (std::size_t found = text.find(marker); found != std::string::npos;
       found = text.find(marker, found + 1)) {
    std::string boundary = text.substr(found + marker.size(), 8);
    if (!IsBoundary(boundary)) continue;
    std::string name = "B" + std::to_string(++count);
    std::size_t at = 0;
    while ((at = text.find(boundary, at)) != std::string::npos) text.replace(at, 8, name);
  }
  TStringList lines;
  lines.SetText(text);
  return lines;
}

void Fill(TmsMessage& message) {
  message.Sender().SetName("Ann");
  message.Sender().SetAddress("ann@example.org");
  message.Recipients().AddAddress("bob@example.org", "Bob");
  message.SetSubject("Greetings");
}

std::string Repeat(const std::string& text, int times) {
  std::string result;
  for (int i = 0; i < times; ++i) result += text;
  return result;
}

TStringList Concat(TStringList a, const TStringList& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

const TStringList kBasicHeaders{"From:     Ann <ann@example.org>", "To:       Bob <bob@example.org>",
                                "Subject:  Greetings", "Mime-Version: 1.0"};

void AddItem(TmsMessage& message, const std::string& name, const std::string& type,
             TAttEncoding encoding, const std::string& data) {
  auto item = std::make_unique<TmsAttItem>();
  item->SetFileName(name);
  item->SetContentType(type);
  item->SetTransferEncoding(encoding);
  item->Data().Write(data);
  message.Attachments().Add(std::move(item));
}

TEST(Encoder, PlainAsciiBody) {
  TmsMessage message;
  Fill(message);
  message.SetBody({"Hello", ".", "Bye"});
  EXPECT_EQ(Encode(message),
            Concat(kBasicHeaders, {"Content-Type: text/plain; charset=\"us-ascii\"",
                                   "Content-Transfer-Encoding: 7bit", "", "Hello", "..", "Bye"}));
  EXPECT_EQ(message.Body()[1], "..");  // doubled in the message itself
}

TEST(Encoder, LongLineSwitchesBodyToQuotedPrintable) {
  TmsMessage message;
  Fill(message);
  message.SetBody({"short", std::string(300, 'x')});
  TStringList lines = Encode(message);
  EXPECT_EQ(lines[5], "Content-Transfer-Encoding: quoted-printable");
  EXPECT_EQ(lines[7], "short");
  EXPECT_EQ(lines[8], std::string(65, 'x') + "=");
  EXPECT_EQ(lines.back(), std::string(300 - 4 * 65, 'x'));
}

TEST(Encoder, IsoBodyIsQuotedPrintable) {
  TmsMessage message;
  Fill(message);
  message.SetCharSet(TCharSet::csISO8859);
  message.SetBody({"Caf\xe9"});
  EXPECT_EQ(Encode(message),
            Concat(kBasicHeaders,
                   {"Content-Type: text/plain; charset=\"iso-8859-1\"",
                    "Content-Transfer-Encoding: quoted-printable", "", "Caf=E9"}));
}

TEST(Encoder, AddressListsAndNames) {
  TmsMessage message;
  message.Sender().SetName("A. Person");
  message.Sender().SetAddress("a@example.org");
  message.Recipients().AddAddress("one@example.org", "One");
  message.Recipients().AddAddress("two@example.org", "T. Two");
  message.Recipients().AddAddress("three@example.org", "");
  message.CC().AddAddress("cc@example.org", "\"Q. Uoted\"");
  message.BCC().AddAddress("hidden@example.org", "Hidden");
  message.SetReturnReceipt(true);
  message.SetPriority(TPriority::ptLow);
  message.SetBody({"x"});
  TStringList lines = Encode(message);
  TStringList expected{"From:     \"A. Person\" <a@example.org>",
                       "To:       One <one@example.org>,",
                       "          \"T. Two\" <two@example.org>,",
                       "           <three@example.org>",
                       "CC:       \"Q. Uoted\" <cc@example.org>",
                       "Return-Receipt-To: <a@example.org>",
                       "X-Priority: 5",
                       "Mime-Version: 1.0"};
  EXPECT_EQ(TStringList(lines.begin(), lines.begin() + 8), expected);
  for (const std::string& line : lines) EXPECT_EQ(line.find("hidden"), std::string::npos);
}

TEST(Encoder, StoredHeadersAreWrittenWithoutGeneratedOnes) {
  TmsMessage message;
  Fill(message);
  message.SetHeaders({"Received: from x", "\tby y", "Subject: old", "To: old@example.org",
                      " continued@example.org", "Message-ID: <id@x>", "Content-Type: text/html"});
  message.SetBody({"b"});
  TStringList lines = Encode(message);
  EXPECT_EQ(TStringList(lines.begin() + 2, lines.begin() + 7),
            (TStringList{"Received: from x", "\tby y", "Message-ID: <id@x>",
                         "Subject:  Greetings", "Mime-Version: 1.0"}));
}

TEST(Encoder, NoValueCanInjectAHeaderLine) {
  TmsMessage message;
  Fill(message);
  message.SetSubject("Hi\r\nBcc: victim@example.org");
  message.Sender().SetName("Evil\nX-Injected: 1");
  message.SetHeaders({"X-Stored: a\r\nX-Also: b", ""});
  message.SetBody({"b"});
  TStringList lines = Encode(message);
  std::size_t blank = 0;
  while (blank < lines.size() && !lines[blank].empty()) ++blank;
  for (std::size_t i = 0; i < blank; ++i) {
    EXPECT_NE(lines[i].rfind("Bcc:", 0), 0u) << lines[i];
    EXPECT_NE(lines[i].rfind("X-Injected", 0), 0u) << lines[i];
    EXPECT_NE(lines[i].rfind("X-Also", 0), 0u) << lines[i];
  }
  EXPECT_EQ(lines[0], "From:     Evil X-Injected: 1 <ann@example.org>");
  ASSERT_EQ(lines.size(), blank + 2);
  EXPECT_EQ(lines[blank - 1], "Content-Transfer-Encoding: 7bit");
  EXPECT_EQ(lines[blank + 1], "b");
}

TEST(Encoder, MultipartMixedWithTwoAttachments) {
  TmsMessage message;
  Fill(message);
  message.SetBody({"Body"});
  AddItem(message, "dir/a.bin", "application/octet-stream", TAttEncoding::aeBase64, "abc");
  AddItem(message, "b.txt", "text/plain", TAttEncoding::aeSevenBit, "one\r\n.\r\ntwo");
  EXPECT_EQ(Encode(message),
            Concat(kBasicHeaders,
                   {"Content-Type: multipart/mixed; boundary=\"B1\"", "",
                    "This is a multipart message in MIME format", "", "--B1",
                    "Content-Type: text/plain; charset=\"us-ascii\"",
                    "Content-Transfer-Encoding: 7bit", "", "Body", "--B1",
                    "Content-Type: application/octet-stream; name=\"a.bin\"",
                    "Content-Transfer-Encoding: Base64",
                    "Content-Disposition: attachment; filename=\"a.bin\"", "", "YWJj", "", "--B1",
                    "Content-Type: text/plain; name=\"b.txt\"", "Content-Transfer-Encoding: 7 bit",
                    "Content-Disposition: attachment; filename=\"b.txt\"", "", "one", ".", "two",
                    "", "--B1--"}));
}

TEST(Encoder, NestedAlternativeClosedBeforePdf) {
  TmsMessage message;
  Fill(message);
  message.SetBody({"Plain"});
  AddItem(message, "_alt.0", "text/html", TAttEncoding::aeQuotedPrintable, "<b>x=y</b>\r\n");
  AddItem(message, "doc.pdf", "application/pdf", TAttEncoding::aeBase64, "%PDF");
  EXPECT_EQ(Encode(message),
            Concat(kBasicHeaders,
                   {"Content-Type: multipart/mixed; boundary=\"B1\"", "",
                    "This is a multipart message in MIME format", "", "--B1",
                    "Content-Type:  multipart/alternative; boundary=\"B2\"",
                    "Content-Transfer-Encoding: 7bit", "", "--B2",
                    "Content-Type: text/plain; charset=\"us-ascii\"",
                    "Content-Transfer-Encoding: 7bit", "", "Plain", "--B2",
                    "Content-Type: text/html", "Content-Transfer-Encoding: Quoted-Printable", "",
                    "<b>x=3Dy</b>", "", "--B2--", "--B1",
                    "Content-Type: application/pdf; name=\"doc.pdf\"",
                    "Content-Transfer-Encoding: Base64",
                    "Content-Disposition: attachment; filename=\"doc.pdf\"", "", "JVBERg==", "",
                    "--B1--"}));
}

TEST(Encoder, TopLevelAlternativeUsesPlainForm) {
  TmsMessage message;
  Fill(message);
  message.SetBody({"Plain"});
  AddItem(message, "_alt.0", "text/html", TAttEncoding::aeSevenBit, "<i>x</i>");
  TStringList lines = Encode(message);
  EXPECT_EQ(lines[4], "Content-Type: multipart/alternative; boundary=\"B1\"");
  EXPECT_EQ(TStringList(lines.begin() + 13, lines.end()),
            (TStringList{"--B1", "Content-Type: text/html", "Content-Transfer-Encoding: 7 bit", "",
                         "<i>x</i>", "", "--B1--"}));
}

TEST(Encoder, Base64OfExactly57BytesEndsWithEmptyLine) {
  TmsMessage message;
  Fill(message);
  AddItem(message, "x.bin", "application/octet-stream", TAttEncoding::aeBase64,
          std::string(57, 'x'));
  TStringList lines = Encode(message);
  EXPECT_EQ(TStringList(lines.begin() + 4, lines.end()),
            (TStringList{"Content-Type: application/octet-stream; name=\"x.bin\"",
                         "Content-Transfer-Encoding: Base64",
                         "Content-Disposition: attachment; filename=\"x.bin\"", "",
                         Repeat("eHh4", 19),
                         ""}));
}

TEST(Encoder, HtmlBodyIsQuotedPrintableAndReplacesBody) {
  TmsMessage message;
  Fill(message);
  message.SetContentType("text/html");
  message.SetBody({"<p>a=b</p>"});
  TStringList lines = Encode(message);
  EXPECT_EQ(TStringList(lines.begin() + 4, lines.end()),
            (TStringList{"Content-Type: text/html", "Content-Transfer-Encoding: quoted-printable",
                         "", "<p>a=3Db</p>"}));
  EXPECT_EQ(message.Body(), (TStringList{"<p>a=3Db</p>"}));
}

TEST(Encoder, HtmlBodyAttachmentIsWrittenNotLost) {
  TmsMessage message;
  Fill(message);
  AddItem(message, "_htmbody.htm", "text/html", TAttEncoding::aeQuotedPrintable, "<p>hi</p>\r\n");
  EXPECT_EQ(message.ContentType(), "text/html");
  TStringList lines = Encode(message);
  EXPECT_EQ(TStringList(lines.begin() + 4, lines.end()),
            (TStringList{"Content-Type: text/html", "Content-Transfer-Encoding: Quoted-Printable",
                         "", "<p>hi</p>"}));
}

TEST(Encoder, UUEncodedMessage) {
  TmsMessage message;
  Fill(message);
  message.SetEncoding(TMsgEncoding::meUU);
  message.SetBody({"See file"});
  AddItem(message, "/tmp/cat.txt", "text/plain", TAttEncoding::aeBase64, "Cat");
  AddItem(message, "full.bin", "text/plain", TAttEncoding::aeBase64, std::string(45, 'a'));
  TStringList lines = Encode(message);
  TStringList expected{"From:     Ann <ann@example.org>", "To:       Bob <bob@example.org>",
                       "Subject:  Greetings", "", "See file", "", "begin 600 cat.txt", "#0V%T",
                       "`", "end", "", "begin 600 full.bin", "M" + Repeat("86%A", 15), "`",
                       "`", "end"};
  EXPECT_EQ(lines, expected);
}

TEST(Encoder, MakeBoundaryIsEightDigitsUpToEight) {
  for (int i = 0; i < 50; ++i) {
    std::string boundary = TmsCustomEncoder::MakeBoundary();
    EXPECT_TRUE(IsBoundary(boundary)) << boundary;
  }
}

TEST(Encoder, ArticleHeaders) {
  TmsArticle article;
  article.Sender().SetName("A. Poster");
  article.Sender().SetAddress("p@example.org");
  article.SetNewsGroups("comp.lang.c");
  article.SetSubject("Q");
  article.SetBody({"text"});
  TStringList lines = Encode(article);
  EXPECT_EQ(TStringList(lines.begin(), lines.begin() + 4),
            (TStringList{"From:     A. Poster <p@example.org>", "Newsgroups: comp.lang.c",
                         "Subject:  Q", "Mime-Version: 1.0"}));
}

}  // namespace
}  // namespace quillon
