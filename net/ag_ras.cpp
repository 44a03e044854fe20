#include "net/ag_ras.h"

#include <algorithm>
#include <chrono>
#include <iostream>

#include "net/net_errors.h"
#include "platform/message_pump.h"
#include "platform/text.h"

namespace quillon {

namespace {

constexpr int kDefaultTimeOut = 120;
constexpr auto kWaitSlice = std::chrono::seconds(1);
constexpr auto kMinimizeDelay = std::chrono::seconds(1);

struct StatusText {
  int state;
  const char* text;
};

// The connection manager has no texts of its own for the states.
constexpr StatusText kStatusTexts[] = {
    {kRasOpenPort, "Initializing..."},
    {kRasPortOpened, "Dialing..."},
    {kRasConnectDevice, "Dialing..."},
    {kRasDeviceConnected, "Dialing..."},
    {kRasAllDevicesConnected, "Verifying user name and password"},
    {kRasAuthenticate, ""},
    {kRasAuthenticated, "User name and password verified"},
    {kRasStartAuthentication, "Verifying user name and password"},
    {kRasLogonNetwork, "Logging on to Network"},
    {kRasConnected, "Successfully connected"},
};

void WriteToStandardError(const std::string& text) {
  std::string shown = text;
  std::replace(shown.begin(), shown.end(), '\r', '\n');
  std::cerr << shown << std::endl;
}

}  // namespace

ERASError::ERASError(int code, const std::string& message)
    : std::runtime_error(message), code_(code) {}

std::string RasErrorMessage(ConnectionManager& manager, int code) {
  std::string text;
  if (manager.ErrorText(code, text)) return text;
  return "RAS error no " + std::to_string(code);
}

ERASError MakeRasError(ConnectionManager& manager, int code) {
  return ERASError(code, RasErrorMessage(manager, code));
}

std::string RasStatusText(int state) {
  for (const StatusText& entry : kStatusTexts) {
    if (entry.state == state) return entry.text;
  }
  return {};
}

std::string UnknownServiceText(const std::string& name) {
  return "Dial-up service name called \"" + name +
         "\" is not recognized.\rPlease check your settings!";
}

TagRas::TagRas(ConnectionManager& manager)
    : ShowErrorBox(WriteToStandardError), manager_(manager) {
  clock_.SetPeriod(kDefaultTimeOut);
  ListEntries();
}

TagRas::~TagRas() = default;

void TagRas::ListEntries() {
  entries_.clear();
  if (!manager_.Available()) return;
  std::vector<std::string> names;
  last_result_ = manager_.ListEntries(names);
  if (last_result_ == 0) entries_ = std::move(names);
}

bool TagRas::ListsEntry(const std::string& name) const {
  return std::find(entries_.begin(), entries_.end(), name) != entries_.end();
}

void TagRas::SetService(const std::string& name) {
  if (name.empty()) {
    service_.clear();
    return;
  }
  if (entries_.empty()) {
    // Service keeps its value: there is nothing it could be checked against.
    ShowErrorBox(kNoRasInstalledText);
    return;
  }
  ListEntries();
  if (ListsEntry(name)) {
    service_ = name;
  } else {
    ShowErrorBox(UnknownServiceText(name));
    service_.clear();
  }
}

void TagRas::Disconnect() {
  HangUp();
  cancelled_ = true;
}

void TagRas::HangUp() {
  // Only a call of this component's own is hung up, and only once.
  if (manager_.Available() && !entries_.empty() && dialled_ &&
      !handle_.empty()) {
    manager_.HangUp(handle_);
    if (OnDisconnected) OnDisconnected(*this);
  }
  current_dial_.reset();
  connected_ = false;
  handle_.clear();
}

void TagRas::ResetState() {
  current_dial_.reset();
  handle_.clear();
  connected_ = false;
  cancelled_ = false;
  clock_.SetExpired(false);
}

void TagRas::RaiseRasError(int code) { throw MakeRasError(manager_, code); }

void TagRas::HangUpAndRaise(int code) {
  HangUp();
  RaiseRasError(code);
}

bool TagRas::FindConnection() {
  if (!manager_.Available()) return false;
  std::vector<ActiveConnection> connections;
  last_result_ = manager_.ListConnections(connections);
  if (last_result_ != 0) RaiseRasError(last_result_);
  for (const ActiveConnection& connection : connections) {
    if (connection.entry_name == service_ && connection.handle != handle_) {
      handle_ = connection.handle;
      return true;
    }
  }
  if (force_service_) return false;
  for (const ActiveConnection& connection : connections) {
    std::string address;
    const int result = manager_.GetIpAddress(connection.handle, address);
    if (result != 0) RaiseRasError(result);
    if (!address.empty()) {
      handle_ = connection.handle;
      return true;
    }
  }
  return false;
}

void TagRas::Connect() {
  if (FindConnection() || service_.empty()) {
    connected_ = true;
    dialled_ = false;
    return;
  }
  if (!manager_.Available()) return;
  dialled_ = true;
  ResetState();
  StartDial(ReadDialParams());
  WaitForDial();
  if (last_result_ != 0) HangUpAndRaise(last_result_);
  if (cancelled_) throw ECanceledError();
  // A dial that ran out of time stays in progress; HangUp ends it.
  if (clock_.Expired()) throw ETimedOutError();
  if (minimize_at_connect_) MinimizeDialWindowAfterASecond();
}

DialParams TagRas::ReadDialParams() {
  DialParams params;
  params.entry_name = service_;
  const int read = manager_.GetDialParams(params);
  if (read != 0) RaiseRasError(read);
  const std::string user = Trim(user_name_);
  if (!user.empty()) params.user_name = user;
  if (!params.password_stored) {
    params.password = password_;
    const int written = manager_.SetDialParams(params, remove_password_);
    if (written != 0) RaiseRasError(written);
  }
  return params;
}

void TagRas::StartDial(const DialParams& params) {
  current_dial_ = std::make_shared<TagRas*>(this);
  std::weak_ptr<TagRas*> dial = current_dial_;
  auto notify = [dial](int state, int error) {
    if (auto component = dial.lock()) (*component)->DialEvent(state, error);
  };
  ConnectionHandle handle;
  const int result = manager_.Dial(params, notify, handle);
  handle_ = handle;
  if (result != 0) {
    last_result_ = result;
    HangUpAndRaise(result);
  }
}

void TagRas::WaitForDial() {
  clock_.Start();
  try {
    while (!connected_ && last_result_ == 0 && !cancelled_ &&
           !clock_.Expired()) {
      CurrentPump().WaitForEvents(MessagePump::Clock::now() + kWaitSlice);
    }
  } catch (const ERASError&) {
    // A failure reported once the line was up: the call goes before the
    // error is passed on.
    clock_.Stop();
    HangUp();
    throw;
  }
  clock_.Stop();
}

void TagRas::DialEvent(int state, int error) {
  if (OnStatusChange) OnStatusChange(*this, RasStatusText(state));
  connected_ = connected_ || state == kRasConnected;
  if (error == 0) return;
  last_result_ = error;
  if (connected_) RaiseRasError(error);
}

void TagRas::MinimizeDialWindowAfterASecond() {
  const auto deadline = MessagePump::Clock::now() + kMinimizeDelay;
  while (MessagePump::Clock::now() < deadline) {
    CurrentPump().WaitForEvents(deadline);
  }
  manager_.MinimizeDialWindow();
}

}  // namespace quillon
