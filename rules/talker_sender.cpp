#include "rules/talker_sender.h"

namespace quillon {
namespace {

TalkerSender* installed_talker = nullptr;

}  // namespace

TalkerSender& CurrentTalker() {
  static NullTalkerSender null_talker;
  return installed_talker != nullptr ? *installed_talker : null_talker;
}

void InstallTalker(TalkerSender* sender) { installed_talker = sender; }

std::string ShowDLCommand() { return "ShowDL:"; }

std::string RecvStartCommand(const std::string& address) {
  return "RecvStart:" + address;
}

std::string NowDLCommand(int number, int total) {
  return "NowDL:" + std::to_string(number) + "/" + std::to_string(total);
}

std::string StatDLCommand(int percent) {
  return "StatDL:" + std::to_string(percent);
}

std::string MessNewCommand(int folder_id, int record_number, int saved_count) {
  return "MessNew:" + std::to_string(folder_id) + "|" +
         std::to_string(record_number) + "|" + std::to_string(saved_count);
}

std::string RecvStopCommand(const std::string& address) {
  return "RecvStop:" + address;
}

}  // namespace quillon
