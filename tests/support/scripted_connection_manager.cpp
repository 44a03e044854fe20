#include "tests/support/scripted_connection_manager.h"

#include "platform/message_pump.h"

namespace quillon::test {

int ScriptedConnectionManager::ListEntries(std::vector<std::string>& names) {
  calls.push_back("ListEntries");
  if (list_entries_result == 0) names = entries;
  return list_entries_result;
}

int ScriptedConnectionManager::ListConnections(
    std::vector<ActiveConnection>& found) {
  calls.push_back("ListConnections");
  for (const ScriptedConnection& scripted : connections) {
    found.push_back(scripted.connection);
  }
  return list_connections_result;
}

int ScriptedConnectionManager::GetIpAddress(const ConnectionHandle& connection,
                                            std::string& address) {
  calls.push_back("GetIpAddress " + connection);
  for (const ScriptedConnection& scripted : connections) {
    if (scripted.connection.handle == connection) address = scripted.ip_address;
  }
  return ip_address_result;
}

int ScriptedConnectionManager::GetDialParams(DialParams& params) {
  calls.push_back("GetDialParams " + params.entry_name);
  const auto entry = stored.find(params.entry_name);
  if (entry == stored.end()) return 623;  // no such entry
  params.user_name = entry->second.user_name;
  params.password = entry->second.password;
  params.password_stored = !entry->second.password.empty();
  return 0;
}

int ScriptedConnectionManager::SetDialParams(const DialParams& params,
                                             bool remove_password) {
  calls.push_back("SetDialParams " + params.entry_name + " " +
                  params.user_name + (remove_password ? " removing" : " keeping") +
                  " password");
  DialParams& kept = stored[params.entry_name];
  kept.user_name = params.user_name;
  kept.password = remove_password ? "" : params.password;
  return 0;
}

int ScriptedConnectionManager::Dial(const DialParams& params,
                                    DialNotify notify,
                                    ConnectionHandle& handle) {
  calls.push_back("Dial " + params.entry_name);
  dialled.push_back(params);
  handle = "call" + std::to_string(++dial_count_);
  notify_ = std::move(notify);
  if (dial_result != 0) return dial_result;
  for (const auto& [state, error] : dial_progress) Report(state, error);
  return 0;
}

void ScriptedConnectionManager::Report(int state, int error) {
  DialNotify notify = notify_;
  CurrentPump().Post([notify, state, error] { notify(state, error); });
}

void ScriptedConnectionManager::HangUp(const ConnectionHandle& connection) {
  calls.push_back("HangUp " + connection);
  notify_ = [](int, int) {};
}

bool ScriptedConnectionManager::ErrorText(int code, std::string& text) {
  const auto found = error_texts.find(code);
  if (found == error_texts.end()) return false;
  text = found->second;
  return true;
}

}  // namespace quillon::test
