// What a socket component needs of a dial-up component (TagRas): bring a
// connection up before opening and let it go after closing. The program
// attaches none to its sockets; the hook stays so one can be plugged in.
#pragma once

namespace quillon {

class DialUpLink {
 public:
  virtual ~DialUpLink() = default;
  // Dials only when no suitable connection is up.
  virtual void Connect() = 0;
  // Hangs up what this component dialled, if anything, and ends a dial
  // that is still waiting.
  virtual void Disconnect() = 0;
};

}  // namespace quillon
