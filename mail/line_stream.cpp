#include "mail/line_stream.h"

namespace quillon {

const std::string& TLineStream::EndMarker() {
  static const std::string marker(4, '\xFF');
  return marker;
}

void TLineStream::Reset() {
  next_ = 0;
  end_of_data_ = false;
  SetPosition(0);
}

void TLineStream::NextLine(std::string& line) {
  const std::string& data = Data();
  if (next_ >= data.size()) {
    line = EndMarker();
    end_of_data_ = true;
    return;
  }
  const char* begin = data.data() + next_;
  std::size_t left = data.size() - next_;
  std::size_t end = 0;
  while (end < left && begin[end] != '\n' && begin[end] != '\r') ++end;
  line.assign(begin, end);
  std::size_t skip = end;
  if (skip < left) {
    ++skip;  // the CR or LF
    if (begin[end] == '\r' && skip < left && begin[skip] == '\n') ++skip;
  }
  next_ += skip;
  SetPosition(static_cast<std::int64_t>(next_));
}

}  // namespace quillon
