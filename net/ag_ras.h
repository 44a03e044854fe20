// TagRas: makes sure a dial-up connection is up before a socket component
// opens. It finds a connection that is already up, or dials the entry named
// by Service with the configured credentials and waits for the result in
// the pump, reporting progress texts; on request it hangs up what it
// dialled. The system's connection manager does the work behind the
// ConnectionManager interface.
#pragma once

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "mail/time_counter.h"
#include "net/connection_manager.h"
#include "net/dial_up_link.h"

namespace quillon {

// A failure of the connection manager, with its code. The message is the
// manager's text for the code, or "RAS error no " and the decimal code.
class ERASError : public std::runtime_error {
 public:
  ERASError(int code, const std::string& message);
  int Code() const { return code_; }

 private:
  int code_;
};

// The message of an ERASError for `code`, asking `manager` for its text.
std::string RasErrorMessage(ConnectionManager& manager, int code);
ERASError MakeRasError(ConnectionManager& manager, int code);

// The progress text shown for a connection state (empty for states that
// have none).
std::string RasStatusText(int state);

// Texts of the boxes shown when Service is set.
std::string UnknownServiceText(const std::string& name);
inline constexpr char kNoRasInstalledText[] =
    "There does not seem to be RAS installed on\ryour system.";

class TagRas;
using TRASNotifyEvent =
    std::function<void(TagRas& sender, const std::string& RASStatusStr)>;
using TRasNotifyEvent = std::function<void(TagRas& sender)>;
// Shows an error message box with an OK button.
using RasErrorBox = std::function<void(const std::string& text)>;

class TagRas : public DialUpLink {
 public:
  // Lists the manager's entries. `manager` must outlive the component.
  explicit TagRas(ConnectionManager& manager);
  ~TagRas() override;
  TagRas(const TagRas&) = delete;
  TagRas& operator=(const TagRas&) = delete;

  // --- properties ---------------------------------------------------------
  // The entry names found at creation or by the last Service assignment.
  const std::vector<std::string>& Entries() const { return entries_; }
  const std::string& Service() const { return service_; }
  // Empty clears it; a name the manager does not know, or a system without
  // entries, is reported through ShowErrorBox instead (see the .cpp).
  void SetService(const std::string& name);
  const ConnectionHandle& Handle() const { return handle_; }
  bool MinimizeAtConnect() const { return minimize_at_connect_; }
  void SetMinimizeAtConnect(bool value) { minimize_at_connect_ = value; }
  const std::string& UserName() const { return user_name_; }
  void SetUserName(const std::string& name) { user_name_ = name; }
  const std::string& Password() const { return password_; }
  void SetPassword(const std::string& password) { password_ = password; }
  bool RemovePassword() const { return remove_password_; }
  void SetRemovePassword(bool value) { remove_password_ = value; }
  bool ForceService() const { return force_service_; }
  void SetForceService(bool value) { force_service_ = value; }
  // Seconds Connect waits for a dial to complete (default 120).
  int TimeOut() const { return clock_.Period(); }
  void SetTimeOut(int seconds) { clock_.SetPeriod(seconds); }
  int LastResult() const { return last_result_; }
  bool Dialled() const { return dialled_; }
  bool Connected() const { return connected_; }
  bool Cancelled() const { return cancelled_; }

  // --- events -------------------------------------------------------------
  TRASNotifyEvent OnStatusChange;
  TRasNotifyEvent OnDisconnected;
  // How the component shows its message boxes; by default the text goes
  // to standard error.
  RasErrorBox ShowErrorBox;

  // --- operations ---------------------------------------------------------
  // Uses a connection that is up, or dials Service and waits.
  void Connect() override;
  // HangUp, then ends a dial that is waiting with ECanceledError.
  void Disconnect() override;
  // Hangs up a connection this component dialled; forgets any other.
  void HangUp();
  // True when a usable connection is up; it becomes Handle().
  bool FindConnection();
  void ResetState();

 private:
  void ListEntries();
  bool ListsEntry(const std::string& name) const;
  DialParams ReadDialParams();
  void StartDial(const DialParams& params);
  void WaitForDial();
  void DialEvent(int state, int error);
  // Every manager failure raises through here.
  [[noreturn]] void RaiseRasError(int code);
  [[noreturn]] void HangUpAndRaise(int code);
  void MinimizeDialWindowAfterASecond();

  ConnectionManager& manager_;
  std::vector<std::string> entries_;
  std::string service_;
  ConnectionHandle handle_;
  bool minimize_at_connect_ = false;
  bool dialled_ = false;
  std::string user_name_;
  std::string password_;
  bool remove_password_ = true;
  bool force_service_ = true;
  int last_result_ = 0;
  TTimeCounter clock_;
  bool cancelled_ = false;
  bool connected_ = false;
  // Progress of a dial reaches the component only while this dial is the
  // current one: a new dial or ResetState replaces it, destruction ends it.
  std::shared_ptr<TagRas*> current_dial_;
};

}  // namespace quillon
