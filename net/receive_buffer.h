// Bytes received from a socket but not yet handed out, and the two framing
// rules the mail protocols need on them: a reply line ends at LF, and a
// multi-line data block ends with CR LF "." CR LF. Pure data, no I/O, so it
// can be tested and fuzzed from strings alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quillon {

class ReceiveBuffer {
 public:
  void Append(std::string_view bytes);
  std::size_t Size() const { return data_.size() - start_; }
  bool Empty() const { return Size() == 0; }
  std::string_view View() const {
    return std::string_view(data_).substr(start_);
  }
  // Drops the first `count` bytes (at most Size()).
  void Consume(std::size_t count);
  void Clear();

  // Moves bytes up to and including the first LF onto the end of `line`,
  // never letting `line` grow past `limit` bytes. Returns true when the LF
  // was moved; false when the buffer ran out or `line` reached `limit`.
  bool TakeLine(std::string& line, std::size_t limit);

 private:
  std::string data_;
  std::size_t start_ = 0;  // bytes before it were handed out already
};

// Finds the end of a data block: CR LF "." CR LF at the end of everything
// written so far, or a block that is exactly "." CR LF. Fed in any split,
// it finds the same end as a check of the whole data.
class DataEndDetector {
 public:
  // `existing_tail`: the last (up to 5) bytes already in the target stream,
  // `existing_size`: the stream's size before this block.
  DataEndDetector(std::string_view existing_tail = {},
                  std::int64_t existing_size = 0);

  // How many bytes of `chunk` belong to the block: all of it when the end
  // is not in it, else up to and including the end's LF.
  std::size_t Feed(std::string_view chunk);
  bool Complete() const { return complete_; }
  std::int64_t TotalSize() const { return total_; }

 private:
  bool EndsHere() const;

  std::string tail_;  // last bytes of the stream, at most 5
  std::int64_t total_ = 0;
  bool complete_ = false;
};

// Reply text: the line without all of its trailing CR and LF characters.
std::string StripLineEnd(std::string_view line);

// The first three characters as a decimal number; -1 when they are not one.
int ThreeDigitReplyCode(std::string_view reply);

// position * 100 / total, rounded to the nearest integer with halves to
// even. `total` must be positive.
int RoundedPercent(std::int64_t position, std::int64_t total);

}  // namespace quillon
