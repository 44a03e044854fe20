#include "mail/mail_address.h"

#include "platform/text.h"

namespace quillon {

namespace {

TMailAddressEditor& InstalledEditor() {
  static TMailAddressEditor editor;
  return editor;
}

}  // namespace

void SetMailAddressEditor(TMailAddressEditor editor) {
  InstalledEditor() = std::move(editor);
}

bool TmsMailAddress::Edit() {
  const TMailAddressEditor& editor = InstalledEditor();
  if (!editor) return false;
  std::string name = name_;
  std::string address = address_;
  if (!editor(name, address)) return false;
  SetName(std::move(name));
  SetAddress(std::move(address));
  return true;
}

void TmsMailAddress::SetName(std::string name) { name_ = Cut(name); }

void TmsMailAddress::SetAddress(std::string address) { address_ = Cut(address); }

void TmsMailAddress::Assign(const TmsMailAddress& source) {
  name_ = source.name_;
  address_ = source.address_;
}

void TmsMailAddress::Clear() {
  name_.clear();
  address_.clear();
}

int TmsAddressList::Add(std::unique_ptr<TmsMailAddress> address) {
  items_.push_back(std::move(address));
  return Count() - 1;
}

int TmsAddressList::AddAddress(const std::string& address, const std::string& name) {
  return Add(std::make_unique<TmsMailAddress>(address, name));
}

void TmsAddressList::Assign(const TmsAddressList& source) {
  if (&source == this) return;
  items_.clear();
  items_.reserve(source.items_.size());
  for (const auto& item : source.items_) {
    items_.push_back(std::make_unique<TmsMailAddress>(*item));
  }
}

}  // namespace quillon
