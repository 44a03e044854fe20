// The connection manager of the dial-up component on Linux: NetworkManager
// over D-Bus. Entries are its connection profiles (by connection.id), the
// connections that are up are its activated active connections, dialling
// activates a profile and follows the active connection's StateChanged
// signal, hanging up deactivates it. docs/dialup.md has the state and
// error-code tables.
#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <map>
#include <string>
#include <vector>

#include "net/connection_manager.h"

namespace quillon {

namespace network_manager_bus {
inline constexpr char kService[] = "org.freedesktop.NetworkManager";
inline constexpr char kManagerPath[] = "/org/freedesktop/NetworkManager";
inline constexpr char kManagerInterface[] = "org.freedesktop.NetworkManager";
inline constexpr char kSettingsPath[] =
    "/org/freedesktop/NetworkManager/Settings";
inline constexpr char kSettingsInterface[] =
    "org.freedesktop.NetworkManager.Settings";
inline constexpr char kProfileInterface[] =
    "org.freedesktop.NetworkManager.Settings.Connection";
inline constexpr char kActiveInterface[] =
    "org.freedesktop.NetworkManager.Connection.Active";
inline constexpr char kIp4ConfigInterface[] =
    "org.freedesktop.NetworkManager.IP4Config";
}  // namespace network_manager_bus

// NMActiveConnectionState.
enum NmActiveState : unsigned {
  kNmActiveUnknown = 0,
  kNmActivating = 1,
  kNmActivated = 2,
  kNmDeactivating = 3,
  kNmDeactivated = 4,
};

// Error codes for what the bus reports.
inline constexpr int kNmNoEntry = 623;       // no profile by that name
inline constexpr int kNmCannotWrite = 624;   // credentials not stored
inline constexpr int kNmUnknownError = 635;  // any other failed call
inline constexpr int kNmNotAnswering = 711;  // NetworkManager did not answer

// The error code of a NMActiveConnectionStateReason.
int ErrorCodeOfStateReason(unsigned reason);

class NetworkManagerDialer final : public QObject, public ConnectionManager {
  Q_OBJECT

 public:
  // On the system bus, or on the bus DBUS_SYSTEM_BUS_ADDRESS names.
  NetworkManagerDialer();
  ~NetworkManagerDialer() override;

  bool Available() const override { return available_; }
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
  // NetworkManager shows no dial window of its own.
  void MinimizeDialWindow() override {}

 private slots:
  void ActiveStateChanged(const QDBusMessage& signal);

 private:
  struct Dialling {
    DialNotify notify;
    bool authenticates = false;
    unsigned state = kNmActiveUnknown;
  };
  // Where a profile's credentials live: the setting (empty when the
  // profile authenticates with none) and the key of the user name.
  struct AuthKeys {
    QString setting;
    QString user_key;
  };

  int Call(QDBusMessage call, QDBusMessage& reply) const;
  int GetProperty(const QString& path, const char* interface,
                  const char* name, QVariant& value) const;
  struct Profile {
    QString path;
    QString id;  // connection.id, the entry name
  };
  int ListProfiles(std::vector<Profile>& profiles);
  // The profile's settings path for an entry name.
  int FindProfile(const std::string& entry_name, QString& path);
  int ReadSettings(const QString& profile, QMap<QString, QVariantMap>& settings);
  // The profile named `entry_name` and its settings.
  int ReadEntry(const std::string& entry_name, QString& profile,
                QMap<QString, QVariantMap>& settings);
  bool PasswordStored(const QString& profile, const AuthKeys& keys);
  static AuthKeys AuthKeysOf(const QMap<QString, QVariantMap>& settings);
  // The active connection of `profile` that is activating or activated;
  // empty when there is none.
  QString ActiveConnectionOf(const QString& profile) const;
  int Activate(const QString& profile, QString& active);
  void Advance(const QString& path, unsigned state, unsigned reason);

  QString connection_name_;
  QDBusConnection bus_;
  bool available_ = false;
  std::map<QString, Dialling> dialling_;  // by active connection path
};

}  // namespace quillon
