// A ConnectionManager that plays a script: its entries, the connections
// that are up, the credentials each entry keeps, the result codes of its
// operations and the progress a dial reports (posted to the pump, as a
// manager reports it). Every call it gets is recorded, in order.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "net/connection_manager.h"

namespace quillon::test {

struct ScriptedConnection {
  ActiveConnection connection;
  std::string ip_address;
};

class ScriptedConnectionManager final : public ConnectionManager {
 public:
  bool Available() const override { return available; }
  int ListEntries(std::vector<std::string>& names) override;
  int ListConnections(std::vector<ActiveConnection>& connections) override;
  int GetIpAddress(const ConnectionHandle& connection,
                   std::string& address) override;
  int GetDialParams(DialParams& params) override;
  int SetDialParams(const DialParams& params, bool remove_password) override;
  int Dial(const DialParams& params, DialNotify notify,
           ConnectionHandle& handle) override;
  void HangUp(const ConnectionHandle& connection) override;
  bool ErrorText(int code, std::string& text) override;
  void MinimizeDialWindow() override { calls.push_back("MinimizeDialWindow"); }

  // Posts one more progress report of the last dial.
  void Report(int state, int error);

  bool available = true;
  std::vector<std::string> entries;
  std::vector<ScriptedConnection> connections;
  // What each entry keeps (user name, password; password_stored is set
  // from a non-empty password).
  std::map<std::string, DialParams> stored;
  std::map<int, std::string> error_texts;
  int list_entries_result = 0;
  int list_connections_result = 0;
  int ip_address_result = 0;
  int dial_result = 0;
  // Reported, in order, after Dial returns.
  std::vector<std::pair<int, int>> dial_progress;

  std::vector<std::string> calls;
  std::vector<DialParams> dialled;

 private:
  DialNotify notify_;
  int dial_count_ = 0;
};

}  // namespace quillon::test
