#include "platform/code_pages.h"

#include <cstdint>

namespace quillon {

namespace {

// Code points of the bytes 0x80 to 0x9F in Windows-1252; 0 marks the five
// bytes the code page leaves undefined (shown as "?").
constexpr std::uint16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

void AppendUtf8(std::string& out, std::uint32_t code_point) {
  if (code_point < 0x80) {
    out += static_cast<char>(code_point);
  } else if (code_point < 0x800) {
    out += static_cast<char>(0xC0 | (code_point >> 6));
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (code_point >> 12));
    out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  }
}

// Decodes the UTF-8 sequence at `i`, advancing `i`. Malformed input yields
// U+FFFD for one byte.
std::uint32_t NextCodePoint(const std::string& text, std::size_t& i) {
  const auto lead = static_cast<unsigned char>(text[i++]);
  if (lead < 0x80) return lead;
  int continuation = 0;
  std::uint32_t code_point = 0;
  if ((lead & 0xE0) == 0xC0) {
    continuation = 1;
    code_point = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    continuation = 2;
    code_point = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    continuation = 3;
    code_point = lead & 0x07;
  } else {
    return 0xFFFD;
  }
  for (int k = 0; k < continuation; ++k) {
    if (i >= text.size() ||
        (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
      return 0xFFFD;
    }
    code_point = (code_point << 6) | (static_cast<unsigned char>(text[i++]) & 0x3F);
  }
  return code_point;
}

std::uint32_t Cp1252CodePoint(unsigned char byte) {
  if (byte < 0x80 || byte >= 0xA0) return byte;
  const std::uint16_t mapped = kCp1252High[byte - 0x80];
  return mapped != 0 ? mapped : '?';
}

}  // namespace

std::string Cp1252ToUtf8(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (char c : bytes) AppendUtf8(out, Cp1252CodePoint(static_cast<unsigned char>(c)));
  return out;
}

std::string Utf8ToCp1252(const std::string& text) {
  std::string out;
  std::size_t i = 0;
  while (i < text.size()) {
    const std::uint32_t code_point = NextCodePoint(text, i);
    if (code_point < 0x80 || (code_point >= 0xA0 && code_point <= 0xFF)) {
      out += static_cast<char>(code_point);
      continue;
    }
    char mapped = '?';
    for (int k = 0; k < 32; ++k) {
      if (kCp1252High[k] != 0 && kCp1252High[k] == code_point) {
        mapped = static_cast<char>(0x80 + k);
        break;
      }
    }
    out += mapped;
  }
  return out;
}

std::string Latin1ToUtf8(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (char c : bytes) AppendUtf8(out, static_cast<unsigned char>(c));
  return out;
}

std::string Utf8ToLatin1(const std::string& text) {
  std::string out;
  std::size_t i = 0;
  while (i < text.size()) {
    const std::uint32_t code_point = NextCodePoint(text, i);
    out += code_point <= 0xFF ? static_cast<char>(code_point) : '?';
  }
  return out;
}

unsigned char AnsiUpperChar(unsigned char c) {
  if (c >= 'a' && c <= 'z') return static_cast<unsigned char>(c - 32);
  switch (c) {
    case 0x9A: return 0x8A;  // s caron
    case 0x9C: return 0x8C;  // oe ligature
    case 0x9E: return 0x8E;  // z caron
    case 0xFF: return 0x9F;  // y diaeresis
    default: break;
  }
  // The accented small letters; 0xF7 is the division sign.
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<unsigned char>(c - 32);
  return c;
}

std::string AnsiUpperCase(std::string text) {
  for (char& c : text) {
    c = static_cast<char>(AnsiUpperChar(static_cast<unsigned char>(c)));
  }
  return text;
}

}  // namespace quillon
