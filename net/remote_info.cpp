#include "net/remote_info.h"

namespace quillon {

TmsRemoteInfoItem& TmsRemoteInfo::Add() {
  items_.push_back(std::make_unique<TmsRemoteInfoItem>());
  return *items_.back();
}

void TmsRemoteInfo::Clear() {
  while (!items_.empty()) items_.pop_back();
}

}  // namespace quillon
