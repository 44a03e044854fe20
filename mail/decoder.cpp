#include "mail/decoder.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "mail/base64.h"
#include "mail/header_values.h"
#include "mail/mail_errors.h"
#include "mail/pump_throttle.h"
#include "mail/quoted_printable.h"
#include "mail/uuencode.h"
#include "platform/text.h"

namespace quillon {

namespace {

constexpr char kCRLF[] = "\r\n";
constexpr char kOriginalFileName[] = "original.eml";
constexpr char kErrorIntroLine[] =
    "The following error has been occured while processing the message:";
constexpr char kErrorOutroLine[] = "The original message will be stored as an attachment";

bool Contains(const std::string& text, const char* part) {
  return text.find(part) != std::string::npos;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  // The first byte alone rules out nearly every data line.
  if (prefix.empty()) return true;
  return !text.empty() && text[0] == prefix[0] && text.starts_with(prefix);
}

// A delimiter line may carry trailing blanks or tabs (RFC 2046 transport
// padding).
bool IsDelimiter(const std::string& line, const std::string& delimiter) {
  return StartsWith(line, delimiter) &&
         line.find_first_not_of(" \t", delimiter.size()) == std::string::npos;
}

// Quoted-printable text of a list, decoded back into lines.
void DecodeQPLines(TStringList& lines) {
  TMemoryStream decoded;
  TQuotedPrintable(decoded, lines).Decode();
  lines.SetText(decoded.Data());
}

bool EndsWithCRLF(const std::string& data) {
  return data.size() >= 2 && data.compare(data.size() - 2, 2, kCRLF) == 0;
}

// A quoted-printable line that adds a line break when decoded.
bool IsHardLineEnd(const std::string& line) {
  return line.empty() || (line.back() != '=' && line.back() != '\x1a');
}

// The POP3 terminator line is not part of the data it follows.
void DropTerminator(TStringList& lines, bool end_of_data) {
  if (end_of_data && !lines.empty() && lines.back() == ".") lines.pop_back();
}

// Gives `lines` the decoder's own copy of the raw message. A file is opened
// again and read in blocks (nothing is copied); anything else is copied
// into `lines` itself. `stream` is left at its end, as by a copy.
void TakeCopy(TStream& stream, TLineStream& lines) {
  if (auto reader = stream.OpenReader()) {
    stream.Seek(0, TStream::Origin::kEnd);
    lines.ReadFrom(std::move(reader));
    return;
  }
  lines.Reserve(stream.Size());
  lines.CopyFrom(stream, 0);
  lines.Reset();
}

}  // namespace

TmsCustomDecoder::TmsCustomDecoder(TStream& stream, TmsCustomMessage& message)
    : message_(message) {
  TakeCopy(stream, lines_);
}

bool TmsCustomDecoder::NextLine(std::string& line) {
  if (pending_line_) {
    line = std::move(*pending_line_);
    pending_line_.reset();
    return true;
  }
  ProcessMessagesThrottled();
  lines_.NextLine(line);
  return !lines_.EndOfData();
}

bool TmsCustomDecoder::NextLineView(std::string_view& line) {
  if (pending_line_) {
    held_line_ = std::move(*pending_line_);
    pending_line_.reset();
    line = held_line_;
    return true;
  }
  ProcessMessagesThrottled();
  lines_.NextLineView(line);
  return !lines_.EndOfData();
}

std::string TmsCustomDecoder::NextAttachmentName(const char* prefix) const {
  return prefix + std::to_string(message_.Attachments().Count());
}

void TmsCustomDecoder::ReadHeaders(TmsHeaders& list) {
  list.clear();
  std::string line;
  while (NextLine(line) && !line.empty() && line != TLineStream::EndMarker()) {
    list.push_back(line);
  }
  if (line == TLineStream::EndMarker() && !lines_.EndOfData()) {
    throw EMessageParserError(kUnableToRetrieveHeadersText);
  }
}

void TmsCustomDecoder::Decode() {
  try {
    ReadHeaders(message_headers_);
    HeadersParsed();
    if (message_headers_.GetFieldValue("MIME-VERSION") == "1.0") {
      DecodeMime();
    } else {
      DecodePlainBody();
    }
  } catch (const EMessageParserError& error) {
    StoreOriginal(error.what());
  }
  StripTerminator();
}

// A part's header block ends at an empty line, and also at a line that
// cannot be a header (no colon, no leading blank) or at a delimiter: that
// line is the part's data (or its end) and is read again, not lost.
void TmsCustomDecoder::ReadPartHeaders() {
  part_headers_.clear();
  std::string line;
  while (NextLine(line) && !line.empty()) {
    const bool continuation = line[0] == ' ' || line[0] == '\t';
    const bool delimiter = StartsWith(line, boundary_);
    if (delimiter || (!continuation && line.find(':') == std::string::npos)) {
      pending_line_ = std::move(line);
      return;
    }
    part_headers_.push_back(line);
  }
}

void TmsCustomDecoder::DecodeMime() {
  if (message_headers_.GetFieldValue("X-Mailer") == "V Mailsystem R #0001") {
    message_headers_.DeleteField("Content-Type");
  }
  const std::string content_type = message_headers_.GetFieldValue("Content-Type");
  const std::string type = LowerCase(content_type);
  if (Contains(type, "multipart/alternative")) {
    alternative_message_ = true;
    DecodeMultipart();
  } else if (Contains(type, "multipart")) {
    DecodeMultipart();
  } else if (!type.empty() && !Contains(type, "text/")) {
    DecodeSinglePart();
  } else {
    std::string name = GetParamValue("name", content_type);
    if (name.empty() || name == "cc:Mail") {
      DecodeTextBody();
    } else {
      DecodeSinglePart();
    }
  }
}

void TmsCustomDecoder::DecodeTextBody() {
  const std::string media_type =
      LowerCase(GetMediaType(message_headers_.GetFieldValue("Content-Type")));
  if (media_type == "text/html" || media_type == "text/rtf") {
    message_.SetContentType(media_type);
  }
  const std::string encoding =
      LowerCase(message_headers_.GetFieldValue("Content-Transfer-Encoding"));
  TStringList& body = message_.Body();
  body.clear();
  if (encoding == "quoted-printable") message_.SetCharSet(TCharSet::csISO8859);
  if (encoding == "base64") {
    DecodeBase64TextBody();
    return;
  }
  std::string line;
  while (NextLine(line)) {
    body.push_back(line);
    if (!IsUUBegin(line)) continue;
    // A uuencoded file inside a text body: read the message as plain text.
    lines_.Reset();
    pending_line_.reset();
    body.clear();
    TmsHeaders skipped;
    ReadHeaders(skipped);
    DecodePlainBody();
    return;
  }
  if (encoding == "quoted-printable") DecodeQPLines(body);
}

void TmsCustomDecoder::DecodeBase64TextBody() {
  std::string decoded;
  std::string line;
  while (NextLine(line) && line != ".") {
    if (line.empty()) continue;
    try {
      Base64DecodeAppend(line, decoded);
    } catch (const ECodecError&) {
      // Keeps the message (as "original.eml") rather than refusing it.
      throw EMessageParserError(kAttachmentDecodingText);
    }
  }
  message_.Body().SetText(decoded);
}

void TmsCustomDecoder::DecodePlainBody() {
  std::string line;
  while (NextLine(line)) {
    if (IsUUBegin(line)) {
      message_.SetEncoding(TMsgEncoding::meUU);
      DropSeparatorLine();
      ExtractUUFiles(line);
      return;
    }
    message_.Body().push_back(line);
  }
}

// The empty line before a "begin" line separates the file from the text
// (the encoder writes one); it is not body text.
void TmsCustomDecoder::DropSeparatorLine() {
  TStringList& body = message_.Body();
  if (!body.empty() && body.back().empty()) body.pop_back();
}

void TmsCustomDecoder::ExtractUUFiles(std::string begin_line) {
  while (true) {
    auto item = std::make_unique<TmsAttItem>();
    std::string name = UUFileName(begin_line);
    item->SetFileName(name.empty() ? NextAttachmentName("att.") : name);
    bool ended_at_grave_accent = false;
    try {
      ended_at_grave_accent = ReadUUFile(*item);
    } catch (const std::exception&) {
      throw EMessageParserError(kAttachmentDecodingText);
    }
    message_.Attachments().Add(std::move(item));
    // Text between and after the files stays in the body (but not the
    // "end" that follows the grave accent line).
    std::string line;
    bool found_begin = false;
    bool first = true;
    while (!found_begin && NextLine(line)) {
      found_begin = IsUUBegin(line);
      bool end_word = first && ended_at_grave_accent && UpperCase(line) == "END";
      first = false;
      if (!found_begin && !end_word) message_.Body().push_back(line);
    }
    if (!found_begin) return;
    DropSeparatorLine();
    begin_line = line;
  }
}

// True when the file ended at a grave accent line (an "end" line follows).
bool TmsCustomDecoder::ReadUUFile(TmsAttItem& item) {
  std::string data;
  std::string line;
  while (NextLine(line) && line != "`" && UpperCase(line) != "END") {
    if (!line.empty()) UUDecodeAppend(line, data);
  }
  item.Data().Write(data);
  item.Data().SetPosition(0);
  return line == "`";
}

void TmsCustomDecoder::DecodeSinglePart() {
  const std::string content_type = message_headers_.GetFieldValue("Content-type");
  if (content_type.empty()) throw EMessageParserError(kMissingContentTypeText);
  auto item = std::make_unique<TmsAttItem>();
  std::string name = GetParamValue("name", content_type);
  if (name.empty()) {
    name = GetParamValue("filename", message_headers_.GetFieldValue("Content-Disposition"));
  }
  item->SetFileName(name.empty() ? NextAttachmentName("att.") : name);
  item->SetContentType(GetMediaType(content_type));
  const std::string encoding =
      LowerCase(message_headers_.GetFieldValue("Content-Transfer-Encoding"));
  PartEncoding part_encoding = encoding == "base64"               ? PartEncoding::kBase64
                               : StartsWith(encoding, "x-uue")    ? PartEncoding::kUUEncode
                               : encoding == "quoted-printable"   ? PartEncoding::kQuotedPrintable
                                                                  : PartEncoding::kSevenBit;
  item->SetTransferEncoding(part_encoding == PartEncoding::kQuotedPrintable
                                ? TAttEncoding::aeQuotedPrintable
                            : part_encoding == PartEncoding::kSevenBit ? TAttEncoding::aeSevenBit
                                                                       : TAttEncoding::aeBase64);
  try {
    std::string end_line;
    ReadPartData(*item, part_encoding, end_line);
  } catch (const EMessageParserError&) {
    throw;
  } catch (const std::exception&) {
    throw EMessageParserError(kAttachmentDecodingText);
  }
  message_.Attachments().Add(std::move(item));
}

// Reads part data up to a line beginning with the boundary (multipart) or
// the end of data; `end_line` gets the line that ended it.
void TmsCustomDecoder::ReadPartData(TmsAttItem& item, PartEncoding encoding,
                                    std::string& end_line) {
  if (encoding == PartEncoding::kBase64 || encoding == PartEncoding::kUUEncode) {
    ReadBinaryPartData(item, encoding, end_line);
  } else {
    ReadTextPartData(item, encoding, end_line);
  }
  item.Data().SetPosition(0);
}

void TmsCustomDecoder::ReadBinaryPartData(TmsAttItem& item, PartEncoding encoding,
                                          std::string& end_line) {
  const bool bounded = !boundary_.empty();
  // Decoded bytes go to the item in chunks. Once a part proves large, the
  // item gets room for the rest of it at once (decoded data take at most
  // three quarters of their lines), so that it does not grow, and copy
  // itself, chunk by chunk. The room is only a guess: the data may still
  // grow past it.
  constexpr std::size_t kChunk = 64 * 1024;
  TMemoryStream& data = item.Data();
  bool room_made = false;
  std::string chunk;
  chunk.reserve(kChunk + 256);
  std::string_view line;
  while (NextLineView(line) && !(bounded && StartsWith(line, boundary_))) {
    if (!bounded && line == ".") break;  // the POP3 terminator
    if (line.empty()) continue;
    if (encoding == PartEncoding::kBase64) {
      Base64DecodeAppend(line, chunk);
    } else if (!IsUUBegin(line) && line != "`" && line != "end") {
      UUDecodeAppend(line, chunk);
    }
    if (chunk.size() >= kChunk) {
      if (!room_made) {
        data.Reserve(data.Size() + static_cast<std::int64_t>(chunk.size()) +
                     RawBytesToBoundary() / 4 * 3 + 3);
        room_made = true;
      }
      data.Write(chunk);
      chunk.clear();
    }
  }
  data.Write(chunk);
  end_line.assign(line);
}

std::int64_t TmsCustomDecoder::RawBytesToBoundary() { return lines_.BytesBefore(boundary_); }

void TmsCustomDecoder::ReadTextPartData(TmsAttItem& item, PartEncoding encoding,
                                        std::string& end_line) {
  const bool bounded = !boundary_.empty();
  TStringList collected;
  std::string& line = end_line;
  while (NextLine(line) && !(bounded && StartsWith(line, boundary_))) collected.push_back(line);
  if (!bounded) DropTerminator(collected, lines_.EndOfData());
  // The line break before a delimiter belongs to the delimiter (RFC 2046),
  // not to the data: without this each forward would add one.
  const bool delimited = bounded && !lines_.EndOfData() && !collected.empty();
  TMemoryStream& data = item.Data();
  if (encoding == PartEncoding::kQuotedPrintable) {
    TQuotedPrintable(data, collected).Decode();
    if (delimited && EndsWithCRLF(data.Data()) && IsHardLineEnd(collected.back())) {
      data.SetSize(data.Size() - 2);
    }
    return;
  }
  for (const std::string& text : collected) {
    data.Write(text);
    data.Write(kCRLF, 2);
  }
  if (delimited) data.SetSize(data.Size() - 2);
}

void TmsCustomDecoder::DecodeMultipart() {
  boundary_ = "--" + GetParamValue("Boundary", message_headers_.GetFieldValue("Content-Type"));
  std::string line;
  while (true) {
    if (!NextLine(line)) throw EMessageParserError(kBoundaryNotFoundText);
    if (IsDelimiter(line, boundary_)) break;
  }
  DecodeFirstPart();
  DecodeParts();
}

void TmsCustomDecoder::DecodeFirstPart() {
  ReadPartHeaders();
  const std::string part_type = part_headers_.GetFieldValue("Content-Type");
  if (Contains(LowerCase(part_type), "multipart/alternative")) {
    in_alternative_ = true;
    outer_boundary_ = boundary_;
    boundary_ = "--" + GetParamValue("boundary", part_type);
    std::string line;
    while (true) {
      if (!NextLine(line)) throw EMessageParserError(kBoundaryNotFoundText);
      if (IsDelimiter(line, boundary_)) break;
    }
    ReadPartHeaders();
  }
  const std::string encoding =
      LowerCase(part_headers_.GetFieldValue("Content-Transfer-Encoding"));
  if (encoding == "base64") return;  // left to DecodeParts as an attachment
  if (encoding == "quoted-printable") message_.SetCharSet(TCharSet::csISO8859);
  const bool closed = ReadFirstPartBody();
  if (encoding == "quoted-printable") DecodeQPLines(message_.Body());
  if (!closed) return;
  if (in_alternative_) {
    // The alternative held only this part: go on with the outer parts.
    CloseAlternative();
    return;
  }
  message_.SetContentType(part_headers_.GetFieldValue("Content-Type"));
  std::string line;
  while (NextLine(line)) {
  }
}

// The first part's lines into Body; true when the closing delimiter ended
// them, false at a delimiter. The end of data raises 57110.
bool TmsCustomDecoder::ReadFirstPartBody() {
  TStringList& body = message_.Body();
  body.clear();
  const std::string closing = boundary_ + "--";
  std::string line;
  bool closed = false;
  while (NextLine(line)) {
    if (IsDelimiter(line, boundary_)) break;
    if (IsDelimiter(line, closing)) {
      closed = true;
      break;
    }
    body.push_back(line);
  }
  if (body.empty()) body.push_back("");
  if (lines_.EndOfData()) throw EMessageParserError(kBoundaryNotFoundText);
  return closed;
}

// Leaves a nested alternative: skips to the next outer delimiter and ends
// the data there when it is the outer closing one.
void TmsCustomDecoder::CloseAlternative() {
  in_alternative_ = false;
  boundary_ = outer_boundary_;
  std::string line;
  while (true) {
    if (!NextLine(line)) throw EMessageParserError(kClosingBoundaryNotFoundText);
    if (StartsWith(line, boundary_)) break;
  }
  if (IsDelimiter(line, boundary_ + "--")) {
    while (NextLine(line)) {
    }
  }
}

void TmsCustomDecoder::DecodeParts() {
  while (!lines_.EndOfData() && DecodeNextPart()) {
  }
}

std::unique_ptr<TmsAttItem> TmsCustomDecoder::NewPartItem() {
  auto item = std::make_unique<TmsAttItem>();
  std::string content_type = part_headers_.GetFieldValue("Content-type");
  if (content_type.empty()) content_type = "text/plain";
  item->SetContentType(GetMediaType(content_type));
  const std::string encoding =
      LowerCase(part_headers_.GetFieldValue("Content-Transfer-Encoding"));
  TAttEncoding transfer_encoding =
      encoding == "base64" || StartsWith(encoding, "x-uue") ? TAttEncoding::aeBase64
      : encoding == "quoted-printable"                      ? TAttEncoding::aeQuotedPrintable
                                                            : TAttEncoding::aeSevenBit;
  std::string name = GetParamValue("name", content_type);
  if (name.empty()) {
    name = GetParamValue("filename", part_headers_.GetFieldValue("Content-Disposition"));
  }
  if (!name.empty()) {
    item->SetFileName(name);
  } else {
    const std::string media_type = item->ContentType();
    const bool alternative = in_alternative_ || alternative_message_;
    item->SetFileName(NextAttachmentName(alternative ? "_alt." : "att."));
    item->SetContentType(media_type);
  }
  item->SetTransferEncoding(transfer_encoding);
  return item;
}

// One part after the first; false when the data or the level is finished.
bool TmsCustomDecoder::DecodeNextPart() {
  if (!message_.Body().empty() || message_.Attachments().Count() > 0) {
    ReadPartHeaders();
  }
  auto item = NewPartItem();
  const std::string encoding =
      LowerCase(part_headers_.GetFieldValue("Content-Transfer-Encoding"));
  PartEncoding part_encoding =
      StartsWith(encoding, "x-uue") ? PartEncoding::kUUEncode
      : item->TransferEncoding() == TAttEncoding::aeBase64 ? PartEncoding::kBase64
      : item->TransferEncoding() == TAttEncoding::aeQuotedPrintable
          ? PartEncoding::kQuotedPrintable
          : PartEncoding::kSevenBit;
  try {
    std::string end_line;
    ReadPartData(*item, part_encoding, end_line);
    message_.Attachments().Add(std::move(item));
    const bool finished = lines_.EndOfData() || IsDelimiter(end_line, boundary_ + "--");
    if (!finished) return true;
    if (!in_alternative_) return false;
    CloseAlternative();
    return !lines_.EndOfData();
  } catch (const EMessageParserError&) {
    throw;
  } catch (const std::exception&) {
    throw EMessageParserError(kAttachmentDecodingText);
  }
}

void TmsCustomDecoder::StoreOriginal(const std::string& error_text) {
  TStringList& body = message_.Body();
  body.push_back(kErrorIntroLine);
  body.push_back(error_text);
  body.push_back(kErrorOutroLine);
  try {
    auto item = std::make_unique<TmsAttItem>();
    item->SetFileName(kOriginalFileName);
    item->SetContentType("message/rfc822");
    item->SetTransferEncoding(TAttEncoding::aeSevenBit);
    item->Data().Reserve(lines_.RawSize());
    lines_.CopyRawTo(item->Data());
    item->Data().SetPosition(0);
    message_.Attachments().Add(std::move(item));
  } catch (const std::exception&) {
    // Without memory for the copy the error lines are all that is kept.
  }
}

void TmsCustomDecoder::StripTerminator() {
  TStringList& body = message_.Body();
  if (!body.empty() && body.back() == ".") body.pop_back();
}

}  // namespace quillon
