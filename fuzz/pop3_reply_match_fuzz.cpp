// The matching of POP3 replies to commands sent ahead (Pop3Pipeline): the
// input is a run of caller operations (announce a plan, ask for a command
// of it or outside it, delete, lose the connection) played against a server
// that answers every command it receives, in order. Whatever the order of
// operations, every command asked for must get its own reply, commands
// sent ahead must come from the plan (never a DELE), and the window's
// bounds must hold. A broken property traps.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "net/pop3_pipeline.h"

namespace {

using quillon::Pop3Pipeline;
using quillon::Pop3Route;

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

class Input {
 public:
  explicit Input(std::string_view bytes) : bytes_(bytes) {}
  bool Empty() const { return at_ >= bytes_.size(); }
  unsigned Next() { return Empty() ? 0u : static_cast<unsigned char>(bytes_[at_++]); }

 private:
  std::string_view bytes_;
  std::size_t at_ = 0;
};

class Harness {
 public:
  Harness(std::size_t max_commands, std::size_t max_bytes)
      : pipeline_(max_commands, max_bytes), max_commands_(max_commands), max_bytes_(max_bytes) {}

  void Plan(Input& input) {
    const unsigned count = input.Next() % 12;
    const unsigned first = input.Next() % 20;
    const bool descending = input.Next() % 2 == 1;
    const unsigned kind = input.Next() % 3;  // info, retrieve, both
    plan_.clear();
    for (unsigned i = 0; i < count; ++i) {
      const std::string n = std::to_string(descending ? first + count - i : first + i);
      if (kind != 1) {
        plan_.push_back("LIST " + n);
        plan_.push_back("TOP " + n + " 1");
      }
      if (kind != 0) {
        plan_.push_back("LIST " + n);
        plan_.push_back("RETR " + n);
      }
    }
    pipeline_.Plan(plan_);
    SendAhead();
  }

  // Asks for `command` and checks that the reply handed out is its own.
  void Ask(const std::string& command) {
    const Pop3Route route = pipeline_.RouteTo(command);
    if (route.via_plan) SendAhead();
    Check(route.replies_to_drop <= pipeline_.AwaitingReply().size());
    for (std::size_t i = 0; i < route.replies_to_drop; ++i) ReadReply();
    if (route.via_plan) {
      SendAhead();
    } else {
      SendOne(command, true);
    }
    Check(!pipeline_.AwaitingReply().empty());
    Check(pipeline_.AwaitingReply().front().text == command);
    Check(pipeline_.AwaitingReply().front().reply_wanted);
    Check(ReadReply() == command);
  }

  void Delete(unsigned number) {
    while (pipeline_.WindowFull() && !pipeline_.AwaitingReply().front().reply_wanted) ReadReply();
    SendOne("DELE " + std::to_string(number), false);
  }

  void LoseConnection() {
    pipeline_.Clear();
    server_queue_.clear();
    Check(pipeline_.AwaitingReply().empty());
  }

  const std::vector<std::string>& PlanText() const { return plan_; }

 private:
  void SendAhead() {
    const std::vector<std::string> batch = pipeline_.TakeCommandsToSend();
    for (const std::string& command : batch) {
      Check(command.rfind("DELE", 0) != 0);
      Check(std::find(plan_.begin(), plan_.end(), command) != plan_.end());
      server_queue_.push_back(command);
    }
    if (!batch.empty()) {
      Check(pipeline_.AwaitingReply().size() <= max_commands_);
      std::size_t bytes = 0;
      for (const auto& pending : pipeline_.AwaitingReply()) bytes += pending.text.size() + 2;
      Check(bytes <= max_bytes_);
    }
    Check(pipeline_.AwaitingReply().size() == server_queue_.size());
  }

  void SendOne(const std::string& command, bool reply_wanted) {
    pipeline_.Sent(command, reply_wanted);
    server_queue_.push_back(command);
  }

  // The server's next reply (it answers with the command it got) taken
  // for the command at the head.
  std::string ReadReply() {
    Check(!server_queue_.empty());
    const std::string reply = server_queue_.front();
    server_queue_.pop_front();
    const auto head = pipeline_.TakeHead();
    Check(head.text == reply);
    Check(head.multi_line == quillon::IsMultiLinePop3Command(reply));
    return reply;
  }

  Pop3Pipeline pipeline_;
  std::size_t max_commands_;
  std::size_t max_bytes_;
  std::vector<std::string> plan_;
  std::deque<std::string> server_queue_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input input(std::string_view(reinterpret_cast<const char*>(data), size));
  const std::size_t max_commands = input.Next() % 9 + 1;
  const std::size_t max_bytes = input.Next() % 200 + 16;
  Harness harness(max_commands, max_bytes);
  static const char* const kVerbs[] = {"LIST ", "TOP ", "RETR ", "UIDL "};
  for (int steps = 0; steps < 2000 && !input.Empty(); ++steps) {
    switch (input.Next() % 7) {
      case 0:
        harness.Plan(input);
        break;
      case 1:
      case 2: {
        // Mostly what the plan says, now and then a step further on.
        const auto& plan = harness.PlanText();
        if (plan.empty()) break;
        harness.Ask(plan[input.Next() % plan.size()]);
        break;
      }
      case 3: {
        const unsigned verb = input.Next() % 4;
        std::string command = kVerbs[verb] + std::to_string(input.Next() % 24);
        if (verb == 1) command += " 1";
        harness.Ask(command);
        break;
      }
      case 4:
        harness.Delete(input.Next() % 24);
        break;
      case 5:
        harness.LoseConnection();
        break;
      default:
        harness.Ask("QUIT");
        break;
    }
  }
  // Arbitrary text never upsets the command classification.
  quillon::IsMultiLinePop3Command(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
