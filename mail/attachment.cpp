#include "mail/attachment.h"

#include "mail/header_values.h"
#include "platform/text.h"

namespace quillon {

const char* AttEncodingName(TAttEncoding encoding) {
  switch (encoding) {
    case TAttEncoding::aeSevenBit:
      return "7 bit";
    case TAttEncoding::aeBase64:
      return "Base64";
    case TAttEncoding::aeQuotedPrintable:
      return "Quoted-Printable";
  }
  return "7 bit";
}

std::string FileNameWithoutDirectory(const std::string& file_name) {
  std::size_t slash = file_name.find_last_of("/\\");
  return slash == std::string::npos ? file_name : file_name.substr(slash + 1);
}

void TmsAttItem::SetFileName(const std::string& file_name) {
  file_name_ = Cut(file_name);
  if (file_name_.empty()) return;
  SetContentType(ContentTypeOfFile(file_name_));
  std::string upper = UpperCase(content_type_);
  if (upper == "TEXT/PLAIN" || upper == "TEXT/RTF" || upper == "TEXT/HTML") {
    transfer_encoding_ = TAttEncoding::aeQuotedPrintable;
  } else if (upper == "MESSAGE/RFC822") {
    transfer_encoding_ = TAttEncoding::aeSevenBit;
  } else {
    transfer_encoding_ = TAttEncoding::aeBase64;
  }
}

void TmsAttItem::SetContentType(const std::string& content_type) {
  content_type_ = Cut(content_type);
}

void TmsAttItem::Assign(const TmsAttItem& source) {
  if (&source == this) return;
  data_.Clear();
  data_.Write(source.data_.Data());
  data_.SetPosition(0);
  content_type_ = source.content_type_;
  transfer_encoding_ = source.transfer_encoding_;
  file_name_ = source.file_name_;
}

int TmsAttList::Add(std::unique_ptr<TmsAttItem> item) {
  items_.push_back(std::move(item));
  return Count() - 1;
}

void TmsAttList::AddFile(const std::string& file_name) {
  auto item = std::make_unique<TmsAttItem>();
  item->SetFileName(file_name);
  item->Data().LoadFromFile(file_name);
  Add(std::move(item));
}

void TmsAttList::Assign(const TmsAttList& source) {
  if (&source == this) return;
  items_.clear();
  items_.reserve(source.items_.size());
  for (const auto& item : source.items_) {
    items_.push_back(std::make_unique<TmsAttItem>(*item));
  }
}

}  // namespace quillon
