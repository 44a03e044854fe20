#include "net/pop3_client.h"

#include <string_view>

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

int TmsCustomPOP::GetReplyCode(const std::string& reply) const {
  if (reply.empty()) return 0;
  if (reply[0] == '+') return 1;
  if (reply[0] == '-') return -1;
  return 0;
}

void TmsCustomPOP::Command(const std::string& command) {
  SendLine(command);
  if (ReadLine() != 1) throw EServerError(LastReply());
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
  Command("LIST " + std::to_string(index + 1));
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
  Command("RETR " + std::to_string(index + 1));
  TMemoryStream stream;
  ReceiveData(stream, current_message_size_);
  SaveMessage(index, stream);
  if (OnRetrieved) OnRetrieved(*this, index);
}

void TmsCustomPOP::Delete(int index) {
  if (OnDeleting) OnDeleting(*this, index);
  SendLine("DELE " + std::to_string(index + 1));
  ReadLine();  // a refusal is not reported
}

bool TmsCustomPOP::Uidl(int index, std::string& unique_id) {
  unique_id.clear();
  SendLine("UIDL " + std::to_string(index + 1));
  if (ReadLine() != 1) return false;
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
  Command("TOP " + std::to_string(index + 1) + " 1");
  TMemoryStream stream;
  ReceiveData(stream, -1);
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
