// Decoding raw messages: every path of Decode and its error path.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "mail/base64.h"
#include "mail/line_stream.h"
#include "mail/message.h"
#include "mail/temp_file_stream.h"

namespace quillon {
namespace {

// Joins lines with CR LF, as a message arrives from a server.
std::string Raw(std::initializer_list<std::string> lines) {
  std::string raw;
  for (const std::string& line : lines) raw += line + "\r\n";
  return raw;
}

std::unique_ptr<TmsMessage> Decode(const std::string& raw) {
  auto message = std::make_unique<TmsMessage>();
  message->Clear();
  TMemoryStream stream;
  stream.Write(raw);
  message->LoadFromStream(stream);
  return message;
}

// The same from a file, which the decoder reads in blocks of its own.
std::unique_ptr<TmsMessage> DecodeFromFile(const std::string& raw) {
  auto message = std::make_unique<TmsMessage>();
  message->Clear();
  TTempFileStream file;
  file.Write(raw);
  message->LoadFromStream(file);
  return message;
}

using DecodeFunction = std::unique_ptr<TmsMessage> (*)(const std::string&);
constexpr DecodeFunction kFromMemoryAndFile[] = {Decode, DecodeFromFile};

std::string DataOf(const TmsMessage& message, int index) {
  return message.Attachments().Items(index).Data().Data();
}

const std::string kPdfBytes = std::string("%PDF-1.4\x00\xff\x10 binary", 18);

TEST(Decoder, PlainMessageWithHeadersAndTerminator) {
  auto message = Decode(Raw({"From: \"Ann Example\" <ann@example.org>",
                             "To: Bob <bob@example.org>, carol@example.org",
                             "Cc: Dan <dan@example.org>", "Bcc: eve@example.org",
                             "Subject: Hello", "X-Priority: 1", "Return-Receipt-To: ann@example.org",
                             "", "Line one", "", "Line three", "."}));
  EXPECT_EQ(message->Sender().Name(), "Ann Example");
  EXPECT_EQ(message->Sender().Address(), "ann@example.org");
  ASSERT_EQ(message->Recipients().Count(), 2);
  EXPECT_EQ(message->Recipients().Items(1).Address(), "carol@example.org");
  EXPECT_EQ(message->CC().Items(0).Name(), "Dan");
  EXPECT_EQ(message->BCC().Items(0).Address(), "eve@example.org");
  EXPECT_EQ(message->Subject(), "Hello");
  EXPECT_EQ(message->Priority(), TPriority::ptHigh);
  EXPECT_TRUE(message->ReturnReceipt());
  EXPECT_EQ(message->Headers().size(), 7u);
  EXPECT_EQ(message->Body(), (TStringList{"Line one", "", "Line three"}));
  EXPECT_EQ(message->Attachments().Count(), 0);
  EXPECT_EQ(message->ContentType(), "text/plain");
}

TEST(Decoder, FoldedToFieldGivesThreeRecipientsInOrder) {
  auto message = Decode(Raw({"To: Ann <ann@example.org>, \"Doe, John\" <john@example.org>,",
                             " Third <third@example.org>", "Tone: high", "Tops: x@example.org",
                             "", "b"}));
  ASSERT_EQ(message->Recipients().Count(), 3);
  EXPECT_EQ(message->Recipients().Items(0).Address(), "ann@example.org");
  EXPECT_EQ(message->Recipients().Items(1).Name(), "Doe, John");
  EXPECT_EQ(message->Recipients().Items(2).Address(), "third@example.org");
}

TEST(Decoder, PriorityValues) {
  EXPECT_EQ(Decode(Raw({"X-Priority: 5", "", "x"}))->Priority(), TPriority::ptLow);
  EXPECT_EQ(Decode(Raw({"X-Priority: 1 (Highest)", "", "x"}))->Priority(), TPriority::ptNormal);
}

TEST(Decoder, MimeVersionWithCommentIsReadAsPlainBody) {
  auto message = Decode(Raw({"MIME-Version: 1.0 (produced by x)",
                             "Content-Type: multipart/mixed; boundary=b", "", "--b", "", "text",
                             "--b--"}));
  EXPECT_EQ(message->Body(), (TStringList{"--b", "", "text", "--b--"}));
  EXPECT_EQ(message->Attachments().Count(), 0);
}

TEST(Decoder, QuotedPrintableTextBodySetsIsoCharSet) {
  auto message = Decode(Raw({"MIME-Version: 1.0", "Content-Type: text/plain; charset=iso-8859-1",
                             "Content-Transfer-Encoding: quoted-printable", "",
                             "Caf=E9 au lait, with a very long line that goes on =", "and on.",
                             "."}));
  EXPECT_EQ(message->CharSet(), TCharSet::csISO8859);
  EXPECT_EQ(message->Body(),
            (TStringList{"Caf\xe9 au lait, with a very long line that goes on and on."}));
}

TEST(Decoder, Base64TextBody) {
  auto message = Decode(Raw({"MIME-Version: 1.0", "Content-Type: text/plain",
                             "Content-Transfer-Encoding: base64", "",
                             Base64EncodeBytes("first\r\nsecond\r\n"), "", "."}));
  EXPECT_EQ(message->Body(), (TStringList{"first", "second"}));
}

TEST(Decoder, InvalidBase64TextBodyKeepsTheMessage) {
  std::string raw = Raw({"MIME-Version: 1.0", "Content-Type: text/plain",
                         "Content-Transfer-Encoding: base64", "", "not base64 at all!"});
  auto message = Decode(raw);
  ASSERT_EQ(message->Attachments().Count(), 1);
  EXPECT_EQ(message->Attachments().Items(0).FileName(), "original.eml");
  EXPECT_EQ(DataOf(*message, 0), raw);
}

TEST(Decoder, HtmlSinglePartKeepsTextInBody) {
  auto message = Decode(Raw({"MIME-Version: 1.0", "Content-Type: text/html; charset=us-ascii", "",
                             "<p>Hi</p>"}));
  EXPECT_EQ(message->Body(), (TStringList{"<p>Hi</p>"}));
  EXPECT_EQ(message->ContentType(), "text/html");
  EXPECT_EQ(message->Attachments().Count(), 0);
}

TEST(Decoder, SinglePartNonTextWithoutNameIsAtt0) {
  auto message = Decode(Raw({"MIME-Version: 1.0", "Content-Type: application/pdf",
                             "Content-Transfer-Encoding: base64", "", Base64EncodeBytes(kPdfBytes),
                             "."}));
  EXPECT_TRUE(message->Body().empty());
  ASSERT_EQ(message->Attachments().Count(), 1);
  const TmsAttItem& item = message->Attachments().Items(0);
  EXPECT_EQ(item.FileName(), "att.0");
  EXPECT_EQ(item.ContentType(), "application/pdf");
  EXPECT_EQ(item.TransferEncoding(), TAttEncoding::aeBase64);
  EXPECT_EQ(item.Data().Data(), kPdfBytes);
  EXPECT_EQ(message->ContentType(), "application/pdf");
}

TEST(Decoder, SinglePartNamedByDispositionAndUUEncoded) {
  auto message = Decode(Raw({"MIME-Version: 1.0", "Content-Type: application/octet-stream",
                             "Content-Disposition: attachment; filename=\"cat.bin\"",
                             "Content-Transfer-Encoding: x-uuencode", "", "begin 644 cat.bin",
                             "#0V%T", "`", "end"}));
  ASSERT_EQ(message->Attachments().Count(), 1);
  EXPECT_EQ(message->Attachments().Items(0).FileName(), "cat.bin");
  EXPECT_EQ(DataOf(*message, 0), "Cat");
}

TEST(Decoder, SinglePartSevenBitAndQuotedPrintableDropTheTerminator) {
  auto seven = Decode(Raw({"MIME-Version: 1.0", "Content-Type: text/plain; name=\"a.txt\"", "",
                           "line", "."}));
  ASSERT_EQ(seven->Attachments().Count(), 1);
  EXPECT_EQ(DataOf(*seven, 0), "line\r\n");
  auto qp = Decode(Raw({"MIME-Version: 1.0", "Content-Type: text/plain; name=\"a.txt\"",
                        "Content-Transfer-Encoding: quoted-printable", "", "a=3Db", "."}));
  EXPECT_EQ(DataOf(*qp, 0), "a=b\r\n");
}

TEST(Decoder, SinglePartSevenBitLongLineIsKeptWhole) {
  std::string long_line(70000, 'q');
  auto message = Decode(Raw({"MIME-Version: 1.0", "Content-Type: application/x-thing", "",
                             long_line, "tail"}));
  EXPECT_EQ(DataOf(*message, 0), long_line + "\r\ntail\r\n");
}

TEST(Decoder, SinglePartWithoutContentTypeAfterMailerQuirkIsText) {
  auto message = Decode(Raw({"MIME-Version: 1.0", "X-Mailer: V Mailsystem R #0001",
                             "Content-Type: application/pdf", "", "just text"}));
  EXPECT_EQ(message->Body(), (TStringList{"just text"}));
  EXPECT_EQ(message->Attachments().Count(), 0);
}

std::string MixedMessage() {
  return Raw({"From: a@example.org", "MIME-Version: 1.0",
              "Content-Type: multipart/mixed; boundary=\"XYZ\"", "", "preamble", "--XYZ",
              "Content-Type: text/plain", "", "Body text", "", "--XYZ",
              "Content-Type: image/png", "Content-Transfer-Encoding: base64",
              "Content-Disposition: attachment; filename=\"pic.png\"", "",
              Base64EncodeBytes(kPdfBytes), "--XYZ--", "epilogue", "."});
}

TEST(Decoder, MultipartMixedTextAndNamedAttachment) {
  auto message = Decode(MixedMessage());
  EXPECT_EQ(message->Body(), (TStringList{"Body text", ""}));
  ASSERT_EQ(message->Attachments().Count(), 1);
  const TmsAttItem& item = message->Attachments().Items(0);
  EXPECT_EQ(item.FileName(), "pic.png");
  EXPECT_EQ(item.TransferEncoding(), TAttEncoding::aeBase64);
  EXPECT_EQ(item.Data().Data(), kPdfBytes);
  EXPECT_EQ(message->ContentType(), "multipart/mixed");
}

TEST(Decoder, NestedAlternativeThenPdf) {
  auto message = Decode(Raw(
      {"MIME-Version: 1.0", "Content-Type: multipart/mixed; boundary=outer", "", "--outer",
       "Content-Type: multipart/alternative; boundary=inner", "", "--inner",
       "Content-Type: text/plain", "", "plain text", "--inner", "Content-Type: text/html",
       "Content-Transfer-Encoding: quoted-printable", "", "<b>html=3D</b>", "--inner--", "",
       "--outer", "Content-Type: application/pdf; name=\"doc.pdf\"",
       "Content-Transfer-Encoding: base64", "", Base64EncodeBytes(kPdfBytes), "--outer--", "."}));
  EXPECT_EQ(message->Body(), (TStringList{"plain text"}));
  ASSERT_EQ(message->Attachments().Count(), 2);
  EXPECT_EQ(message->Attachments().Items(0).FileName(), "_alt.0");
  EXPECT_EQ(message->Attachments().Items(0).ContentType(), "text/html");
  EXPECT_EQ(DataOf(*message, 0), "<b>html=</b>");
  EXPECT_EQ(message->Attachments().Items(1).FileName(), "doc.pdf");
  EXPECT_EQ(DataOf(*message, 1), kPdfBytes);
  EXPECT_EQ(message->ContentType(), "multipart/mixed");
}

TEST(Decoder, AlternativeWithOnlyATextPartKeepsTheOuterParts) {
  auto message = Decode(Raw(
      {"MIME-Version: 1.0", "Content-Type: multipart/mixed; boundary=outer", "", "--outer",
       "Content-Type: multipart/alternative; boundary=inner", "", "--inner",
       "Content-Type: text/plain", "", "plain text", "--inner--", "--outer",
       "Content-Type: application/pdf; name=\"doc.pdf\"", "Content-Transfer-Encoding: base64", "",
       Base64EncodeBytes(kPdfBytes), "--outer--"}));
  EXPECT_EQ(message->Body(), (TStringList{"plain text"}));
  ASSERT_EQ(message->Attachments().Count(), 1);
  EXPECT_EQ(DataOf(*message, 0), kPdfBytes);
}

TEST(Decoder, TopLevelAlternative) {
  auto message = Decode(Raw({"MIME-Version: 1.0",
                             "Content-Type: multipart/alternative; boundary=b", "", "--b",
                             "Content-Type: text/plain", "", "plain", "--b",
                             "Content-Type: text/html", "", "<i>html</i>", "--b--"}));
  EXPECT_EQ(message->Body(), (TStringList{"plain"}));
  ASSERT_EQ(message->Attachments().Count(), 1);
  EXPECT_EQ(message->Attachments().Items(0).FileName(), "_alt.0");
  EXPECT_EQ(DataOf(*message, 0), "<i>html</i>");
  EXPECT_EQ(message->ContentType(), "multipart/alternative");
}

TEST(Decoder, DelimitersWithTrailingBlanksAreDelimiters) {
  auto message = Decode(Raw({"MIME-Version: 1.0", "Content-Type: multipart/mixed; boundary=b", "",
                             "--b \t", "", "body", "--b ", "Content-Type: text/plain; name=\"n.txt\"",
                             "", "note", "--b-- ", "epilogue"}));
  EXPECT_EQ(message->Body(), (TStringList{"body"}));
  ASSERT_EQ(message->Attachments().Count(), 1);
  EXPECT_EQ(DataOf(*message, 0), "note");
}

TEST(Decoder, PartWithoutBlankLineAfterItsHeadersKeepsItsData) {
  auto message = Decode(Raw({"MIME-Version: 1.0", "Content-Type: multipart/mixed; boundary=foo", "",
                             "--foo", "Content-Type: text/plain", "bar", "", "--foo",
                             "Content-Type: text/html", "<p>baz</p>", "", "--foo",
                             "--foo", "Content-Type: text/plain", "", "after empty part",
                             "--foo", "Content-Transfer-Encoding: base64", "Q2F0", "--foo--"}));
  EXPECT_EQ(message->Body(), (TStringList{"bar", ""}));
  ASSERT_EQ(message->Attachments().Count(), 4);
  EXPECT_EQ(message->Attachments().Items(0).ContentType(), "text/html");
  EXPECT_EQ(DataOf(*message, 0), "<p>baz</p>\r\n");
  EXPECT_EQ(DataOf(*message, 1), "");  // the part without headers or data
  EXPECT_EQ(DataOf(*message, 2), "after empty part");
  EXPECT_EQ(DataOf(*message, 3), "Cat");
}

TEST(Decoder, FirstPartBase64BecomesAttachment) {
  auto message = Decode(Raw({"MIME-Version: 1.0", "Content-Type: multipart/mixed; boundary=b", "",
                             "--b", "Content-Type: application/octet-stream",
                             "Content-Transfer-Encoding: base64", "", Base64EncodeBytes("xyz"),
                             "--b--"}));
  EXPECT_TRUE(message->Body().empty());
  ASSERT_EQ(message->Attachments().Count(), 1);
  EXPECT_EQ(message->Attachments().Items(0).FileName(), "att.0");
  EXPECT_EQ(DataOf(*message, 0), "xyz");
}

TEST(Decoder, SingleTextPartClosedAtOnceStoresItsContentType) {
  auto message = Decode(Raw({"MIME-Version: 1.0", "Content-Type: multipart/mixed; boundary=b", "",
                             "--b", "Content-Type: text/plain; charset=\"us-ascii\"", "", "only",
                             "--b--", "."}));
  EXPECT_EQ(message->Body(), (TStringList{"only"}));
  EXPECT_EQ(message->ContentType(), "text/plain; charset=\"us-ascii\"");
}

TEST(Decoder, SevenBitPartLinesAreNotCut) {
  std::string long_line(1000, 'z');
  auto message = Decode(Raw({"MIME-Version: 1.0", "Content-Type: multipart/mixed; boundary=b", "",
                             "--b", "", "body", "--b", "Content-Type: text/x-log; name=\"l.log\"",
                             "", long_line, ".", "--b--"}));
  ASSERT_EQ(message->Attachments().Count(), 1);
  EXPECT_EQ(DataOf(*message, 0), long_line + "\r\n.");
}

TEST(Decoder, UUEncodedFilesInPlainMessageKeepAllText) {
  auto message = Decode(Raw({"Subject: files", "", "Here it is:", "begin 644 cat.txt", "#0V%T",
                             "`", "end", "More text", "begin 600 second.bin", "!00", "`", "end",
                             "Bye", "."}));
  EXPECT_EQ(message->Encoding(), TMsgEncoding::meUU);
  EXPECT_EQ(message->Body(), (TStringList{"Here it is:", "More text", "Bye"}));
  ASSERT_EQ(message->Attachments().Count(), 2);
  EXPECT_EQ(message->Attachments().Items(0).FileName(), "cat.txt");
  EXPECT_EQ(DataOf(*message, 0), "Cat");
  EXPECT_EQ(DataOf(*message, 1), "A");
  EXPECT_EQ(message->ContentType(), "");
}

TEST(Decoder, UUEncodedFileInMimeTextBodySwitchesToPlain) {
  for (DecodeFunction decode : kFromMemoryAndFile) {
    auto message = decode(Raw({"MIME-Version: 1.0", "Content-Type: text/plain", "", "see file",
                               "begin 644 x.bin", "#0V%T", "end"}));
    EXPECT_EQ(message->Encoding(), TMsgEncoding::meUU);
    EXPECT_EQ(message->Body(), (TStringList{"see file"}));
    ASSERT_EQ(message->Attachments().Count(), 1);
    EXPECT_EQ(DataOf(*message, 0), "Cat");
    EXPECT_EQ(message->Headers().size(), 2u);
  }
}

// A text part, then base64 parts with the given payloads.
std::string MessageWithBase64Parts(const std::vector<std::string>& payloads,
                                   const std::string& filler_header = "X-Filler: ") {
  std::string raw = Raw({"MIME-Version: 1.0", "Content-Type: multipart/mixed; boundary=b", "",
                         "--b", "", "text", "--b"});
  std::size_t payload_bytes = 0;
  for (const std::string& payload : payloads) payload_bytes += payload.size();
  raw.reserve(raw.size() + payload_bytes / 57 * 78 + 1024 * payloads.size());
  for (std::size_t i = 0; i < payloads.size(); ++i) {
    if (i > 0) raw += "--b\r\n";
    raw += Raw({filler_header, "Content-Type: application/octet-stream; name=\"p" +
                                   std::to_string(i) + ".bin\"",
                "Content-Transfer-Encoding: base64", ""});
    const std::string_view payload = payloads[i];
    for (std::size_t at = 0; at < payload.size(); at += kBase64BytesPerLine) {
      Base64EncodeAppend(payload.substr(at, kBase64BytesPerLine), raw);
      raw += "\r\n";
    }
  }
  raw += "--b--\r\n.\r\n";
  return raw;
}

std::string Payload(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + seed) >> 3);
  return bytes;
}

