// Message and mailbox flags of the IMAP4 client and its mailbox model.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

namespace quillon {

// A set over a small enumeration, one bit per value.
template <typename Enum>
class TSmallSet {
 public:
  constexpr TSmallSet() = default;
  constexpr TSmallSet(std::initializer_list<Enum> values) {
    for (Enum value : values) Include(value);
  }

  constexpr bool Contains(Enum value) const { return (bits_ & Bit(value)) != 0; }
  constexpr void Include(Enum value) { bits_ |= Bit(value); }
  constexpr void Exclude(Enum value) { bits_ &= ~Bit(value); }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr std::uint32_t Bits() const { return bits_; }
  constexpr bool operator==(const TSmallSet&) const = default;

 private:
  static constexpr std::uint32_t Bit(Enum value) {
    return std::uint32_t{1} << static_cast<unsigned>(value);
  }
  std::uint32_t bits_ = 0;
};

// System flags of a message, in the order of their flag words.
enum class TMessageFlag {
  mesSeen,
  mesAnswered,
  mesFlagged,
  mesDeleted,
  mesDraft,
  mesRecent,
  mesCustom
};
inline constexpr int kMessageFlagCount = 7;
using TMessageFlagSet = TSmallSet<TMessageFlag>;

// "\Seen", "\Answered", ..., "\*".
const char* MessageFlagWord(TMessageFlag flag);
// The flag words of the set joined by blanks, in flag order.
std::string MessageFlagText(TMessageFlagSet flags);

// Attributes of a mailbox as LIST reports them.
enum class TMailBoxOption { Noinferiors, Noselect, Unmarked, Marked };
using TMailBoxFlag = TSmallSet<TMailBoxOption>;

enum class TMailBoxType { mtOther, mtInbox, mtOutBox, mtTrash };

}  // namespace quillon
