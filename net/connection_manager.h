// What the dial-up component (TagRas) needs of the system's connection
// manager: its entries, the connections that are up, dialling an entry with
// credentials while reporting progress, and hanging up. Results are codes:
// 0 for success, otherwise a dial-up error code (see ERASError).
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace quillon {

// Names a connection of the manager; empty names none.
using ConnectionHandle = std::string;

struct ActiveConnection {
  ConnectionHandle handle;
  std::string entry_name;
};

// The credentials of one entry, as read from and written to the manager.
struct DialParams {
  std::string entry_name;
  std::string user_name;
  std::string password;
  // Set by GetDialParams: the entry keeps a password of its own.
  bool password_stored = false;
};

// Connection states reported while dialling, with their status texts.
enum RasConnState : int {
  kRasOpenPort = 0,
  kRasPortOpened = 1,
  kRasConnectDevice = 2,
  kRasDeviceConnected = 3,
  kRasAllDevicesConnected = 4,
  kRasAuthenticate = 5,
  kRasAuthenticated = 14,
  kRasStartAuthentication = 19,
  kRasLogonNetwork = 21,
  kRasConnected = 8192,
  kRasDisconnected = 8193,
};

class ConnectionManager {
 public:
  // Progress of a dial: a state and an error code (0 when none). Called on
  // the pump's thread, from a pump dispatch, never from inside Dial itself.
  using DialNotify = std::function<void(int state, int error)>;

  virtual ~ConnectionManager() = default;

  // False when there is no connection manager on this system: the
  // component then lists nothing and never dials.
  virtual bool Available() const = 0;
  virtual int ListEntries(std::vector<std::string>& names) = 0;
  // Connections that are up, in the manager's order.
  virtual int ListConnections(std::vector<ActiveConnection>& connections) = 0;
  // The connection's IPv4 address as text, empty when it has none.
  virtual int GetIpAddress(const ConnectionHandle& connection,
                           std::string& address) = 0;
  // Fills user name, password and password_stored for params.entry_name.
  virtual int GetDialParams(DialParams& params) = 0;
  // Stores the credentials for the next dial of the entry; with
  // `remove_password` the manager keeps no password once it has dialled.
  virtual int SetDialParams(const DialParams& params, bool remove_password) = 0;
  // Starts dialling; progress goes to `notify` until HangUp. `handle`
  // names the call also when the start failed after creating it.
  virtual int Dial(const DialParams& params, DialNotify notify,
                   ConnectionHandle& handle) = 0;
  // Does not wait for the line to drop.
  virtual void HangUp(const ConnectionHandle& connection) = 0;
  // The manager's own text for an error code; false when it has none.
  virtual bool ErrorText(int code, std::string& text) = 0;
  // Minimises the manager's own dial window, if it shows one.
  virtual void MinimizeDialWindow() = 0;
};

}  // namespace quillon
