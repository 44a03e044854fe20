// The in-memory mail message (TmsMessage) and news article (TmsArticle):
// sender, recipients, subject, header lines, body text and attachments.
#pragma once

#include <string>

#include "mail/attachment.h"
#include "mail/headers.h"
#include "mail/mail_address.h"
#include "platform/streams.h"
#include "platform/string_list.h"

namespace quillon {

enum class TMsgEncoding : unsigned char { meMIME, meUU };
enum class TCharSet : unsigned char { csUSASCII, csISO8859 };
enum class TPriority : unsigned char { ptLow, ptNormal, ptHigh };

class TmsCustomMessage {
 public:
  TmsCustomMessage() = default;
  virtual ~TmsCustomMessage() = default;
  TmsCustomMessage(const TmsCustomMessage&) = delete;
  TmsCustomMessage& operator=(const TmsCustomMessage&) = delete;

  TmsAttList& Attachments() { return attachments_; }
  const TmsAttList& Attachments() const { return attachments_; }
  // Copies the items; the stored content type becomes "text/plain" for an
  // empty list, else "multipart/mixed".
  void SetAttachments(const TmsAttList& attachments);

  // Computed from the encoding, the body and the attachments (and stored).
  std::string ContentType() const;
  void SetContentType(const std::string& content_type);

  TMsgEncoding Encoding() const { return encoding_; }
  void SetEncoding(TMsgEncoding encoding) { encoding_ = encoding; }
  TmsMailAddress& Sender() { return sender_; }
  const TmsMailAddress& Sender() const { return sender_; }
  const std::string& Subject() const { return subject_; }
  void SetSubject(const std::string& subject);
  TCharSet CharSet() const { return char_set_; }
  void SetCharSet(TCharSet char_set) { char_set_ = char_set; }
  TmsHeaders& Headers() { return headers_; }
  const TmsHeaders& Headers() const { return headers_; }
  void SetHeaders(const TStringList& headers);
  TStringList& Body() { return body_; }
  const TStringList& Body() const { return body_; }
  void SetBody(const TStringList& body) { body_.assign(body.begin(), body.end()); }
  int Tag() const { return tag_; }
  void SetTag(int tag) { tag_ = tag; }

  // Throws EMessageError when sending would fail.
  virtual void Validate() const;
  // Writes the message as Internet message text (CR LF line ends).
  virtual void SaveToStream(TStream& stream) = 0;
  // Decodes a raw message into this object (not cleared first).
  virtual void LoadFromStream(TStream& stream) = 0;
  virtual void Clear();
  // Sets the typed properties from a header block and copies it.
  virtual void AssignHeaders(const TmsHeaders& headers) = 0;
  virtual void Assign(const TmsCustomMessage& source);

  void SaveToFile(const std::string& file_name);
  void LoadFromFile(const std::string& file_name);
  // Writes attachment `index` as a new file in `directory` under its file
  // name without any directory part; an unusable name becomes
  // "att.<index>". A name already taken (by a file, directory or link) is
  // never written through: "name(1).ext", "name(2).ext", ... up to
  // kMaxAttachmentCopies are tried instead. Returns the path written; file
  // errors (such as a missing directory) propagate as std::system_error.
  std::string SaveAttachment(int index, const std::string& directory) const;
  static constexpr int kMaxAttachmentCopies = 999;

 protected:
  void AssignCommon(const TmsCustomMessage& source);

 private:
  TmsAttList attachments_;
  mutable std::string content_type_ = "text/plain";
  TMsgEncoding encoding_ = TMsgEncoding::meMIME;
  TmsMailAddress sender_;
  std::string subject_;
  TCharSet char_set_ = TCharSet::csUSASCII;
  TmsHeaders headers_;
  TStringList body_;
  int tag_ = 0;
};

class TmsMessage : public TmsCustomMessage {
 public:
  TmsAddressList& Recipients() { return recipients_; }
  const TmsAddressList& Recipients() const { return recipients_; }
  void SetRecipients(const TmsAddressList& list) { recipients_.Assign(list); }
  bool ReturnReceipt() const { return return_receipt_; }
  void SetReturnReceipt(bool value) { return_receipt_ = value; }
  TPriority Priority() const { return priority_; }
  void SetPriority(TPriority priority) { priority_ = priority; }
  TmsAddressList& CC() { return cc_; }
  const TmsAddressList& CC() const { return cc_; }
  void SetCC(const TmsAddressList& list) { cc_.Assign(list); }
  TmsAddressList& BCC() { return bcc_; }
  const TmsAddressList& BCC() const { return bcc_; }
  void SetBCC(const TmsAddressList& list) { bcc_.Assign(list); }

  void Validate() const override;
  void SaveToStream(TStream& stream) override;
  void LoadFromStream(TStream& stream) override;
  void Clear() override;
  void AssignHeaders(const TmsHeaders& headers) override;
  void Assign(const TmsCustomMessage& source) override;

 private:
  TmsAddressList recipients_;
  bool return_receipt_ = false;
  TPriority priority_ = TPriority::ptNormal;
  TmsAddressList cc_;
  TmsAddressList bcc_;
};

class TmsArticle : public TmsCustomMessage {
 public:
  const std::string& NewsGroups() const { return news_groups_; }
  void SetNewsGroups(const std::string& groups) { news_groups_ = groups; }
  const std::string& MessageID() const { return message_id_; }
  const std::string& Path() const { return path_; }

  void Validate() const override;
  void SaveToStream(TStream& stream) override;
  void LoadFromStream(TStream& stream) override;
  void Clear() override;
  void AssignHeaders(const TmsHeaders& headers) override;
  void Assign(const TmsCustomMessage& source) override;

 private:
  std::string news_groups_;
  std::string message_id_;
  std::string path_;
};

}  // namespace quillon
