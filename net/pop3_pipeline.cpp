#include "net/pop3_pipeline.h"

#include <algorithm>
#include <utility>

namespace quillon {

namespace {

constexpr std::size_t kLineEndLength = 2;  // CR LF after each command

bool HasWord(std::string_view command, std::string_view verb) {
  if (command.size() < verb.size()) return false;
  for (std::size_t i = 0; i < verb.size(); ++i) {
    const char c = command[i];
    const char upper = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    if (upper != verb[i]) return false;
  }
  return command.size() == verb.size() || command[verb.size()] == ' ';
}

bool HasArgument(std::string_view command) {
  const std::size_t space = command.find(' ');
  return space != std::string_view::npos &&
         command.find_first_not_of(' ', space) != std::string_view::npos;
}

}  // namespace

bool IsMultiLinePop3Command(std::string_view command) {
  if (HasWord(command, "RETR") || HasWord(command, "TOP") || HasWord(command, "CAPA")) {
    return true;
  }
  // Without a message number, LIST and UIDL answer for every message.
  return (HasWord(command, "LIST") || HasWord(command, "UIDL")) && !HasArgument(command);
}

Pop3Pipeline::Pop3Pipeline(std::size_t max_commands, std::size_t max_bytes)
    : max_commands_(std::max<std::size_t>(max_commands, 1)), max_bytes_(max_bytes) {}

void Pop3Pipeline::Plan(std::vector<std::string> commands) {
  plan_ = std::move(commands);
  next_to_send_ = 0;
  for (Pop3PendingCommand& pending : awaiting_) pending.plan_position = -1;
}

void Pop3Pipeline::Clear() {
  plan_.clear();
  next_to_send_ = 0;
  awaiting_.clear();
  awaiting_bytes_ = 0;
}

bool Pop3Pipeline::WindowFull() const { return awaiting_.size() >= max_commands_; }

bool Pop3Pipeline::Fits(const std::string& command) const {
  return !WindowFull() && awaiting_bytes_ + command.size() + kLineEndLength <= max_bytes_;
}

void Pop3Pipeline::Push(Pop3PendingCommand pending) {
  awaiting_bytes_ += pending.text.size() + kLineEndLength;
  awaiting_.push_back(std::move(pending));
}

std::vector<std::string> Pop3Pipeline::TakeCommandsToSend() {
  std::vector<std::string> to_send;
  while (next_to_send_ < plan_.size() && Fits(plan_[next_to_send_])) {
    const std::string& command = plan_[next_to_send_];
    Push({command, IsMultiLinePop3Command(command), true,
          static_cast<std::ptrdiff_t>(next_to_send_)});
    to_send.push_back(command);
    ++next_to_send_;
  }
  return to_send;
}

Pop3Route Pop3Pipeline::RouteTo(const std::string& command) {
  // Sent ahead: the replies before it are of commands given up (or of
  // DELEs nobody waits for).
  for (std::size_t p = 0; p < awaiting_.size(); ++p) {
    if (awaiting_[p].reply_wanted && awaiting_[p].text == command) return {p, true};
  }
  // Planned but not sent yet: the caller skipped what came before it.
  for (std::size_t q = next_to_send_; q < plan_.size(); ++q) {
    if (plan_[q] == command) {
      next_to_send_ = q;
      return {awaiting_.size(), true};
    }
  }
  // Outside the plan: its reply comes after every awaited one. Those are
  // dropped and their commands sent again when the caller gets to them.
  TakeBackPlanned();
  return {awaiting_.size(), false};
}

void Pop3Pipeline::TakeBackPlanned() {
  std::ptrdiff_t first = -1;
  for (Pop3PendingCommand& pending : awaiting_) {
    if (pending.plan_position >= 0 && (first < 0 || pending.plan_position < first)) {
      first = pending.plan_position;
    }
    pending.plan_position = -1;
  }
  if (first >= 0) next_to_send_ = static_cast<std::size_t>(first);
}

void Pop3Pipeline::Sent(const std::string& command, bool reply_wanted) {
  Push({command, IsMultiLinePop3Command(command), reply_wanted, -1});
}

Pop3PendingCommand Pop3Pipeline::TakeHead() {
  if (awaiting_.empty()) return {};
  Pop3PendingCommand head = std::move(awaiting_.front());
  awaiting_.pop_front();
  awaiting_bytes_ -= head.text.size() + kLineEndLength;
  return head;
}

}  // namespace quillon
