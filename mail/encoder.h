// Writes a TmsMessage or TmsArticle as Internet message text: the header
// block, then a MIME body (plain, HTML/RTF, single attachment, multipart
// with a nested alternative) or a plain body followed by uuencoded files.
#pragma once

#include <string>

#include "mail/attachment.h"
#include "mail/message.h"
#include "platform/streams.h"
#include "platform/string_list.h"

namespace quillon {

class TmsCustomEncoder {
 public:
  // Notes whether some body line is 256 characters or longer and doubles
  // every body line that is exactly "." in the message itself.
  explicit TmsCustomEncoder(TmsCustomMessage& message);
  virtual ~TmsCustomEncoder() = default;
  TmsCustomEncoder(const TmsCustomEncoder&) = delete;
  TmsCustomEncoder& operator=(const TmsCustomEncoder&) = delete;

  void SetStream(TStream* stream) { stream_ = stream; }
  // Writes from position 0 of the stream.
  void Encode();

  // An eight-character boundary of digits 0 to 8.
  static std::string MakeBoundary();

 protected:
  virtual void WriteHeaders() = 0;
  // S and CR LF.
  void WriteLine(const std::string& line);
  // A header line: CR and LF from decoded values become blanks, so no value
  // can start a header line of its own.
  void WriteHeaderLine(const std::string& line);
  // "From:     Name <address>", the name quoted when it holds a "." and
  // quote_name is set.
  void WriteSenderLine(bool quote_name);
  void WriteAddressList(const char* label, const TmsAddressList& list);
  void RemoveGeneratedHeaders();
  void WriteStoredHeaders();
  void WriteSubjectAndMimeLines();
  TmsCustomMessage& Message() { return message_; }

 private:
  void WritePlainBody();
  void WriteTextPartHeaders();
  void EncodeBodyText(TStringList& lines);
  void WriteRichBody();
  void WriteSinglePart();
  void EncodeAttachment(const TmsAttItem& item);
  void WriteMultipart(bool alternative);
  void WriteMultipartItem(int index, bool plain_form);
  void WriteUUBody();
  void WriteLines(const TStringList& lines);

  TmsCustomMessage& message_;
  TStream* stream_ = nullptr;
  bool long_lines_ = false;
  std::string buffer_;  // output collected before each write to the stream
};

class TmsMessageEncoder : public TmsCustomEncoder {
 public:
  explicit TmsMessageEncoder(TmsMessage& message)
      : TmsCustomEncoder(message), message_(message) {}

 protected:
  void WriteHeaders() override;

 private:
  TmsMessage& message_;
};

class TmsArticleEncoder : public TmsCustomEncoder {
 public:
  explicit TmsArticleEncoder(TmsArticle& article)
      : TmsCustomEncoder(article), article_(article) {}

 protected:
  void WriteHeaders() override;

 private:
  TmsArticle& article_;
};

}  // namespace quillon
