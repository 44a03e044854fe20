// What is known of one POP3 message before it is downloaded (size from
// LIST, header lines from TOP), and an owning list of such items.
#pragma once

#include <memory>
#include <vector>

#include "mail/headers.h"

namespace quillon {

class TmsRemoteInfoItem {
 public:
  int Size() const { return size_; }
  void SetSize(int size) { size_ = size; }
  // The header lines as received, one line per entry (continuation lines
  // are entries of their own).
  TmsHeaders& Headers() { return headers_; }
  const TmsHeaders& Headers() const { return headers_; }

 private:
  int size_ = 0;
  TmsHeaders headers_;
};

class TmsRemoteInfo {
 public:
  TmsRemoteInfo() = default;
  ~TmsRemoteInfo() { Clear(); }
  TmsRemoteInfo(const TmsRemoteInfo&) = delete;
  TmsRemoteInfo& operator=(const TmsRemoteInfo&) = delete;

  int Count() const { return static_cast<int>(items_.size()); }
  TmsRemoteInfoItem& Items(int index) { return *items_.at(static_cast<std::size_t>(index)); }
  TmsRemoteInfoItem& Add();
  // Frees every item, last first.
  void Clear();

 private:
  std::vector<std::unique_ptr<TmsRemoteInfoItem>> items_;
};

}  // namespace quillon
