#include "net/imap_line_assembler.h"

#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <utility>

#include "net/imap_tokens.h"

namespace quillon {

std::uint64_t AvailableMemoryBytes() {
  std::ifstream meminfo("/proc/meminfo");
  std::string line;
  while (std::getline(meminfo, line)) {
    std::istringstream fields(line);
    std::string name;
    std::uint64_t kilobytes = 0;
    if (fields >> name >> kilobytes && name == "MemAvailable:") {
      return kilobytes * 1024;
    }
  }
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
      // Literal bytes are appended as they come; the announced length is
      // never reserved up front.
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
  const std::uint64_t available = limits_.available_memory ? limits_.available_memory() : UINT64_MAX;
  if (needed > available) {
    throw EImapError("The server announced a literal of " + std::to_string(marker_value_) +
                     " bytes, more than the memory available (" +
                     std::to_string(available) + " bytes)");
  }
  literal_left_ = marker_value_;
  state_ = literal_left_ == 0 ? State::kText : State::kLiteralBytes;
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