void ExpectParts(const TmsMessage& message, const std::vector<std::string>& payloads) {
  EXPECT_EQ(message.Body(), (TStringList{"text"}));
  ASSERT_EQ(message.Attachments().Count(), static_cast<int>(payloads.size()));
  for (std::size_t i = 0; i < payloads.size(); ++i) {
    EXPECT_EQ(message.Attachments().Items(static_cast<int>(i)).FileName(),
              "p" + std::to_string(i) + ".bin");
    EXPECT_TRUE(DataOf(message, static_cast<int>(i)) == payloads[i]) << "part " << i;
  }
}

TEST(Decoder, PartsAcrossReadBlocksAreWhole) {
  // A filler header moves the delimiter after the large part byte by byte
  // across the end of the first block read from a file, so its CR LF, its
  // dashes and the boundary are each split there once.
  const std::vector<std::string> payloads = {Payload(95000, 1), Payload(100, 2)};
  const std::string plain = MessageWithBase64Parts(payloads);
  const std::size_t delimiter = plain.find("\r\n--b", plain.find("p0.bin"));
  ASSERT_LT(delimiter, TLineStream::kBlockSize);
  const std::size_t shift = TLineStream::kBlockSize - delimiter;
  for (std::size_t extra = shift - 8; extra <= shift + 2; ++extra) {
    auto message = DecodeFromFile(MessageWithBase64Parts(payloads, "X-Filler: " + std::string(extra, 'f')));
    ExpectParts(*message, payloads);
  }
}

