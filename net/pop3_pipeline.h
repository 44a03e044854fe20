// The bookkeeping of POP3 commands sent ahead of their replies, for servers
// that list PIPELINING in their CAPA answer (RFC 2449): the commands the
// caller announced it will send, those already sent whose replies are still
// to come (in the order the server will answer them), and which of those
// replies belong to commands the caller no longer asks for. No I/O here: the
// client sends the commands and reads the replies as this says.
//
// Only commands that change nothing on the server are ever sent ahead
// (LIST, TOP, RETR, UIDL); a DELE is sent when the caller asks for it, and
// only its reply is left to be read later.
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace quillon {

// How many commands, and how many bytes of command text, may await their
// replies at once. The bytes stay below the smallest default socket send
// buffer (16 KB), so sending ahead never waits for the server to read.
inline constexpr std::size_t kPop3WindowCommands = 256;
inline constexpr std::size_t kPop3WindowBytes = 8192;

// True for the commands whose positive reply is followed by a data block
// ended by a "." line: RETR, TOP, CAPA, and LIST or UIDL without argument.
bool IsMultiLinePop3Command(std::string_view command);

struct Pop3PendingCommand {
  std::string text;
  bool multi_line = false;
  // False when nobody waits for the reply (a DELE); it is read and dropped.
  bool reply_wanted = true;
  // Where the command stands in the current plan; -1 outside it.
  std::ptrdiff_t plan_position = -1;
};

// How the client gets to the reply of one command.
struct Pop3Route {
  // Replies at the head to read and drop first (commands given up, or
  // replies nobody waits for).
  std::size_t replies_to_drop = 0;
  // The command is sent ahead or planned: send what the window allows
  // (TakeCommandsToSend). Otherwise the client sends it alone and reports
  // it with Sent.
  bool via_plan = false;
};

class Pop3Pipeline {
 public:
  explicit Pop3Pipeline(std::size_t max_commands = kPop3WindowCommands,
                        std::size_t max_bytes = kPop3WindowBytes);

  // The commands the caller will ask for next, in order; replaces any
  // earlier plan. Commands already sent stay awaited, outside the plan.
  void Plan(std::vector<std::string> commands);
  // The connection ended: nothing is planned or awaited.
  void Clear();

  // Planned commands that fit the window now; from here on they count as
  // sent.
  std::vector<std::string> TakeCommandsToSend();
  // Prepares the reply of `command`: after the client dropped
  // replies_to_drop replies and sent (see Pop3Route), the head of
  // AwaitingReply() is `command`.
  Pop3Route RouteTo(const std::string& command);
  // `command` was sent outside the plan.
  void Sent(const std::string& command, bool reply_wanted);
  // The reply at the head was read (handed out or dropped).
  Pop3PendingCommand TakeHead();

  const std::deque<Pop3PendingCommand>& AwaitingReply() const { return awaiting_; }
  bool WindowFull() const;
  std::size_t PlannedLeft() const { return plan_.size() - next_to_send_; }

 private:
  bool Fits(const std::string& command) const;
  void Push(Pop3PendingCommand pending);
  // Puts the planned commands that await replies back into the plan: their
  // replies are dropped, so they have to be sent again.
  void TakeBackPlanned();

  std::size_t max_commands_;
  std::size_t max_bytes_;
  std::vector<std::string> plan_;
  std::size_t next_to_send_ = 0;
  std::deque<Pop3PendingCommand> awaiting_;
  std::size_t awaiting_bytes_ = 0;
};

}  // namespace quillon
