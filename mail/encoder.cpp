#include "mail/encoder.h"

#include <random>

#include "mail/base64.h"
#include "mail/header_values.h"
#include "mail/mail_texts.h"
#include "mail/quoted_printable.h"
#include "mail/uuencode.h"
#include "platform/text.h"

namespace quillon {

namespace {

constexpr std::size_t kLongLineLength = 256;
constexpr std::size_t kHeaderLabelWidth = 10;
constexpr std::size_t kFlushSize = 64 * 1024;
constexpr char kHtmlBodyName[] = "_htmbody.htm";
constexpr char kRtfBodyName[] = "_rtfbody.rtf";

std::string BareName(const TmsAttItem& item) { return FileNameWithoutDirectory(item.FileName()); }

std::string LowerBareName(const TmsAttItem& item) { return LowerCase(BareName(item)); }

bool IsAlternativePart(const TmsAttItem& item) {
  return LowerBareName(item).rfind("_alt.", 0) == 0;
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// Display names holding a "." must be quoted (RFC 822 specials).
std::string DisplayName(const std::string& name, bool quote) {
  if (quote && name.find('.') != std::string::npos && name.find('"') == std::string::npos) {
    return Quoted(name);
  }
  return name;
}

std::string Mailbox(const TmsMailAddress& address, bool quote) {
  return DisplayName(address.Name(), quote) + " <" + address.Address() + ">";
}

std::string TextOfLines(const TStringList& lines) {
  std::string text;
  for (const std::string& line : lines) {
    text.append(line);
    text.append("\r\n");
  }
  return text;
}

// Quoted-printable lines of `text` (bytes, line ends as they are).
TStringList QuotedPrintableLines(const std::string& text) {
  TMemoryStream stream;
  stream.Write(text);
  TStringList lines;
  TQuotedPrintable(stream, lines).Encode();
  return lines;
}

}  // namespace

TmsCustomEncoder::TmsCustomEncoder(TmsCustomMessage& message) : message_(message) {
  for (std::string& line : message_.Body()) {
    if (line.size() >= kLongLineLength) long_lines_ = true;
    if (line == ".") line = "..";
  }
}

std::string TmsCustomEncoder::MakeBoundary() {
  static std::mt19937 generator{std::random_device{}()};
  std::uniform_int_distribution<int> digit(0, 8);
  std::string boundary;
  for (int i = 0; i < 8; ++i) boundary.push_back(static_cast<char>('0' + digit(generator)));
  return boundary;
}

void TmsCustomEncoder::WriteLine(const std::string& line) {
  // Lines that are exactly "." are written too: the SMTP client stuffs
  // dots on the wire, and attachment data must not lose a line.
  buffer_.append(line);
  buffer_.append("\r\n");
  if (buffer_.size() >= kFlushSize) {
    stream_->Write(buffer_);
    buffer_.clear();
  }
}

void TmsCustomEncoder::WriteHeaderLine(const std::string& line) {
  std::string safe = line;
  for (char& c : safe) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  WriteLine(safe);
}

void TmsCustomEncoder::WriteLines(const TStringList& lines) {
  for (const std::string& line : lines) WriteLine(line);
}

void TmsCustomEncoder::Encode() {
  stream_->SetPosition(0);
  buffer_.clear();
  WriteHeaders();
  if (message_.Encoding() == TMsgEncoding::meUU) {
    WriteUUBody();
  } else {
    const std::string type = LowerCase(GetMediaType(message_.ContentType()));
    const int attachments = message_.Attachments().Count();
    const bool rich_attachment_only = message_.Body().empty() && attachments == 1;
    if (type == "multipart/mixed") {
      WriteMultipart(false);
    } else if (type == "multipart/alternative") {
      WriteMultipart(true);
    } else if ((type == "text/html" || type == "text/rtf") && !rich_attachment_only) {
      WriteRichBody();
    } else if (attachments > 0) {
      // Also the "_htmbody.htm" / "_rtfbody.rtf" message: its text is the
      // attachment, not the (empty) body.
      WriteSinglePart();
    } else {
      WritePlainBody();
    }
  }
  stream_->Write(buffer_);
  buffer_.clear();
}

void TmsCustomEncoder::WriteSenderLine(bool quote_name) {
  WriteHeaderLine("From:     " + Mailbox(message_.Sender(), quote_name));
}

void TmsCustomEncoder::WriteAddressList(const char* label, const TmsAddressList& list) {
  if (list.Count() == 0) return;
  std::string prefix = std::string(label) + ":";
  prefix.resize(kHeaderLabelWidth, ' ');
  for (int i = 0; i < list.Count(); ++i) {
    std::string line = (i == 0 ? prefix : std::string(kHeaderLabelWidth, ' ')) +
                       Mailbox(list.Items(i), true);
    if (i + 1 < list.Count()) line.push_back(',');
    WriteHeaderLine(line);
  }
}

void TmsCustomEncoder::RemoveGeneratedHeaders() {
  for (const char* field : {"From", "To", "CC", "BCC", "Return-Receipt-To", "X-Priority",
                            "Subject", "Mime-Version", "Content-Type", "X-Encoding",
                            "Content-Transfer-Encoding"}) {
    message_.Headers().DeleteField(field);
  }
}

void TmsCustomEncoder::WriteStoredHeaders() {
  for (const std::string& line : message_.Headers()) {
    // An empty line would end the header block early.
    if (!line.empty()) WriteHeaderLine(line);
  }
}

void TmsCustomEncoder::WriteSubjectAndMimeLines() {
  if (!message_.Subject().empty()) WriteHeaderLine("Subject:  " + message_.Subject());
  if (message_.Encoding() == TMsgEncoding::meMIME) WriteHeaderLine("Mime-Version: 1.0");
}

void TmsCustomEncoder::WriteTextPartHeaders() {
  if (message_.CharSet() == TCharSet::csISO8859) {
    WriteLine("Content-Type: text/plain; charset=\"iso-8859-1\"");
    WriteLine("Content-Transfer-Encoding: quoted-printable");
    return;
  }
  WriteLine("Content-Type: text/plain; charset=\"us-ascii\"");
  WriteLine(long_lines_ ? "Content-Transfer-Encoding: quoted-printable"
                        : "Content-Transfer-Encoding: 7bit");
}

void TmsCustomEncoder::EncodeBodyText(TStringList& lines) {
  if (message_.CharSet() == TCharSet::csISO8859 || long_lines_) {
    lines = QuotedPrintableLines(TextOfLines(message_.Body()));
  } else {
    lines = message_.Body();
  }
}

void TmsCustomEncoder::WritePlainBody() {
  WriteTextPartHeaders();
  WriteLine("");
  TStringList lines;
  EncodeBodyText(lines);
  WriteLines(lines);
}

void TmsCustomEncoder::WriteRichBody() {
  const bool html = LowerCase(GetMediaType(message_.ContentType())) == "text/html";
  std::string type_line = html ? "Content-Type: text/html" : "Content-Type: text/rtf";
  if (message_.CharSet() == TCharSet::csISO8859) type_line += "; charset=\"iso-8859-1\"";
  WriteLine(type_line);
  WriteLine("Content-Transfer-Encoding: quoted-printable");
  WriteLine("");
  TStringList encoded = QuotedPrintableLines(TextOfLines(message_.Body()));
  message_.SetBody(encoded);
  WriteLines(encoded);
}

void TmsCustomEncoder::WriteSinglePart() {
  const TmsAttItem& item = message_.Attachments().Items(0);
  const bool only_one = message_.Attachments().Count() == 1;
  const std::string lower_name = LowerBareName(item);
  const bool html = only_one && lower_name == kHtmlBodyName;
  const bool rtf = only_one && lower_name == kRtfBodyName;
  if (html || rtf) {
    WriteLine(html ? "Content-Type: text/html" : "Content-Type: text/rtf");
  } else {
    WriteHeaderLine("Content-Type: " + item.ContentType() + "; name=" + Quoted(BareName(item)));
  }
  WriteLine(std::string("Content-Transfer-Encoding: ") + AttEncodingName(item.TransferEncoding()));
  if (!html && !rtf) {
    WriteHeaderLine("Content-Disposition: attachment; filename=" + Quoted(BareName(item)));
  }
  WriteLine("");
  EncodeAttachment(item);
}

void TmsCustomEncoder::EncodeAttachment(const TmsAttItem& item) {
  const std::string& data = item.Data().Data();
  switch (item.TransferEncoding()) {
    case TAttEncoding::aeBase64: {
      // Ends after the first chunk shorter than 57 bytes, so a size that is
      // a multiple of 57 ends with an empty line.
      std::size_t offset = 0;
      std::size_t chunk = 0;
      do {
        chunk = std::min(kBase64BytesPerLine, data.size() - offset);
        WriteLine(Base64EncodeBytes(std::string_view(data).substr(offset, chunk)));
        offset += chunk;
      } while (chunk == kBase64BytesPerLine);
      break;
    }
    case TAttEncoding::aeQuotedPrintable:
      WriteLines(QuotedPrintableLines(data));
      break;
    case TAttEncoding::aeSevenBit: {
      TStringList lines;
      lines.SetText(data);
      WriteLines(lines);
      break;
    }
  }
}

void TmsCustomEncoder::WriteMultipart(bool alternative) {
  const TmsAttList& attachments = message_.Attachments();
  const bool body_empty = message_.Body().empty();
  const std::string first_name = attachments.Count() > 0 ? LowerBareName(attachments.Items(0)) : "";
  bool rich_first = body_empty && (first_name == kHtmlBodyName || first_name == kRtfBodyName);

  std::string boundary = MakeBoundary();
  WriteHeaderLine("Content-Type: " + message_.ContentType() + "; boundary=" + Quoted(boundary));
  WriteLine("");
  WriteLine(MailText(kMultipartPreambleText));
  WriteLine("");
  WriteLine("--" + boundary);

  std::string outer_boundary;
  bool nested = false;
  if (!alternative && attachments.Count() > 0 && IsAlternativePart(attachments.Items(0))) {
    outer_boundary = boundary;
    while (boundary == outer_boundary) boundary = MakeBoundary();
    WriteLine("Content-Type:  multipart/alternative; boundary=" + Quoted(boundary));
    WriteLine("Content-Transfer-Encoding: 7bit");
    WriteLine("");
    WriteLine("--" + boundary);
    nested = true;
  }
  if (!body_empty) {
    WriteTextPartHeaders();
    WriteLine("");
    TStringList lines;
    EncodeBodyText(lines);
    WriteLines(lines);
    WriteLine("--" + boundary);
  }
  for (int i = 0; i < attachments.Count(); ++i) {
    if (i > 0) {
      WriteLine("--" + boundary);
      rich_first = false;
    }
    WriteMultipartItem(i, alternative || nested || rich_first);
    if (i + 1 == attachments.Count()) {
      WriteLine("--" + boundary + "--");
    } else if (nested && !IsAlternativePart(attachments.Items(i + 1))) {
      WriteLine("--" + boundary + "--");
      boundary = outer_boundary;
      nested = false;
    }
  }
}

void TmsCustomEncoder::WriteMultipartItem(int index, bool plain_form) {
  const TmsAttItem& item = message_.Attachments().Items(index);
  if (plain_form) {
    WriteHeaderLine("Content-Type: " + item.ContentType());
  } else {
    WriteHeaderLine("Content-Type: " + item.ContentType() + "; name=" + Quoted(BareName(item)));
  }
  WriteLine(std::string("Content-Transfer-Encoding: ") + AttEncodingName(item.TransferEncoding()));
  if (!plain_form) {
    WriteHeaderLine("Content-Disposition: attachment; filename=" + Quoted(BareName(item)));
  }
  WriteLine("");
  EncodeAttachment(item);
  WriteLine("");
}

void TmsCustomEncoder::WriteUUBody() {
  WriteLine("");
  WriteLines(message_.Body());
  const TmsAttList& attachments = message_.Attachments();
  for (int i = 0; i < attachments.Count(); ++i) {
    const TmsAttItem& item = attachments.Items(i);
    WriteLine("");
    WriteHeaderLine("begin 600 " + BareName(item));
    const std::string& data = item.Data().Data();
    std::size_t offset = 0;
    std::size_t chunk = 0;
    do {
      chunk = std::min(kUUBytesPerLine, data.size() - offset);
      WriteLine(UUEncodeBytes(std::string_view(data).substr(offset, chunk)));
      offset += chunk;
    } while (chunk == kUUBytesPerLine);
    WriteLine("`");
    WriteLine("end");
  }
}

void TmsMessageEncoder::WriteHeaders() {
  WriteSenderLine(true);
  WriteAddressList("To", message_.Recipients());
  WriteAddressList("CC", message_.CC());
  if (message_.ReturnReceipt()) {
    WriteHeaderLine("Return-Receipt-To: <" + message_.Sender().Address() + ">");
  }
  if (message_.Priority() == TPriority::ptHigh) WriteLine("X-Priority: 1");
  if (message_.Priority() == TPriority::ptLow) WriteLine("X-Priority: 5");
  RemoveGeneratedHeaders();
  WriteStoredHeaders();
  WriteSubjectAndMimeLines();
}

void TmsArticleEncoder::WriteHeaders() {
  WriteSenderLine(false);
  WriteHeaderLine("Newsgroups: " + article_.NewsGroups());
  RemoveGeneratedHeaders();
  WriteStoredHeaders();
  WriteSubjectAndMimeLines();
}

}  // namespace quillon
