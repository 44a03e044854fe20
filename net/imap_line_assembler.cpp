#include "net/imap_line_assembler.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <optional>
#include <string_view>
#include <utility>

#include "net/imap_tokens.h"
#include "platform/file_handle.h"

namespace quillon {

namespace {

// Literals up to this size (every ordinary message) are given their room
// when announced.
constexpr std::uint64_t kLiteralReservedAhead = std::uint64_t{64} << 20;
// Room for what follows a literal on its line (an ENVELOPE, say).
constexpr std::size_t kRoomAfterLiteral = 4096;

// MemAvailable of /proc/meminfo in bytes. Asked once per literal, so one
// read of the file's first page (which holds it) and no stream machinery.
std::optional<std::uint64_t> MemAvailableFromProc() {
  const FileHandle file(::open("/proc/meminfo", O_RDONLY | O_CLOEXEC));
  if (!file.IsOpen()) return std::nullopt;
  std::array<char, 4096> buffer;
  const ssize_t count = ::read(file.Get(), buffer.data(), buffer.size());
  if (count <= 0) return std::nullopt;
  const std::string_view text(buffer.data(), static_cast<std::size_t>(count));
  constexpr std::string_view kName = "MemAvailable:";
  std::size_t pos = text.find(kName);
  if (pos == std::string_view::npos) return std::nullopt;
  pos = text.find_first_not_of(' ', pos + kName.size());
  if (pos == std::string_view::npos) return std::nullopt;
  std::uint64_t kilobytes = 0;
  const char* first = text.data() + pos;
  const auto [stop, error] = std::from_chars(first, text.data() + text.size(), kilobytes);
  if (error != std::errc() || stop == first) return std::nullopt;
  return kilobytes * 1024;
}

}  // namespace

std::uint64_t AvailableMemoryBytes() {
  if (const std::optional<std::uint64_t> available = MemAvailableFromProc()) return *available;
  const long pages = sysconf(_SC_AVPHYS_PAGES);
  const long page_size = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || page_size <= 0) return UINT64_MAX;
  return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page_size);
}

ImapLineAssembler::ImapLineAssembler(ImapReadLimits limits)
    : limits_(std::move(limits)) {}

void ImapLineAssembler::Reset() {
  state_ = State::kText;
  line_.clear();
  literal_bytes_ = 0;
  marker_value_ = 0;
  marker_saw_cr_ = false;
  literal_left_ = 0;
}

std::string ImapLineAssembler::TakeLine() {
  std::string line = std::move(line_);
  if (!line.empty() && line.back() == '\n') line.pop_back();
  if (!line.empty() && line.back() == '\r') line.pop_back();
  Reset();
  return line;
}

std::size_t ImapLineAssembler::Feed(std::string_view input) {
  std::size_t taken = 0;
  while (taken < input.size() && state_ != State::kComplete) {
    if (state_ == State::kLiteralBytes) {
      const std::size_t count = static_cast<std::size_t>(
          std::min<std::uint64_t>(literal_left_, input.size() - taken));
      line_.append(input.substr(taken, count));
      literal_bytes_ += count;
      literal_left_ -= count;
      taken += count;
      if (literal_left_ == 0) state_ = State::kText;
      continue;
    }
    TakeByte(input[taken]);
    ++taken;
  }
  return taken;
}

void ImapLineAssembler::TakeByte(char c) {
  switch (state_) {
    case State::kText:
      TakeTextByte(c);
      break;
    case State::kQuoted:
      if (c == '\n') {
        Append(c);
        state_ = State::kComplete;
      } else {
        Append(c);
        if (c == '"') state_ = State::kText;
        if (c == '\\') state_ = State::kQuotedEscape;
      }
      break;
    case State::kQuotedEscape:
      Append(c);
      state_ = c == '\n' ? State::kComplete : State::kQuoted;
      break;
    case State::kMarkerDigits:
      TakeMarkerDigit(c);
      break;
    case State::kMarkerLineEnd:
      TakeMarkerLineEnd(c);
      break;
    case State::kLiteralBytes:
    case State::kComplete:
      break;
  }
}

void ImapLineAssembler::TakeTextByte(char c) {
  Append(c);
  if (c == '\n') {
    state_ = State::kComplete;
  } else if (c == '"') {
    state_ = State::kQuoted;
  } else if (c == '{') {
    marker_value_ = 0;
    state_ = State::kMarkerDigits;
  }
}

void ImapLineAssembler::TakeMarkerDigit(char c) {
  const bool first_digit = line_.back() == '{';
  if (c >= '0' && c <= '9') {
    Append(c);
    const std::uint64_t limit = limits_.max_literal_length;
    const std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
    marker_value_ = marker_value_ > limit / 10 ? limit + 1
                                               : std::min(marker_value_ * 10 + digit, limit + 1);
    return;
  }
  if (c == '}' && !first_digit) {
    Append(c);
    marker_saw_cr_ = false;
    state_ = State::kMarkerLineEnd;
    return;
  }
  // Not a literal marker after all: an ordinary character of the line.
  state_ = State::kText;
  TakeTextByte(c);
}

void ImapLineAssembler::TakeMarkerLineEnd(char c) {
  if (c == '\r' && !marker_saw_cr_) {
    marker_saw_cr_ = true;
    return;
  }
  if (c == '\n') {
    StartLiteral();
    return;
  }
  // "{n}" in the middle of a line is text; keep the CR we held back.
  state_ = State::kText;
  if (marker_saw_cr_) Append('\r');
  TakeTextByte(c);
}

void ImapLineAssembler::StartLiteral() {
  if (marker_value_ > limits_.max_literal_length) {
    throw EImapError("The server announced a literal of more than " +
                     std::to_string(limits_.max_literal_length) +
                     " bytes; no message is that large");
  }
  const std::uint64_t needed = line_.size() + marker_value_;
  // Each literal is bounded, and so is their sum: without it a response of
  // endless literals would grow until the machine's memory ran out. The sum
  // leaves a line's worth of room beside the largest literal for the small
  // ones of an envelope.
  const std::uint64_t max_literal_bytes = limits_.max_literal_length + limits_.max_line_length;
  if (literal_bytes_ + marker_value_ > max_literal_bytes) {
    throw EImapError("The server's response holds more than " +
                     std::to_string(max_literal_bytes) + " bytes of literals");
  }
  const std::uint64_t available = limits_.available_memory ? limits_.available_memory() : UINT64_MAX;
  if (needed > available) {
    throw EImapError("The server announced a literal of " + std::to_string(marker_value_) +
                     " bytes, more than the memory available (" +
                     std::to_string(available) + " bytes)");
  }
  literal_left_ = marker_value_;
  state_ = literal_left_ == 0 ? State::kText : State::kLiteralBytes;
  // A literal of ordinary size gets its room at once, so the line is not
  // copied again and again as it grows (with room left for the items after
  // it). A larger announcement is not taken on trust: the line grows with
  // the bytes as they come.
  if (literal_left_ <= kLiteralReservedAhead) {
    line_.reserve(line_.size() + static_cast<std::size_t>(literal_left_) + kRoomAfterLiteral);
  }
}

void ImapLineAssembler::Append(char c) {
  line_ += c;
  CheckLineLength();
}

void ImapLineAssembler::CheckLineLength() const {
  if (line_.size() - literal_bytes_ > limits_.max_line_length) {
    throw EImapError("Response line longer than " + std::to_string(limits_.max_line_length) +
                     " bytes");
  }
}

}  // namespace quillon
