// SMTP data transparency (RFC 5321, 4.5.2): every line that begins with "."
// gets one more "." in front, so the receiving server, which removes it
// again, stores exactly the original text and never mistakes a line of the
// message for the end of the data.
#pragma once

#include <string>
#include <string_view>

#include "platform/streams.h"

namespace quillon {

// Stuffs `chunk`, a piece of a longer text; `at_line_start` carries the
// state from one piece to the next (true before the first piece).
std::string DotStuff(std::string_view chunk, bool& at_line_start);

// Writes `source` (from its start) dot-stuffed to `target`.
void DotStuffStream(TStream& source, TStream& target);

// The text of a received data block (as ReceiveData leaves it): the final
// "." line dropped and one leading dot removed from every line.
std::string UnstuffDataBlock(std::string_view block);

}  // namespace quillon
