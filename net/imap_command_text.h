// Building IMAP4 command text: arguments as atoms, "" or literals, the
// command split at its literals for sending, and message sets.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quillon {

// "" for an empty text; "{n}" directly followed by the text when it holds
// a control character, a blank, '"', '%', '(', ')', '*', '\', '{' or a byte
// outside ASCII; else the text itself, sent as an atom.
std::string QuoteArgument(std::string_view text);

// A command cut at its literals: each piece but the last ends with a
// literal marker "{n" (its "}" left to the sender, who writes "}" or "+}")
// and carries the literal's bytes; the last piece is the rest of the line.
struct ImapCommandPiece {
  std::string_view head;     // text up to, not including, the marker's "}"
  std::string_view literal;  // the literal's bytes
  bool has_literal = false;
};

// Literal markers count only outside double quotes; the bytes of a literal
// are never scanned for further markers.
std::vector<ImapCommandPiece> SplitCommandText(std::string_view text);

// Ascending message numbers as an IMAP set with ranges: "1:3,5,7:8".
std::string FormatSequenceSet(std::vector<int> numbers);

}  // namespace quillon
