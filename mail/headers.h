// The raw header lines of a message, in the order received: one physical
// line per entry, continuation lines kept with their leading blank or tab.
#pragma once

#include <string>
#include <string_view>

#include "platform/string_list.h"

namespace quillon {

class TmsHeaders : public TStringList {
 public:
  using TStringList::TStringList;

  // The unfolded, trimmed value of the first field `name` (with or without
  // its colon), encoded words decoded and cut to 255 characters (except
  // "Content-Type" and "X-UIDL"). Empty when absent.
  std::string GetFieldValue(std::string_view name) const;
  // Every entry of every field `name` (address fields), split at commas
  // outside double quotes, each trimmed, cut and decoded.
  void GetFieldValues(std::string_view name, TStringList& list) const;
  // Deletes the first field `name` with its continuation lines.
  void DeleteField(std::string_view name);
  // Deletes the first empty line and everything after it.
  void TruncateAtBlankLine();
};

}  // namespace quillon
