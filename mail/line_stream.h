// A raw message read line by line: either the bytes written into the
// stream itself, or another stream it reads in blocks of bounded size.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/streams.h"

namespace quillon {

class TLineStream : public TMemoryStream {
 public:
  // Bytes read from a source per block.
  static constexpr std::size_t kBlockSize = 128 * 1024;

  // Reads `source` (from its start, after Reset) instead of the bytes
  // written into this stream. The stream owns it.
  void ReadFrom(std::unique_ptr<TStream> source);

  // Back to the first line.
  void Reset();
  // The next line (split at CR LF, CR or LF; a last line without a line end
  // counts, a final line end adds no empty line). A line may be of any
  // length and may hold NUL bytes. With no line left, `line` gets the end
  // marker and EndOfData becomes true.
  void NextLine(std::string& line);
  // The same line as a view, valid until the next call (no copy unless
  // the line spans two blocks).
  void NextLineView(std::string_view& line);
  bool EndOfData() const { return end_of_data_; }

  // Bytes from the next unread one up to the first `marker` after it, or to
  // the end of the data (always, for an empty marker). Lines handed out are
  // not affected.
  std::int64_t BytesBefore(std::string_view marker);
  // Size of the whole raw data.
  std::int64_t RawSize() const;
  // Appends the whole raw data to `target`. Lines handed out are not
  // affected.
  void CopyRawTo(TStream& target);

  // Four bytes of value 255, handed out once the lines are exhausted.
  static const std::string& EndMarker();

 private:
  std::string_view Unread() const { return {window_ + next_, end_ - next_}; }
  // Makes unread bytes available; false at the end of the data.
  bool HasUnread();
  // The next window of data; false when there is none.
  bool Refill();
  // Offset in the window of the first CR or LF at or after next_, else end_.
  std::size_t LineEnd();
  // After a CR: a LF right after it belongs to the same line end.
  void SkipLineFeed();

  std::unique_ptr<TStream> source_;  // null: the bytes written into this
  std::unique_ptr<char[]> block_;    // the source's current block
  std::string spanning_line_;        // a line that spans two blocks
  const char* window_ = nullptr;     // bytes being read
  std::size_t next_ = 0;             // next unread byte in the window
  std::size_t end_ = 0;              // end of the window
  std::size_t line_feed_ = 0;        // next LF at or after next_ (end_: none)
  bool line_feed_known_ = false;     // line_feed_ is of this window
  bool own_bytes_read_ = false;      // the written bytes were the window
  bool line_feed_pending_ = false;   // a CR ended the last window
  bool end_of_data_ = false;
};

}  // namespace quillon
