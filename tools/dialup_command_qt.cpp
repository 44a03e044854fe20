// quillon-tool dialup: the dial-up component over NetworkManager, by hand.
#include <iostream>
#include <string>

#include "app/network_manager_dialer.h"
#include "net/ag_ras.h"
#include "net/net_errors.h"
#include "platform/text.h"
#include "tools/command_registry.h"
#include "tools/qt_tool_application.h"

namespace quillon::tool {
namespace {

constexpr char kUsage[] =
    "  dialup list\n"
    "      the entries (NetworkManager connection profiles), one a line\n"
    "  dialup status\n"
    "      the connections that are up: entry name, tab, IPv4 address\n"
    "  dialup connect NAME [--user U --password P] [--timeout S]\n"
    "      bring NAME up as the program's dial-up component does, printing\n"
    "      the progress texts as they come; exit status 0 when connected,\n"
    "      1 on a dial-up error, 2 on time-out (the activation goes on)\n"
    "  dialup hangup NAME\n"
    "      take NAME down; exit status 1 when it is not up\n"
    "  Exit status 3: no NetworkManager on the system bus\n"
    "  (DBUS_SYSTEM_BUS_ADDRESS chooses another bus).\n";

constexpr int kExitFailed = 1;
constexpr int kExitTimedOut = 2;
constexpr int kExitNoManager = 3;

void Report(const std::string& what) {
  std::cerr << "quillon-tool dialup: " << what << "\n";
}

int List(NetworkManagerDialer& dialer) {
  std::vector<std::string> names;
  if (const int result = dialer.ListEntries(names); result != 0) {
    Report(RasErrorMessage(dialer, result));
    return kExitFailed;
  }
  for (const std::string& name : names) std::cout << name << "\n";
  return 0;
}

int Status(NetworkManagerDialer& dialer) {
  std::vector<ActiveConnection> connections;
  if (const int result = dialer.ListConnections(connections); result != 0) {
    Report(RasErrorMessage(dialer, result));
    return kExitFailed;
  }
  for (const ActiveConnection& connection : connections) {
    std::string address;
    dialer.GetIpAddress(connection.handle, address);
    std::cout << connection.entry_name << "\t" << address << "\n";
  }
  return 0;
}

struct ConnectOptions {
  std::string name;
  std::string user;
  std::string password;
  int timeout = 0;  // 0: the component's own
};

ConnectOptions ParseConnect(const Arguments& arguments) {
  if (arguments.size() < 2) throw UsageError{"connect needs an entry name"};
  ConnectOptions options;
  options.name = arguments[1];
  for (std::size_t i = 2; i < arguments.size(); i += 2) {
    if (i + 1 >= arguments.size()) {
      throw UsageError{arguments[i] + " needs a value"};
    }
    const std::string& value = arguments[i + 1];
    if (arguments[i] == "--user") {
      options.user = value;
    } else if (arguments[i] == "--password") {
      options.password = value;
    } else if (arguments[i] == "--timeout") {
      options.timeout = StrToIntDef(value, 0);
      if (options.timeout < 1) throw UsageError{"--timeout takes seconds"};
    } else {
      throw UsageError{"unknown option " + arguments[i]};
    }
  }
  return options;
}

int Connect(NetworkManagerDialer& dialer, const ConnectOptions& options) {
  TagRas ras(dialer);
  ras.ShowErrorBox = [](const std::string& text) {
    std::string shown = text;
    for (char& c : shown) {
      if (c == '\r') c = ' ';
    }
    Report(shown);
  };
  ras.OnStatusChange = [](TagRas&, const std::string& text) {
    std::cout << text << std::endl;  // flushed: read while dialling
  };
  ras.SetService(options.name);
  if (ras.Service().empty()) return kExitFailed;
  ras.SetUserName(options.user);
  ras.SetPassword(options.password);
  if (options.timeout > 0) ras.SetTimeOut(options.timeout);
  try {
    ras.Connect();
  } catch (const ERASError& error) {
    Report(error.what());
    return kExitFailed;
  } catch (const ETimedOutError& error) {
    Report(error.what());
    return kExitTimedOut;
  }
  if (!ras.Dialled()) std::cout << options.name << " is up already" << std::endl;
  return 0;
}

int HangUp(NetworkManagerDialer& dialer, const std::string& name) {
  std::vector<ActiveConnection> connections;
  if (const int result = dialer.ListConnections(connections); result != 0) {
    Report(RasErrorMessage(dialer, result));
    return kExitFailed;
  }
  for (const ActiveConnection& connection : connections) {
    if (connection.entry_name == name) {
      dialer.HangUp(connection.handle);
      return 0;
    }
  }
  Report(name + " is not up");
  return kExitFailed;
}

int DialupCommand(const Arguments& arguments) {
  if (arguments.empty()) throw UsageError{"missing sub-command"};
  const std::string& sub = arguments[0];
  const bool takes_name = sub == "connect" || sub == "hangup";
  if ((sub == "list" || sub == "status") && arguments.size() != 1) {
    throw UsageError{sub + " takes no arguments"};
  }
  if (sub == "hangup" && arguments.size() != 2) {
    throw UsageError{"hangup takes one entry name"};
  }
  if (!takes_name && sub != "list" && sub != "status") {
    throw UsageError{"unknown sub-command " + sub};
  }
  const ConnectOptions options =
      sub == "connect" ? ParseConnect(arguments) : ConnectOptions{};
  QtToolApplication application;
  NetworkManagerDialer dialer;
  if (!dialer.Available()) {
    Report("no NetworkManager on the system bus");
    return kExitNoManager;
  }
  if (sub == "list") return List(dialer);
  if (sub == "status") return Status(dialer);
  if (sub == "connect") return Connect(dialer, options);
  return HangUp(dialer, arguments[1]);
}

const CommandRegistration registration("dialup", kUsage, DialupCommand);

}  // namespace
}  // namespace quillon::tool
