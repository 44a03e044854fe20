#include "net/pop3_client.h"

#include <string_view>
#include <utility>

#include "net/net_errors.h"
#include "net/socket_messages.h"
#include "platform/text.h"

namespace quillon {

namespace {

constexpr std::size_t kStatusLength = 4;  // "+OK" and the blank after it
constexpr std::size_t kPassPrefixLength = 5;  // "PASS "

std::string_view AfterStatus(std::string_view reply) {
  return reply.size() > kStatusLength ? reply.substr(kStatusLength)
                                      : std::string_view();
}

int ConvertInteger(std::string_view text) {
  int value = 0;
  if (!TryStrToInt(text, value)) {
    throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
  }
  return value;
}

std::string MessageNumber(int index) { return std::to_string(index + 1); }

// Takes the data block of a reply nobody waits for and keeps nothing.
class DiscardStream final : public TStream {
 public:
  std::size_t Read(void*, std::size_t) override { return 0; }
  void Write(const void*, std::size_t count) override {
    size_ += static_cast<std::int64_t>(count);
  }
  std::int64_t Seek(std::int64_t, Origin) override { return size_; }
  std::int64_t Size() const override { return size_; }
  void SetSize(std::int64_t size) override { size_ = size; }

 private:
  std::int64_t size_ = 0;
};

// OnProgress silenced for a while: a dropped reply is no transfer the
// caller follows.
class ProgressSilenced {
 public:
  explicit ProgressSilenced(TmsProgressEvent& event)
      : event_(event), saved_(std::exchange(event, nullptr)) {}
  ~ProgressSilenced() { event_ = std::move(saved_); }
  ProgressSilenced(const ProgressSilenced&) = delete;
  ProgressSilenced& operator=(const ProgressSilenced&) = delete;

