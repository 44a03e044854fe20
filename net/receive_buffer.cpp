#include "net/receive_buffer.h"

#include <algorithm>

#include "platform/text.h"

namespace quillon {

namespace {
constexpr std::string_view kDataEnd = "\r\n.\r\n";
constexpr std::string_view kEmptyData = ".\r\n";
constexpr std::size_t kTailLength = kDataEnd.size();
}  // namespace

void ReceiveBuffer::Append(std::string_view bytes) {
  // Drop what was handed out before growing, so the buffer never holds
  // more than one unconsumed window plus the new bytes.
  if (start_ > 0 && (start_ == data_.size() || start_ >= data_.size() / 2)) {
    data_.erase(0, start_);
    start_ = 0;
  }
  data_.append(bytes);
}

void ReceiveBuffer::Consume(std::size_t count) {
  start_ += std::min(count, Size());
  if (start_ == data_.size()) Clear();
}

void ReceiveBuffer::Clear() {
  data_.clear();
  start_ = 0;
}

bool ReceiveBuffer::TakeLine(std::string& line, std::size_t limit) {
  if (line.size() >= limit) return false;
  const std::string_view available = View();
  const std::size_t room = limit - line.size();
  const std::string_view window = available.substr(0, room);
  const std::size_t lf = window.find('\n');
  const std::size_t take = lf == std::string_view::npos ? window.size() : lf + 1;
  line.append(window.substr(0, take));
  Consume(take);
  return lf != std::string_view::npos;
}

DataEndDetector::DataEndDetector(std::string_view existing_tail,
                                 std::int64_t existing_size)
    : total_(existing_size) {
  if (existing_tail.size() > kTailLength) {
    existing_tail.remove_prefix(existing_tail.size() - kTailLength);
  }
  tail_ = std::string(existing_tail);
}

bool DataEndDetector::EndsHere() const {
  if (total_ >= static_cast<std::int64_t>(kDataEnd.size()) && tail_ == kDataEnd) {
    return true;
  }
  return total_ == static_cast<std::int64_t>(kEmptyData.size()) &&
         std::string_view(tail_).ends_with(kEmptyData);
}

std::size_t DataEndDetector::Feed(std::string_view chunk) {
  if (complete_) return 0;
  std::size_t consumed = 0;
  while (consumed < chunk.size()) {
    // Both end forms finish with LF, so only LF positions need a look.
    const std::size_t lf = chunk.find('\n', consumed);
    const std::size_t upto = lf == std::string_view::npos ? chunk.size() : lf + 1;
    const std::string_view piece = chunk.substr(consumed, upto - consumed);
    if (piece.size() >= kTailLength) {
      tail_ = std::string(piece.substr(piece.size() - kTailLength));
    } else {
      tail_.append(piece);
      if (tail_.size() > kTailLength) tail_.erase(0, tail_.size() - kTailLength);
    }
    total_ += static_cast<std::int64_t>(piece.size());
    consumed = upto;
    if (lf != std::string_view::npos && EndsHere()) {
      complete_ = true;
      break;
    }
  }
  return consumed;
}

std::string StripLineEnd(std::string_view line) {
  std::size_t end = line.size();
  while (end > 0 && (line[end - 1] == '\r' || line[end - 1] == '\n')) --end;
  return std::string(line.substr(0, end));
}

int ThreeDigitReplyCode(std::string_view reply) {
  int code = 0;
  if (!TryStrToInt(reply.substr(0, 3), code)) return -1;
  return code;
}

int RoundedPercent(std::int64_t position, std::int64_t total) {
  const std::int64_t scaled = position * 100;
  std::int64_t quotient = scaled / total;
  const std::int64_t remainder = scaled % total;
  // Banker's rounding, as the toolkit's Round does.
  if (remainder * 2 > total || (remainder * 2 == total && quotient % 2 != 0)) {
    ++quotient;
  }
  return static_cast<int>(quotient);
}

}  // namespace quillon