TEST(Decoder, LargeMessageInMemoryDecodesWhole) {
  // Large enough for the copy and the first part to be given their room at
  // once, the first part's room found by looking ahead through the second.
  const std::vector<std::string> payloads = {Payload(6 << 20, 3), Payload(3 << 20, 4)};
  ExpectParts(*Decode(MessageWithBase64Parts(payloads)), payloads);
}

struct ErrorCase {
  const char* name;
  std::string raw;
  std::string error;
  TStringList body_before_error;
};

void ExpectOriginalKept(const ErrorCase& c, const TmsMessage& message) {
  TStringList expected = c.body_before_error;
  expected.push_back("The following error has been occured while processing the message:");
  expected.push_back(c.error);
  expected.push_back("The original message will be stored as an attachment");
  EXPECT_EQ(message.Body(), expected);
  ASSERT_GE(message.Attachments().Count(), 1);
  const TmsAttItem& original =
      message.Attachments().Items(message.Attachments().Count() - 1);
  EXPECT_EQ(original.FileName(), "original.eml");
  EXPECT_EQ(original.ContentType(), "message/rfc822");
  EXPECT_EQ(original.TransferEncoding(), TAttEncoding::aeSevenBit);
  EXPECT_EQ(original.Data().Data(), c.raw);
}

