// One mailbox (display name and address) and an owning list of them.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quillon {

// The modal "Address" form behind TmsMailAddress::Edit: shows `name` and
// `address` for editing and returns true when confirmed (with the edited
// values in place). The program installs its dialog; without one, nothing
// can be edited.
using TMailAddressEditor = std::function<bool(std::string& name, std::string& address)>;
void SetMailAddressEditor(TMailAddressEditor editor);

class TmsMailAddress {
 public:
  TmsMailAddress() = default;
  virtual ~TmsMailAddress() = default;
  TmsMailAddress(const TmsMailAddress&) = default;
  TmsMailAddress& operator=(const TmsMailAddress&) = default;
  TmsMailAddress(std::string address, std::string name) {
    SetAddress(std::move(address));
    SetName(std::move(name));
  }

  // Display name without quotes; cut to 255 characters.
  const std::string& Name() const { return name_; }
  void SetName(std::string name);
  // The address proper without angle brackets; cut to 255 characters.
  const std::string& Address() const { return address_; }
  void SetAddress(std::string address);

  void Assign(const TmsMailAddress& source);
  void Clear();
  // Opens the address form; when it is confirmed, takes the edited name and
  // address and returns true.
  virtual bool Edit();

 private:
  std::string name_;
  std::string address_;
};

class TmsAddressList {
 public:
  TmsAddressList() = default;
  TmsAddressList(const TmsAddressList& other) { Assign(other); }
  TmsAddressList& operator=(const TmsAddressList& other) {
    Assign(other);
    return *this;
  }

  int Count() const { return static_cast<int>(items_.size()); }
  TmsMailAddress& Items(int index) { return *items_.at(static_cast<std::size_t>(index)); }
  const TmsMailAddress& Items(int index) const {
    return *items_.at(static_cast<std::size_t>(index));
  }
  // Takes ownership; returns the new item's index.
  int Add(std::unique_ptr<TmsMailAddress> address);
  int AddAddress(const std::string& address, const std::string& name);
  void Clear() { items_.clear(); }
  void Assign(const TmsAddressList& source);

 private:
  std::vector<std::unique_ptr<TmsMailAddress>> items_;
};

}  // namespace quillon