 private:
  TmsProgressEvent& event_;
  TmsProgressEvent saved_;
};

bool ListsPipelining(const std::string& capabilities) {
  std::size_t start = 0;
  while (start < capabilities.size()) {
    std::size_t end = capabilities.find('\n', start);
    if (end == std::string::npos) end = capabilities.size();
    std::string_view line(capabilities.data() + start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::string_view word = line.substr(0, line.find(' '));
    if (UpperCase(word) == "PIPELINING") return true;
    start = end + 1;
  }
  return false;
}

}  // namespace

TmsCustomPOP::TmsCustomPOP() {
  SetServiceName("pop3");
  SetDefaultPort(110);
}

void TmsCustomPOP::CheckCredentials() {
  if (user_name_.empty()) {
    SocketError(kMsgUserNameRequired);
  } else if (password_.empty()) {
    SocketError(kMsgPasswordRequired);
  }
}

void TmsCustomPOP::Open() {
  CheckCredentials();
  ResetState();
  TmsMailBase::Open();
}

void TmsCustomPOP::Close() {
  pipeline_.Clear();
  TmsMailBase::Close();
}

void TmsCustomPOP::ResetState() {
  TmsMailBase::ResetState();
  pipeline_.Clear();
  capabilities_asked_ = false;
  server_pipelining_ = false;
}

template <typename Step>
auto TmsCustomPOP::Guarded(Step step) {
  try {
    return step();
  } catch (...) {
    pipeline_.Clear();
    if (Connected()) Close();
    throw;
  }
}

int TmsCustomPOP::GetReplyCode(const std::string& reply) const {
  if (reply.empty()) return 0;
  if (reply[0] == '+') return 1;
  if (reply[0] == '-') return -1;
  return 0;
}

void TmsCustomPOP::Command(const std::string& command) {
  if (Exchange(command) != 1) throw EServerError(LastReply());
}

int TmsCustomPOP::Exchange(const std::string& command) {
  if (server_pipelining_) return PipelinedExchange(command);
  SendLine(command);
  return ReadLine();
}

void TmsCustomPOP::ReceiveBlock(TStream& stream, std::int64_t expected_size) {
  if (!server_pipelining_) {
    ReceiveData(stream, expected_size);
    return;
  }
  Guarded([&] { ReceiveData(stream, expected_size); });
}

int TmsCustomPOP::PipelinedExchange(const std::string& command) {
  const Pop3Route route = pipeline_.RouteTo(command);
  return Guarded([&] {
    if (route.via_plan) SendAhead();
    for (std::size_t i = 0; i < route.replies_to_drop; ++i) DropReply();
    if (route.via_plan) {
      SendAhead();
    } else {
      SendLine(command);
      pipeline_.Sent(command, true);
    }
    const int code = ReadLine();
    pipeline_.TakeHead();
    return code;
  });
}

void TmsCustomPOP::SendAhead() { SendLines(pipeline_.TakeCommandsToSend()); }

void TmsCustomPOP::DropReply() {
  const bool multi_line = pipeline_.AwaitingReply().front().multi_line;
  std::string reply;
  const int code = ReadLine(reply);
  pipeline_.TakeHead();
  if (code == 1 && multi_line) {
    ProgressSilenced silenced(OnProgress);
    DiscardStream sink;
    ReceiveData(sink, -1);
  }
}

void TmsCustomPOP::AskCapabilities() {
  capabilities_asked_ = true;
  SendLine("CAPA");
  // Servers without CAPA refuse it: then nothing is sent ahead.
  if (ReadLine() != 1) return;
  ProgressSilenced silenced(OnProgress);
  TMemoryStream capabilities;
  ReceiveData(capabilities, -1);
  server_pipelining_ = ListsPipelining(capabilities.Data());
}

void TmsCustomPOP::PlanCalls(const std::vector<int>& indexes, Pop3Calls calls) {
  if (!pipelining_allowed_ || indexes.empty() || !Connected()) return;
  try {
    if (!capabilities_asked_) AskCapabilities();
    if (!server_pipelining_) return;
    std::vector<std::string> commands;
    for (const int index : indexes) {
      const std::string number = MessageNumber(index);
      if (calls != Pop3Calls::kRetrieve) {
        commands.push_back("LIST " + number);
        commands.push_back("TOP " + number + " 1");
      }
      if (calls != Pop3Calls::kInfo) {
        commands.push_back("LIST " + number);
        commands.push_back("RETR " + number);
      }
    }
    pipeline_.Plan(std::move(commands));
    Guarded([&] { SendAhead(); });
  } catch (...) {
    // The calls that follow meet the same trouble and report it.
  }
}

void TmsCustomPOP::Login() {
  ResetState();
  ConnectSocket();
  if (ReadLine() != 1) throw EServerError(LastReply());
  if (Security() == TSecurity::kStartTls) StartStls();
  Command("USER " + user_name_);
  SendSecretLine("PASS " + password_, kPassPrefixLength);
  if (ReadLine() != 1) throw EServerError(LastReply());
  Command("STAT");
  ReadStatistics();
}

void TmsCustomPOP::StartStls() {
  SendLine("STLS");
  // Without encryption the password would go out in clear text, which was
  // not asked for: no USER or PASS follows a refusal.
  if (ReadLine() != 1) {
    TlsError("The server " + HostPart(Server()) + " did not accept STLS: " + LastReply());
  }
  StartTls();
}

void TmsCustomPOP::ReadStatistics() {
  std::string_view rest = AfterStatus(LastReply());
  const std::size_t space = rest.find(' ');
  // A reply without both numbers leaves the old values.
  if (space == std::string_view::npos) return;
  message_count_ = ConvertInteger(rest.substr(0, space));
  rest.remove_prefix(space + 1);
  total_size_ = ConvertInteger(rest.substr(0, rest.find(' ')));
}

void TmsCustomPOP::Logout() { Command("QUIT"); }

int TmsCustomPOP::ListSize(int index) {
  Command("LIST " + MessageNumber(index));
  const std::string_view rest = AfterStatus(LastReply());
  const std::size_t space = rest.find(' ');
  // "+OK 3 1205" gives 1205; further words after the size make it 0.
  const std::string_view size =
      space == std::string_view::npos ? rest : rest.substr(space + 1);
  return StrToIntDef(size, 0);
}

void TmsCustomPOP::Retrieve(int index) {
  current_message_size_ = ListSize(index);
  if (OnRetrieving) OnRetrieving(*this, index);
  Command("RETR " + MessageNumber(index));
  TMemoryStream stream;
  ReceiveBlock(stream, current_message_size_);
  SaveMessage(index, stream);
  if (OnRetrieved) OnRetrieved(*this, index);
}

void TmsCustomPOP::Delete(int index) {
  if (OnDeleting) OnDeleting(*this, index);
  const std::string command = "DELE " + MessageNumber(index);
  if (!server_pipelining_) {
    SendLine(command);
    ReadLine();  // a refusal is not reported
    return;
  }
  // Its reply is read and dropped when a later reply is wanted; only
  // replies nobody waits for make room for it.
  Guarded([&] {
    while (pipeline_.WindowFull() && !pipeline_.AwaitingReply().front().reply_wanted) {
      DropReply();
    }
    SendLine(command);
    pipeline_.Sent(command, false);
  });
}

bool TmsCustomPOP::Uidl(int index, std::string& unique_id) {
  unique_id.clear();
  if (Exchange("UIDL " + MessageNumber(index)) != 1) return false;
  // "+OK 2 QhdPYR:00WBw1Ph7x7": the id is the word after the number.
  std::string_view rest = AfterStatus(LastReply());
  const std::size_t space = rest.find(' ');
  if (space == std::string_view::npos) return false;
  rest.remove_prefix(space + 1);
  const std::size_t end = rest.find_first_of(" \t");
  unique_id = std::string(rest.substr(0, end));
  return !unique_id.empty();
}

TmsRemotePOP::TmsRemotePOP() = default;
TmsRemotePOP::~TmsRemotePOP() = default;

void TmsRemotePOP::SetMessageDirectory(const std::string& directory) {
  message_directory_ = directory;
  if (!directory.empty() && directory.back() != '/') message_directory_ += '/';
}

void TmsRemotePOP::GetInfo(int index, TmsRemoteInfoItem& item) {
  item.SetSize(ListSize(index));
  Command("TOP " + MessageNumber(index) + " 1");
  TMemoryStream stream;
  ReceiveBlock(stream, -1);
  item.Headers().SetText(stream.Data());
  item.Headers().TruncateAtBlankLine();
}

void TmsRemotePOP::SaveMessage(int index, TMemoryStream& stream) {
  if (OnUserMessageSave) {
    OnUserMessageSave(*this, index, stream);
    return;
  }
  stream.SaveToFile(message_directory_ + "msg_" + std::to_string(index) + ".eml");
}

}  // namespace quillon
