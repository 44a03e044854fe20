// The run parameters from the parameter file and the process-wide run
// state shared by the status window, the retrieval loops and the received-
// message step. No Qt here.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "net/tls_session.h"
#include "platform/string_list.h"

namespace quillon {

class IniFile;

// The POP3 connection settings of a run (for the POP3 client).
struct Pop3Parameters {
  std::string Host;
  std::string User;
  std::string Password;
  int TimeOut = 120;         // seconds
  std::uint16_t Port = 110;  // the client's DefaultPort
  // Encryption of the run's connection (POP3 or IMAP4); nothing when the
  // file does not say, and the port decides (ConnectionSecurity).
  std::optional<TSecurity> Security;
  std::string CAFile;  // empty: the system's trust store
};

// The encryption of a connection to `server` (host, optionally ":port") by
// a client whose port is `default_port` without one: `asked` when given,
// else TLS on the ports that are TLS from the start (995, 993) and none on
// every other.
TSecurity ConnectionSecurity(const std::optional<TSecurity>& asked,
                             const std::string& server, std::uint16_t default_port);

// The encryption of replies and forwards sent to `smtp_server`: TLS on
// port 465, else STARTTLS when the server offers it.
TSecurity ReplySecurity(const std::string& smtp_server);

// The POP3 client's server: Host with the parameter file's Port as its
// port part, so the port is used even where the service database names
// another one. A Host that already has a port part (or an IPv6 address) is
// taken as it is.
std::string Pop3ServerAddress(const Pop3Parameters& parameters);

struct RunState {
  bool CancelRequested = false;
  bool SkipRequested = false;
  int CurrentAccountId = -1;
  int CurrentUserId = 0;
  std::string RetrievedName;  // retrieved-list file
  std::string ListName;       // list file of list mode
  bool DeleteMode = false;
  bool ListMode = false;
  int MaxMessages = 150;
  int LanguageIndex = 0;
  Pop3Parameters Pop3;
  TStringList RetrievedList;
  int CurrentMessageSize = 0;  // octets; 0 = no size known
  std::string CurrentMessageId;
  double CurrentMessageDate = 0;  // day count with the time as fraction
  int SavedCount = 0;
};

// The one run state of the process.
RunState& CurrentRunState();

// Parameter-file sections and keys.
inline constexpr char kLoginSection[] = "Login";
inline constexpr char kUserInfoSection[] = "UserInfo";

// Reads the parameter file's keys in their fixed order into `state`:
// "Login" Host, User, Password, TimeOut, Port, Security, CAFile, Delete
// Messages, Max Messages,
// then "UserInfo" Account, By List, List Name, Retrieved Name. Missing keys
// give their defaults; a file that exists but cannot be read throws
// EInOutError naming it. `after_account` runs right after "Account" was read
// (the account and its user are looked up there), `after_retrieved_name`
// after the last key (the user's rules). An exception from either ends the
// reading there.
void ReadRunParameters(const IniFile& ini, RunState& state,
                       const std::function<void()>& after_account,
                       const std::function<void()>& after_retrieved_name);

// The language index from the command line: argument 2 when there are more
// than one argument (`arguments` excludes the program name), 0 when it is
// not an integer.
int LanguageIndexFromArguments(int argument_count,
                               const char* const* arguments);

}  // namespace quillon
