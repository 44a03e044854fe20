// A TalkerSender that keeps what it was asked to send, for tests of the
// retrieval frame and the received-message step without a bus.
#pragma once

#include <string>
#include <vector>

#include "rules/talker_sender.h"

namespace quillon::test {

class RecordingTalker final : public TalkerSender {
 public:
  void SendTalkerCommand(const std::string& command) override {
    commands.push_back(command);
    ++conversations;
  }
  void SendStartPair(bool show_download_indicator,
                     const std::string& address) override {
    if (show_download_indicator) commands.push_back(ShowDLCommand());
    commands.push_back(RecvStartCommand(address));
    ++conversations;
  }

  // Every command in the order sent (without the NUL the transport adds).
  std::vector<std::string> commands;
  // One per SendTalkerCommand or SendStartPair.
  int conversations = 0;
};

}  // namespace quillon::test
