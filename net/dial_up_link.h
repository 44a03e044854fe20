// What a socket component needs of a dial-up component (TagRas): bring a
// connection up before opening and hang up after closing. The program
// attaches none; the hook stays so a dial-up back end can be plugged in.
#pragma once

namespace quillon {

class DialUpLink {
 public:
  virtual ~DialUpLink() = default;
  // Dials only when no suitable connection is up.
  virtual void Connect() = 0;
  // Hangs up what this component dialled, if anything.
  virtual void HangUp() = 0;
};

}  // namespace quillon
