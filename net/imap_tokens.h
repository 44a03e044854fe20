// Reading IMAP4 response text once a whole line (literals inlined) is in
// hand: tokens, flag lists, mailbox lines, numbered responses. No I/O here,
// so everything is tested from strings.
#pragma once

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "net/imap_flags.h"

namespace quillon {

// The errors of the IMAP4 client and its response parsers. They carry only
// a message and do not go through the socket's error event.
class EImapError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One token of a response: a quoted string, a literal ("{n}" directly
// followed by its n bytes) or an atom (up to a blank or ")"). NIL is an atom
// that stands for "no value".
struct ImapToken {
  enum class Kind { kAtom, kQuoted, kLiteral, kEnd };
  Kind kind = Kind::kEnd;
  std::string_view raw;   // the bytes as sent (for quoted: between the quotes)
  std::string unescaped;  // a quoted string with its backslash escapes undone
  bool has_escapes = false;

  bool IsNil() const;
  // The token's value (NIL reads as an empty text).
  std::string Text() const;
};

// A read position over one response line. Reads never go past the end.
class ImapCursor {
 public:
  explicit ImapCursor(std::string_view text, std::size_t position = 0)
      : text_(text), position_(position < text.size() ? position : text.size()) {}

  bool AtEnd() const { return position_ >= text_.size(); }
  // The current character, or '\0' at the end.
  char Peek() const { return AtEnd() ? '\0' : text_[position_]; }
  std::size_t Position() const { return position_; }
  std::string_view Rest() const { return text_.substr(position_); }
  void Skip(std::size_t count);
  void SkipBlanks();
  // True when the rest begins with `word` (ASCII case ignored).
  bool LooksAt(std::string_view word) const;

  ImapToken ReadToken();
  // Text up to and including the next `stop`; nullopt (position unchanged)
  // when there is none.
  std::optional<std::string_view> ReadThrough(char stop);
  // Text up to, not including, the next blank or ")"; nullopt when the
  // text ends first.
  std::optional<std::string_view> ReadUntilBlankOrParen();
  // Skips one value of an item we do not use: a token, or a parenthesised
  // list of values (nested lists included).
  void SkipValue();

 private:
  ImapToken ReadQuoted();
  ImapToken ReadLiteral();

  std::string_view text_;
  std::size_t position_;
};

// The length n of a literal marker "{n}" at the start of `text`, or nullopt
// when `text` does not start with one. `marker_length` gets its size.
std::optional<std::uint64_t> LiteralMarkerLength(std::string_view text,
                                                 std::size_t& marker_length);

// Flag list of a FETCH response: "(\Seen \Deleted)". Raises on anything
// that is not one of the seven system flags.
TMessageFlagSet ParseMessageFlagsStrict(std::string_view text);
// Flag list of an untagged FLAGS response: unknown words are ignored.
TMessageFlagSet ParseMessageFlagsLenient(std::string_view text);
// Attribute list of a LIST or LSUB response.
TMailBoxFlag ParseMailboxFlags(std::string_view text);

// A LIST or LSUB line after its keyword and blank.
struct ImapMailboxLine {
  std::string flag_text;  // with its parentheses
  TMailBoxFlag options;
  std::string delimiter;  // empty for NIL
  std::string name;
};
// An attribute list that the mailbox-flag parse refuses leaves the options
// empty, for LIST and LSUB alike.
ImapMailboxLine ParseMailboxLine(std::string_view text);

// "12 EXISTS", "3 RECENT", "4 EXPUNGE": the number when `text` is a number,
// a blank and exactly `word`.
std::optional<int> MatchNumberedResponse(std::string_view text,
                                         std::string_view word);

// The value of "[UIDVALIDITY 42]"-style codes: the decimal integer that
// starts at `text` (digits only); nullopt when there is none.
std::optional<int> LeadingInteger(std::string_view text);

}  // namespace quillon
