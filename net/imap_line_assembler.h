// Builds one IMAP4 response line from the bytes as they arrive: literals
// ("{n}" at a line end, then n bytes) are taken into the line right after
// their marker, without the line end that followed the marker. The socket
// side feeds bytes; this side knows nothing of sockets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace quillon {

// What the system can still give this process, in bytes (MemAvailable).
std::uint64_t AvailableMemoryBytes();

struct ImapReadLimits {
  // Bytes of a response line outside its literals. Real lines are a few
  // hundred bytes; a megabyte leaves room for long flag and address lists.
  std::size_t max_line_length = std::size_t{1} << 20;
  // No real message comes near a gigabyte.
  std::uint64_t max_literal_length = std::uint64_t{1} << 30;
  std::function<std::uint64_t()> available_memory = AvailableMemoryBytes;
};

class ImapLineAssembler {
 public:
  explicit ImapLineAssembler(ImapReadLimits limits = {});

  // Takes bytes from the front of `input`, never past the end of the line
  // being built, and returns how many it took. Raises EImapError when the
  // line outside literals grows past its limit or a literal is announced
  // that is too large to hold.
  std::size_t Feed(std::string_view input);
  bool Complete() const { return state_ == State::kComplete; }
  // True while the bytes of a literal are being taken (they may come in
  // large pieces; outside literals a line end can come at any byte).
  bool InLiteral() const { return state_ == State::kLiteralBytes; }
  // Bytes still owed by the literal being read (0 outside literals).
  std::uint64_t LiteralBytesLeft() const { return InLiteral() ? literal_left_ : 0; }
  // The finished line without its line end; the assembler starts afresh.
  std::string TakeLine();
  void Reset();

 private:
  enum class State {
    kText,
    kQuoted,
    kQuotedEscape,
    kMarkerDigits,
    kMarkerLineEnd,
    kLiteralBytes,
    kComplete
  };

  void TakeByte(char c);
  void TakeTextByte(char c);
  void TakeMarkerDigit(char c);
  void TakeMarkerLineEnd(char c);
  void StartLiteral();
  void Append(char c);
  void CheckLineLength() const;

  ImapReadLimits limits_;
  State state_ = State::kText;
  std::string line_;
  std::uint64_t literal_bytes_ = 0;  // bytes of line_ that came in literals
  std::uint64_t marker_value_ = 0;   // saturates above the literal limit
  bool marker_saw_cr_ = false;
  std::uint64_t literal_left_ = 0;
};

}  // namespace quillon
