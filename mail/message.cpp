#include "mail/message.h"

#include <optional>
#include <system_error>

#include "mail/decoder.h"
#include "mail/encoder.h"
#include "mail/header_values.h"
#include "mail/mail_errors.h"
#include "platform/text.h"

namespace quillon {

namespace {

bool AllAlternativeParts(const TmsAttList& attachments) {
  if (attachments.Count() == 0) return false;
  for (int i = 0; i < attachments.Count(); ++i) {
    std::string name = LowerCase(FileNameWithoutDirectory(attachments.Items(i).FileName()));
    if (name.rfind("_alt.", 0) != 0) return false;
  }
  return true;
}

// A name that cannot leave the directory or confuse a terminal: no
// directory part, not empty, not "." or "..", no control characters.
bool IsSafeFileName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (char c : name) {
    auto byte = static_cast<unsigned char>(c);
    if (byte < 32 || byte == 127) return false;
  }
  return true;
}

// "name(copy).ext" (the number before the last extension); copy 0 is the
// name itself. A leading dot does not start an extension.
std::string NumberedFileName(const std::string& name, int copy) {
  if (copy == 0) return name;
  const std::string number = "(" + std::to_string(copy) + ")";
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0) return name + number;
  return name.substr(0, dot) + number + name.substr(dot);
}

}  // namespace

void TmsCustomMessage::SetAttachments(const TmsAttList& attachments) {
  attachments_.Assign(attachments);
  content_type_ = attachments_.Count() == 0 ? "text/plain" : "multipart/mixed";
}

std::string TmsCustomMessage::ContentType() const {
  const int count = attachments_.Count();
  auto only_name = [&] {
    return LowerCase(FileNameWithoutDirectory(attachments_.Items(0).FileName()));
  };
  std::string result;
  if (encoding_ == TMsgEncoding::meUU) {
    result.clear();
  } else if (AllAlternativeParts(attachments_)) {
    result = "multipart/alternative";
  } else if (count == 1 && body_.empty() && only_name() == "_rtfbody.rtf") {
    result = "text/rtf";
  } else if (count == 1 && body_.empty() && only_name() == "_htmbody.htm") {
    result = "text/html";
  } else if (body_.empty()) {
    result = count == 0   ? "text/plain"
             : count == 1 ? attachments_.Items(0).ContentType()
                          : "multipart/mixed";
  } else if (count > 0) {
    result = "multipart/mixed";
  } else {
    result = content_type_.empty() ? "text/plain" : content_type_;
  }
  content_type_ = result;
  return result;
}

void TmsCustomMessage::SetContentType(const std::string& content_type) {
  content_type_ = Cut(LowerCase(content_type));
}

void TmsCustomMessage::SetSubject(const std::string& subject) { subject_ = Cut(subject); }

void TmsCustomMessage::SetHeaders(const TStringList& headers) {
  headers_.assign(headers.begin(), headers.end());
}

void TmsCustomMessage::Validate() const {
  if (sender_.Address().empty()) throw EMessageError(kSenderRequiredText);
}

void TmsCustomMessage::Clear() {
  body_.clear();
  attachments_.Clear();
  sender_.Clear();
  headers_.clear();
  subject_.clear();
  encoding_ = TMsgEncoding::meMIME;
  char_set_ = TCharSet::csUSASCII;
  content_type_.clear();
}

void TmsCustomMessage::Assign(const TmsCustomMessage& source) { AssignCommon(source); }

void TmsCustomMessage::AssignCommon(const TmsCustomMessage& source) {
  if (&source == this) return;
  sender_.Assign(source.sender_);
  subject_ = source.subject_;
  encoding_ = source.encoding_;
  char_set_ = source.char_set_;
  headers_ = source.headers_;
  body_ = source.body_;
  attachments_.Assign(source.attachments_);
  tag_ = source.tag_;
  content_type_ = source.ContentType();
}

void TmsCustomMessage::SaveToFile(const std::string& file_name) {
  TFileStream file(file_name, TFileStream::Mode::kCreate);
  SaveToStream(file);
  file.Close();
}

void TmsCustomMessage::LoadFromFile(const std::string& file_name) {
  Clear();
  TFileStream file(file_name, TFileStream::Mode::kOpenRead);
  LoadFromStream(file);
}

