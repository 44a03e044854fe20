#include "mail/base64.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "mail/mail_errors.h"
#include "mail/pump_throttle.h"

namespace quillon {

namespace {

constexpr char kAlphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::uint8_t kInvalid = 0xFF;
constexpr std::uint8_t kPad = 0xFE;

constexpr std::array<std::uint8_t, 256> MakeDecodeTable() {
  std::array<std::uint8_t, 256> table{};
  for (auto& entry : table) entry = kInvalid;
  for (std::uint8_t i = 0; i < 64; ++i) {
    table[static_cast<unsigned char>(kAlphabet[i])] = i;
  }
  table['='] = kPad;
  return table;
}

constexpr std::array<std::uint8_t, 256> kDecodeTable = MakeDecodeTable();

std::uint32_t SextetOf(char c) {
  std::uint8_t value = kDecodeTable[static_cast<unsigned char>(c)];
  if (value == kInvalid) throw ECodecError(kInvalidCharacterText);
  return value == kPad ? 0 : value;
}

}  // namespace

void Base64DecodeAppend(std::string_view text, std::string& out) {
  ProcessMessagesThrottled();
  const std::size_t start = out.size();
  const std::size_t groups = text.size() / 4;
  // Room for every whole group and a final partial one, written in place.
  out.resize(start + groups * 3 + 2);
  char* to = out.data() + start;
  const auto* from = reinterpret_cast<const unsigned char*>(text.data());
  for (std::size_t g = 0; g < groups; ++g, from += 4, to += 3) {
    const std::uint8_t a = kDecodeTable[from[0]], b = kDecodeTable[from[1]];
    const std::uint8_t c = kDecodeTable[from[2]], d = kDecodeTable[from[3]];
    std::uint32_t group = static_cast<std::uint32_t>(a) << 18 | b << 12 | c << 6 | d;
    // Pads and invalid characters are the only entries above 63.
    if ((a | b | c | d) > 63) {
      group = SextetOf(static_cast<char>(from[0])) << 18 |
              SextetOf(static_cast<char>(from[1])) << 12 |
              SextetOf(static_cast<char>(from[2])) << 6 | SextetOf(static_cast<char>(from[3]));
    }
    to[0] = static_cast<char>(group >> 16);
    to[1] = static_cast<char>(group >> 8);
    to[2] = static_cast<char>(group);
  }
  // A final group of two or three characters still holds one or two bytes.
  const std::size_t i = groups * 4;
  const std::size_t rest = text.size() - i;
  if (rest >= 2) {
    std::uint32_t group = SextetOf(text[i]) << 18 | SextetOf(text[i + 1]) << 12;
    if (rest == 3) group |= SextetOf(text[i + 2]) << 6;
    *to++ = static_cast<char>(group >> 16);
    if (rest == 3) *to++ = static_cast<char>(group >> 8);
  } else if (rest == 1) {
    SextetOf(text[i]);  // still checked
  }
  std::size_t pads = 0;
  while (pads < text.size() && text[text.size() - 1 - pads] == '=') ++pads;
  const auto produced = static_cast<std::size_t>(to - (out.data() + start));
  out.resize(start + produced - std::min(pads, produced));
}

std::string Base64DecodeLine(std::string_view text) {
  std::string out;
  out.reserve(text.size() / 4 * 3 + 3);
  Base64DecodeAppend(text, out);
  return out;
}

void Base64EncodeAppend(std::string_view bytes, std::string& out) {
  ProcessMessagesThrottled();
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    std::uint32_t group = static_cast<unsigned char>(bytes[i]) << 16 |
                          static_cast<unsigned char>(bytes[i + 1]) << 8 |
                          static_cast<unsigned char>(bytes[i + 2]);
    const char chars[4] = {kAlphabet[group >> 18], kAlphabet[(group >> 12) & 63],
                           kAlphabet[(group >> 6) & 63], kAlphabet[group & 63]};
    out.append(chars, 4);
  }
  std::size_t rest = bytes.size() - i;
  if (rest == 0) return;
  std::uint32_t group = static_cast<unsigned char>(bytes[i]) << 16;
  if (rest == 2) group |= static_cast<unsigned char>(bytes[i + 1]) << 8;
  out.push_back(kAlphabet[group >> 18]);
  out.push_back(kAlphabet[(group >> 12) & 63]);
  out.push_back(rest == 2 ? kAlphabet[(group >> 6) & 63] : '=');
  out.push_back('=');
}

std::string Base64EncodeBytes(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  Base64EncodeAppend(bytes, out);
  return out;
}

}  // namespace quillon
