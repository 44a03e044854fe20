#include "mail/quoted_printable.h"

#include "mail/pump_throttle.h"

namespace quillon {

namespace {

constexpr char kCR = '\r';
constexpr char kLF = '\n';
constexpr char kEndOfFileMark = 26;
constexpr char kHexDigits[] = "0123456789ABCDEF";
// Paragraphs are read from the stream in chunks of this size.
constexpr std::size_t kReadChunk = 64 * 1024;

bool NeedsEscape(unsigned char byte) { return byte < 32 || byte == '=' || byte >= 128; }

void AppendEscaped(std::string_view piece, std::string& out) {
  for (char c : piece) {
    auto byte = static_cast<unsigned char>(c);
    if (NeedsEscape(byte)) {
      out.push_back('=');
      out.push_back(kHexDigits[byte >> 4]);
      out.push_back(kHexDigits[byte & 15]);
    } else {
      out.push_back(c);
    }
  }
}

// The end of the piece starting at `start`: before the last blank among the
// next 65 characters (a blank right at `start` does not count), else 65
// characters on.
std::size_t PieceEnd(std::string_view text, std::size_t start) {
  std::size_t last = std::min(start + kQPPieceLength, text.size() - 1);
  for (std::size_t i = last; i > start; --i) {
    if (text[i] == ' ') return i;
  }
  return start + kQPPieceLength;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Replaces "=XX" (one or two hex digits) by the byte; the last character
// of the text is never taken as the start of an escape.
void DecodeEscapes(std::string_view text, std::string& out) {
  std::size_t i = 0;
  while (i < text.size()) {
    char c = text[i];
    if (c == '=' && i + 1 < text.size()) {
      int high = HexValue(text[i + 1]);
      int low = i + 2 < text.size() ? HexValue(text[i + 2]) : -1;
      bool third_is_hex_breaker = i + 2 < text.size() && low < 0;
      if (high >= 0 && low >= 0) {
        out.push_back(static_cast<char>(high * 16 + low));
        i += 3;
        continue;
      }
      // One digit counts only when nothing but that digit follows.
      if (high >= 0 && !third_is_hex_breaker) {
        out.push_back(static_cast<char>(high));
        i += 2;
        continue;
      }
    }
    out.push_back(c);
    ++i;
  }
}

// Reads the stream in chunks and hands out paragraphs. A break is CR LF,
// LF CR, a lone CR or a lone LF; the very last byte of the stream is always
// part of the last paragraph, whatever it is.
class ParagraphReader {
 public:
  explicit ParagraphReader(TStream& stream) : stream_(stream) {
    stream_.SetPosition(0);
    remaining_ = stream_.Size();
  }

  bool AtEnd() { return position_ >= buffer_.size() && remaining_ <= 0; }

  std::string Next() {
    std::string paragraph;
    while (Fill()) {
      char c = buffer_[position_++];
      if (AtEnd()) {
        paragraph.push_back(c);
        break;
      }
      if (c != kCR && c != kLF) {
        paragraph.push_back(c);
        continue;
      }
      char partner = c == kCR ? kLF : kCR;
      if (Fill() && buffer_[position_] == partner) ++position_;
      break;
    }
    return paragraph;
  }

 private:
  // True when a byte is available at position_.
  bool Fill() {
    if (position_ < buffer_.size()) return true;
    if (remaining_ <= 0) return false;
    buffer_.resize(static_cast<std::size_t>(
        std::min<std::int64_t>(remaining_, kReadChunk)));
    std::size_t got = stream_.Read(buffer_.data(), buffer_.size());
    buffer_.resize(got);
    remaining_ = got == 0 ? 0 : remaining_ - static_cast<std::int64_t>(got);
    position_ = 0;
    return got > 0;
  }

  TStream& stream_;
  std::string buffer_;
  std::size_t position_ = 0;
  std::int64_t remaining_ = 0;
};

}  // namespace

void EncodeParagraph(std::string_view paragraph, TStringList& lines) {
  std::size_t start = 0;
  while (paragraph.size() - start >= kQPPieceLength) {
    std::size_t end = PieceEnd(paragraph, start);
    std::string line;
    AppendEscaped(paragraph.substr(start, end - start), line);
    line.push_back('=');
    lines.push_back(std::move(line));
    start = end;
    ProcessMessagesThrottled();
  }
  std::string line;
  AppendEscaped(paragraph.substr(start), line);
  lines.push_back(std::move(line));
}

void TQuotedPrintable::Encode() {
  ParagraphReader reader(stream_);
  do {
    EncodeParagraph(reader.Next(), lines_);
    ProcessMessagesThrottled();
  } while (!reader.AtEnd());
}

void DecodeQPLine(std::string_view line, std::string& out) {
  bool soft_break = !line.empty() && line.back() == '=';
  if (soft_break) line.remove_suffix(1);
  DecodeEscapes(line, out);
  if (soft_break) return;
  if (!line.empty() && line.back() == kEndOfFileMark) return;
  out.push_back(kCR);
  out.push_back(kLF);
}

void TQuotedPrintable::Decode() {
  std::string paragraph;
  for (const std::string& line : lines_) {
    DecodeQPLine(line, paragraph);
    bool hard_end = line.empty() || line.back() != '=';
    if (hard_end || paragraph.size() >= kReadChunk) {
      stream_.Write(paragraph);
      paragraph.clear();
      ProcessMessagesThrottled();
    }
  }
  stream_.Write(paragraph);
}

std::string QPDecodeText(std::string_view text) {
  std::string decoded;
  DecodeQPLine(text, decoded);
  std::size_t end = decoded.find_first_of("\r\n");
  return end == std::string::npos ? decoded : decoded.substr(0, end);
}

}  // namespace quillon