std::string TmsCustomMessage::SaveAttachment(int index, const std::string& directory) const {
  const TmsAttItem& item = attachments_.Items(index);
  std::string name = FileNameWithoutDirectory(item.FileName());
  if (!IsSafeFileName(name)) name = "att." + std::to_string(index);
  std::string folder = directory;
  if (!folder.empty() && folder.back() != '/') folder.push_back('/');
  for (int copy = 0; copy <= kMaxAttachmentCopies; ++copy) {
    const std::string path = folder + NumberedFileName(name, copy);
    std::optional<TFileStream> file;
    try {
      file.emplace(path, TFileStream::Mode::kCreateNew);
    } catch (const std::system_error& error) {
      if (error.code() != std::errc::file_exists) throw;
      continue;
    }
    file->Write(item.Data().Data());
    return path;
  }
  throw std::system_error(std::make_error_code(std::errc::file_exists),
                          "no free name for " + folder + name);
}

void TmsMessage::Validate() const {
  TmsCustomMessage::Validate();
  for (const TmsAddressList* list : {&recipients_, &cc_, &bcc_}) {
    for (int i = 0; i < list->Count(); ++i) {
      if (!list->Items(i).Address().empty()) return;
    }
  }
  throw EMessageError(kRecipientRequiredText);
}

void TmsMessage::SaveToStream(TStream& stream) {
  TmsMessageEncoder encoder(*this);
  encoder.SetStream(&stream);
  encoder.Encode();
}

void TmsMessage::LoadFromStream(TStream& stream) {
  TmsMessageDecoder decoder(stream, *this);
  decoder.Decode();
}

void TmsMessage::Clear() {
  TmsCustomMessage::Clear();
  recipients_.Clear();
  cc_.Clear();
  bcc_.Clear();
}

void TmsMessage::AssignHeaders(const TmsHeaders& headers) {
  ParseAddress(headers.GetFieldValue("FROM"), Sender());
  // With the colon, so that fields such as "Tone:" are not read as "To".
  const std::pair<const char*, TmsAddressList*> lists[] = {
      {"TO:", &recipients_}, {"CC:", &cc_}, {"BCC:", &bcc_}};
  for (const auto& [field, list] : lists) {
    TStringList entries;
    headers.GetFieldValues(field, entries);
    for (const std::string& entry : entries) {
      auto address = std::make_unique<TmsMailAddress>();
      ParseAddress(entry, *address);
      list->Add(std::move(address));
    }
  }
  std::string subject = headers.GetFieldValue("Subject");
  if (!subject.empty()) SetSubject(subject);
  std::string priority = headers.GetFieldValue("X-Priority");
  priority_ = priority == "1"   ? TPriority::ptHigh
              : priority == "5" ? TPriority::ptLow
                                : TPriority::ptNormal;
  if (!headers.GetFieldValue("Return-receipt-to").empty()) return_receipt_ = true;
  SetHeaders(headers);
}

void TmsMessage::Assign(const TmsCustomMessage& source) {
  if (&source == this) return;
  if (const auto* message = dynamic_cast<const TmsMessage*>(&source)) {
    recipients_.Assign(message->recipients_);
    cc_.Assign(message->cc_);
    bcc_.Assign(message->bcc_);
    priority_ = message->priority_;
    return_receipt_ = message->return_receipt_;
  }
  AssignCommon(source);
}

void TmsArticle::Validate() const {
  TmsCustomMessage::Validate();
  if (news_groups_.empty()) throw EMessageError(kNewsgroupRequiredText);
  if (Subject().empty()) throw EMessageError(kSubjectRequiredText);
}

void TmsArticle::SaveToStream(TStream& stream) {
  TmsArticleEncoder encoder(*this);
  encoder.SetStream(&stream);
  encoder.Encode();
}

void TmsArticle::LoadFromStream(TStream& stream) {
  TmsArticleDecoder decoder(stream, *this);
  decoder.Decode();
}

void TmsArticle::Clear() {
  TmsCustomMessage::Clear();
  news_groups_.clear();
}

void TmsArticle::AssignHeaders(const TmsHeaders& headers) {
  ParseAddress(headers.GetFieldValue("FROM"), Sender());
  path_ = headers.GetFieldValue("PATH");
  news_groups_ = headers.GetFieldValue("NEWSGROUPS");
  message_id_ = headers.GetFieldValue("MESSAGE-ID");
  std::string subject = headers.GetFieldValue("Subject");
  if (!subject.empty()) SetSubject(subject);
  SetHeaders(headers);
}

void TmsArticle::Assign(const TmsCustomMessage& source) {
  if (&source == this) return;
  if (const auto* article = dynamic_cast<const TmsArticle*>(&source)) {
    news_groups_ = article->news_groups_;
  }
  AssignCommon(source);
}

}  // namespace quillon
