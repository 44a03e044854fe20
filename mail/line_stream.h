// A whole raw message in memory, read line by line.
#pragma once

#include <string>

#include "platform/streams.h"

namespace quillon {

class TLineStream : public TMemoryStream {
 public:
  // Back to the first line.
  void Reset();
  // The next line (split at CR LF, CR or LF; a last line without a line end
  // counts, a final line end adds no empty line). A line may be of any
  // length and may hold NUL bytes. With no line left, `line` gets the end
  // marker and EndOfData becomes true.
  void NextLine(std::string& line);
  bool EndOfData() const { return end_of_data_; }

  // Four bytes of value 255, handed out once the lines are exhausted.
  static const std::string& EndMarker();

 private:
  std::size_t next_ = 0;  // offset of the next line in Data()
  bool end_of_data_ = false;
};

}  // namespace quillon