class DecoderErrorTest : public testing::TestWithParam<ErrorCase> {};

TEST_P(DecoderErrorTest, KeepsTheWholeMessageAsOriginalEml) {
  const ErrorCase& c = GetParam();
  for (DecodeFunction decode : kFromMemoryAndFile) {
    ExpectOriginalKept(c, *decode(c.raw));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Messages, DecoderErrorTest,
    testing::Values(
        ErrorCase{"no_first_delimiter",
                  Raw({"MIME-Version: 1.0", "Content-Type: multipart/mixed; boundary=b", "",
                       "text", "."}),
                  "Cannot find boundary",
                  {}},
        ErrorCase{"no_first_delimiter_in_many_blocks",
                  Raw({"MIME-Version: 1.0", "Content-Type: multipart/mixed; boundary=b", "",
                       std::string(3 * TLineStream::kBlockSize, 't')}),
                  "Cannot find boundary",
                  {}},
        ErrorCase{"data_ends_in_first_part",
                  Raw({"MIME-Version: 1.0", "Content-Type: multipart/mixed; boundary=b", "",
                       "--b", "", "text"}),
                  "Cannot find boundary",
                  {"text"}},
        ErrorCase{"nested_alternative_not_closed",
                  Raw({"MIME-Version: 1.0", "Content-Type: multipart/mixed; boundary=o", "",
                       "--o", "Content-Type: multipart/alternative; boundary=i", "", "--i", "",
                       "plain", "--i", "Content-Type: text/html", "", "html", "--i--", "tail"}),
                  "Cannot find closing boundary",
                  {"plain"}},
        ErrorCase{"bad_base64_in_part",
                  Raw({"MIME-Version: 1.0", "Content-Type: multipart/mixed; boundary=b", "",
                       "--b", "", "text", "--b", "Content-Transfer-Encoding: base64", "",
                       "!!!!", "--b--"}),
                  "Error decoding the attachment",
                  {"text"}},
        ErrorCase{"bad_uuencode_line",
                  Raw({"", "begin 644 f", "#abcd", "end"}),
                  "Error decoding the attachment",
                  {}},
        ErrorCase{"bad_base64_single_part",
                  Raw({"MIME-Version: 1.0", "Content-Type: application/pdf",
                       "Content-Transfer-Encoding: base64", "", "@@@@"}),
                  "Error decoding the attachment",
                  {}},
        ErrorCase{"end_marker_as_header_line",
                  Raw({"Subject: x", "\xff\xff\xff\xff", "Other: y", "", "body"}),
                  "Unable to retrieve headers",
                  {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Decoder, MailerQuirkWithNamedTextTypeReadsTextBody) {
  // A name on a text type sends the message to the single-part path; an
  // X-Mailer quirk then removes the type.
  auto message = Decode(Raw({"MIME-Version: 1.0", "Content-Type: text/plain; name=\"x.txt\"",
                             "X-Mailer: V Mailsystem R #0001", "", "text"}));
  // Without a type the text path is taken: nothing is lost.
  EXPECT_EQ(message->Body(), (TStringList{"text"}));
}

TEST(Decoder, LoadFromStreamDoesNotClearFirst) {
  TmsMessage message;
  message.Body().push_back("kept");
  message.Recipients().AddAddress("old@example.org", "");
  TMemoryStream stream;
  stream.Write(Raw({"To: new@example.org", "", "new"}));
  message.LoadFromStream(stream);
  EXPECT_EQ(message.Recipients().Count(), 2);
  // A plain body appends to what is there.
  EXPECT_EQ(message.Body(), (TStringList{"kept", "new"}));
}

}  // namespace
}  // namespace quillon
