// Turns one raw Internet message (as downloaded, possibly with the POP3
// "." terminator line) into a TmsMessage or TmsArticle. A message that
// cannot be decoded is kept whole as the attachment "original.eml".
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "mail/attachment.h"
#include "mail/headers.h"
#include "mail/line_stream.h"
#include "mail/message.h"
#include "platform/streams.h"

namespace quillon {

class TmsCustomDecoder {
 public:
  // Takes its own copy of the whole of `stream` (from position 0); the
  // stream is not used afterwards.
  TmsCustomDecoder(TStream& stream, TmsCustomMessage& message);
  virtual ~TmsCustomDecoder() = default;
  TmsCustomDecoder(const TmsCustomDecoder&) = delete;
  TmsCustomDecoder& operator=(const TmsCustomDecoder&) = delete;

  // Fills the message; decoding errors end up in its body and attachments.
  void Decode();

 protected:
  // Hands the message header block to the message.
  virtual void HeadersParsed() = 0;
  const TmsHeaders& MessageHeaders() const { return message_headers_; }
  TmsCustomMessage& Message() { return message_; }

 private:
  enum class PartEncoding { kSevenBit, kBase64, kUUEncode, kQuotedPrintable };

  bool NextLine(std::string& line);
  // The same as a view, valid until the next line is read.
  bool NextLineView(std::string_view& line);
  void ReadHeaders(TmsHeaders& list);
  void ReadPartHeaders();
  void DecodeMime();
  void DecodeTextBody();
  void DecodeBase64TextBody();
  void DecodePlainBody();
  void DropSeparatorLine();
  void ExtractUUFiles(std::string begin_line);
  bool ReadUUFile(TmsAttItem& item);
  void DecodeSinglePart();
  void DecodeMultipart();
  void DecodeFirstPart();
  bool ReadFirstPartBody();
  void CloseAlternative();
  void DecodeParts();
  bool DecodeNextPart();
  std::unique_ptr<TmsAttItem> NewPartItem();
  void ReadPartData(TmsAttItem& item, PartEncoding encoding, std::string& end_line);
  void ReadBinaryPartData(TmsAttItem& item, PartEncoding encoding, std::string& end_line);
  // Raw bytes from the next line to the next boundary (or the end).
  std::int64_t RawBytesToBoundary();
  void ReadTextPartData(TmsAttItem& item, PartEncoding encoding, std::string& end_line);
  void StoreOriginal(const std::string& error_text);
  void StripTerminator();
  std::string NextAttachmentName(const char* prefix) const;

  TLineStream lines_;
  std::optional<std::string> pending_line_;  // a line to hand out again
  std::string held_line_;                    // the pending line, viewed
  TmsHeaders message_headers_;
  TmsHeaders part_headers_;
  TmsCustomMessage& message_;
  std::string boundary_;
  bool in_alternative_ = false;
  std::string outer_boundary_;
  bool alternative_message_ = false;
};

class TmsMessageDecoder : public TmsCustomDecoder {
 public:
  TmsMessageDecoder(TStream& stream, TmsMessage& message)
      : TmsCustomDecoder(stream, message), message_(message) {}

 protected:
  void HeadersParsed() override { message_.AssignHeaders(MessageHeaders()); }

 private:
  TmsMessage& message_;
};

class TmsArticleDecoder : public TmsCustomDecoder {
 public:
  TmsArticleDecoder(TStream& stream, TmsArticle& article)
      : TmsCustomDecoder(stream, article), article_(article) {}

 protected:
  void HeadersParsed() override { article_.AssignHeaders(MessageHeaders()); }

 private:
  TmsArticle& article_;
};

}  // namespace quillon
