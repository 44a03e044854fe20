#include "rules/run_state.h"

#include <stdexcept>

#include "net/socket.h"
#include "platform/ini_file.h"
#include "platform/text.h"
#include "store/record_file.h"

namespace quillon {

RunState& CurrentRunState() {
  static RunState state;
  return state;
}

std::string Pop3ServerAddress(const Pop3Parameters& parameters) {
  const std::string& host = parameters.Host;
  if (host.empty() || host.find(':') != std::string::npos) return host;
  return host + ":" + std::to_string(parameters.Port);
}

namespace {

std::uint16_t PortOf(const std::string& server, std::uint16_t default_port) {
  const auto port = static_cast<std::uint16_t>(TagSocket::PortPart(server));
  return port != 0 ? port : default_port;
}

// A value that is not one of the three would leave it open whether the
// password may go out in clear text: the run does not start.
std::optional<TSecurity> ReadSecurity(const IniFile& ini) {
  const std::string text = ini.ReadString(kLoginSection, "Security", "");
  if (Trim(text).empty()) return std::nullopt;
  const std::optional<TSecurity> security = ParseSecurity(text);
  if (!security) {
    throw std::runtime_error("Security=" + text + " in the parameter file is not none, "
                             "starttls or tls");
  }
  return security;
}

}  // namespace

TSecurity ConnectionSecurity(const std::optional<TSecurity>& asked,
                             const std::string& server, std::uint16_t default_port) {
  if (asked) return *asked;
  const std::uint16_t port = PortOf(server, default_port);
  return port == kPop3sPort || port == kImapsPort ? TSecurity::kTls : TSecurity::kNone;
}

TSecurity ReplySecurity(const std::string& smtp_server) {
  constexpr std::uint16_t kSmtpPort = 25;
  return PortOf(smtp_server, kSmtpPort) == kSmtpsPort ? TSecurity::kTls
                                                      : TSecurity::kOpportunistic;
}

void ReadRunParameters(const IniFile& ini, RunState& state,
                       const std::function<void()>& after_account,
                       const std::function<void()>& after_retrieved_name) {
  // Defaults stand in for a missing file, not for one that could not be
  // read: its keys would silently become other settings.
  if (ini.ReadError() != 0) {
    ThrowInOutError(ini.ReadError(), "reading the parameter file", ini.Path());
  }
  Pop3Parameters& pop3 = state.Pop3;
  pop3.Host = ini.ReadString(kLoginSection, "Host", "");
  pop3.User = ini.ReadString(kLoginSection, "User", "");
  pop3.Password = ini.ReadString(kLoginSection, "Password", "");
  pop3.TimeOut = ini.ReadInteger(kLoginSection, "TimeOut", 120);
  // The port is kept as a 16-bit word, as the client stores it.
  pop3.Port =
      static_cast<std::uint16_t>(ini.ReadInteger(kLoginSection, "Port", 110));
  pop3.Security = ReadSecurity(ini);
  pop3.CAFile = ini.ReadString(kLoginSection, "CAFile", "");
  state.DeleteMode = ini.ReadBool(kLoginSection, "Delete Messages", false);
  state.MaxMessages = ini.ReadInteger(kLoginSection, "Max Messages", 150);
  state.CurrentAccountId = ini.ReadInteger(kUserInfoSection, "Account", -1);
  if (after_account) after_account();
  state.ListMode = ini.ReadBool(kUserInfoSection, "By List", false);
  state.ListName = ini.ReadString(kUserInfoSection, "List Name", "");
  state.RetrievedName = ini.ReadString(kUserInfoSection, "Retrieved Name", "");
  if (after_retrieved_name) after_retrieved_name();
}

int LanguageIndexFromArguments(int argument_count,
                               const char* const* arguments) {
  if (argument_count < 2) return 0;
  int index = 0;
  return TryStrToInt(arguments[1], index) ? index : 0;
}

}  // namespace quillon
