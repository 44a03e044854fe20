#include "mail/uuencode.h"

#include <cstdint>

#include "mail/mail_errors.h"
#include "mail/pump_throttle.h"
#include "platform/text.h"

namespace quillon {

namespace {

constexpr char kGraveAccent = '`';
constexpr std::size_t kBeginWordLength = 5;     // "begin"
constexpr std::size_t kBeginPrefixLength = 10;  // "begin 644 "
constexpr std::size_t kModeLength = 3;

std::uint32_t UUValueOf(char c) {
  auto byte = static_cast<unsigned char>(c);
  if (byte == ' ' || byte == kGraveAccent) return 0;
  if (byte < 33 || byte > 95) throw ECodecError(kInvalidCharacterText);
  return (byte - 32) & 63;
}

char UUCharOf(std::uint32_t value) {
  value &= 63;
  return value == 0 ? kGraveAccent : static_cast<char>(value + 32);
}

}  // namespace

void UUDecodeAppend(std::string_view text, std::string& out) {
  ProcessMessagesThrottled();
  if (text.empty()) return;
  std::size_t count = UUValueOf(text[0]);
  std::string_view groups = text.substr(1);
  std::size_t produced = 0;
  for (std::size_t i = 0; i < groups.size(); i += 4) {
    std::uint32_t group = 0;
    for (std::size_t k = 0; k < 4; ++k) {
      // A final partial group is completed with zero bits.
      group = group << 6 | (i + k < groups.size() ? UUValueOf(groups[i + k]) : 0);
    }
    const char bytes[3] = {static_cast<char>(group >> 16),
                           static_cast<char>(group >> 8),
                           static_cast<char>(group)};
    for (char byte : bytes) {
      if (produced == count) break;
      out.push_back(byte);
      ++produced;
    }
  }
}

std::string UUDecodeLine(std::string_view text) {
  std::string out;
  UUDecodeAppend(text, out);
  return out;
}

std::string UUEncodeBytes(std::string_view bytes) {
  ProcessMessagesThrottled();
  std::string line;
  line.reserve(1 + (bytes.size() + 2) / 3 * 4);
  line.push_back(UUCharOf(static_cast<std::uint32_t>(bytes.size())));
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    std::size_t k = std::min<std::size_t>(3, bytes.size() - i);
    std::uint32_t group = 0;
    for (std::size_t j = 0; j < 3; ++j) {
      group = group << 8 |
              (j < k ? static_cast<unsigned char>(bytes[i + j]) : 0u);
    }
    // k bytes need k + 1 characters; no padding characters.
    for (std::size_t j = 0; j <= k; ++j) line.push_back(UUCharOf(group >> (18 - 6 * j)));
  }
  return line;
}

bool IsUUBegin(std::string_view line) {
  if (line.size() <= 8) return false;
  if (UpperCase(line.substr(0, kBeginWordLength)) != "BEGIN") return false;
  std::string rest = Trim(line.substr(kBeginWordLength));
  int mode = 0;
  return TryStrToInt(std::string_view(rest).substr(0, kModeLength), mode);
}

std::string UUFileName(std::string_view line) {
  if (line.size() <= kBeginPrefixLength) return {};
  std::string_view rest = line.substr(kBeginPrefixLength);
  if (!rest.empty() && rest[0] == '"') {
    std::size_t close = rest.find('"', 1);
    if (close == std::string_view::npos) return {};
    return std::string(rest.substr(1, close - 1));
  }
  return std::string(rest.substr(0, rest.find(' ')));
}

}  // namespace quillon
