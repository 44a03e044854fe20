#include "app/network_manager_dialer.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QList>
#include <QMap>
#include <QVariant>
#include <cstdlib>

#include "platform/message_pump.h"

namespace quillon {

namespace {

namespace nm = network_manager_bus;
using NmSettings = QMap<QString, QVariantMap>;

// NetworkManager answers at once; a bus that does not is treated as
// NetworkManager not answering.
constexpr int kCallTimeoutMs = 10000;
constexpr char kPropertiesInterface[] = "org.freedesktop.DBus.Properties";
constexpr char kPasswordKey[] = "password";
constexpr char kSecretsKey[] = "secrets";
constexpr char kNoObject[] = "/";

QString Latin(const char* text) { return QString::fromLatin1(text); }

QDBusConnection ConnectToSystemBus(const QString& name) {
  const char* address = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
  if (address != nullptr && *address != '\0') {
    return QDBusConnection::connectToBus(QString::fromUtf8(address), name);
  }
  return QDBusConnection::connectToBus(QDBusConnection::SystemBus, name);
}

QDBusMessage MethodCall(const QString& path, const char* interface,
                        const char* method) {
  return QDBusMessage::createMethodCall(Latin(nm::kService), path,
                                        Latin(interface), Latin(method));
}

int CodeOfError(const QString& name) {
  static const char* const kNotAnswering[] = {
      "org.freedesktop.DBus.Error.NoReply",
      "org.freedesktop.DBus.Error.ServiceUnknown",
      "org.freedesktop.DBus.Error.NameHasNoOwner",
      "org.freedesktop.DBus.Error.Disconnected",
      "org.freedesktop.DBus.Error.TimedOut",
  };
  for (const char* candidate : kNotAnswering) {
    if (name == Latin(candidate)) return kNmNotAnswering;
  }
  if (name.endsWith(QStringLiteral(".UnknownConnection")) ||
      name.endsWith(QStringLiteral(".InvalidConnection"))) {
    return kNmNoEntry;
  }
  return kNmUnknownError;
}

// A value as D-Bus hands it over: nested containers come as QDBusArgument.
template <typename T>
T Unpack(const QVariant& value) {
  if (value.canConvert<QDBusArgument>()) {
    return qdbus_cast<T>(value.value<QDBusArgument>());
  }
  return value.value<T>();
}

// The password the settings of `setting` carry, directly or among the
// setting's secrets (VPN profiles).
QString PasswordIn(const QVariantMap& setting) {
  const QString direct = setting.value(Latin(kPasswordKey)).toString();
  if (!direct.isEmpty()) return direct;
  const auto secrets =
      Unpack<QMap<QString, QString>>(setting.value(Latin(kSecretsKey)));
  return secrets.value(Latin(kPasswordKey));
}

}  // namespace

int ErrorCodeOfStateReason(unsigned reason) {
  // Indexed by NMActiveConnectionStateReason.
  static constexpr int kCodes[] = {
      635,  // 0 unknown
      628,  // 1 none: the connection ended
      631,  // 2 user disconnected
      619,  // 3 device disconnected
      628,  // 4 service stopped
      720,  // 5 IP configuration invalid
      718,  // 6 connect time-out
      638,  // 7 service start time-out
      711,  // 8 service start failed
      691,  // 9 no secrets
      691,  // 10 login failed
      623,  // 11 connection removed
      651,  // 12 dependency failed
      608,  // 13 device realize failed
      608,  // 14 device removed
  };
  if (reason < std::size(kCodes)) return kCodes[reason];
  return kNmUnknownError;
}

NetworkManagerDialer::NetworkManagerDialer()
    : connection_name_(QStringLiteral("quillon-dialup-%1")
                           .arg(reinterpret_cast<quintptr>(this))),
      bus_(ConnectToSystemBus(connection_name_)) {
  qDBusRegisterMetaType<NmSettings>();
  available_ = bus_.isConnected() && bus_.interface() != nullptr &&
               bus_.interface()->isServiceRegistered(Latin(nm::kService));
}

NetworkManagerDialer::~NetworkManagerDialer() {
  dialling_.clear();
  QDBusConnection::disconnectFromBus(connection_name_);
}

int NetworkManagerDialer::Call(QDBusMessage call, QDBusMessage& reply) const {
  reply = bus_.call(call, QDBus::Block, kCallTimeoutMs);
  if (reply.type() == QDBusMessage::ReplyMessage) return 0;
  return CodeOfError(reply.errorName());
}

int NetworkManagerDialer::GetProperty(const QString& path,
                                      const char* interface, const char* name,
                                      QVariant& value) const {
  QDBusMessage call = QDBusMessage::createMethodCall(
      Latin(nm::kService), path, Latin(kPropertiesInterface),
      QStringLiteral("Get"));
  call << Latin(interface) << Latin(name);
  QDBusMessage reply;
  const int result = Call(call, reply);
  if (result != 0) return result;
  if (reply.arguments().isEmpty()) return kNmUnknownError;
  value = reply.arguments().at(0).value<QDBusVariant>().variant();
  return 0;
}

int NetworkManagerDialer::ReadEntry(const std::string& entry_name,
                                    QString& profile,
                                    QMap<QString, QVariantMap>& settings) {
  const int result = FindProfile(entry_name, profile);
  return result != 0 ? result : ReadSettings(profile, settings);
}

int NetworkManagerDialer::ReadSettings(const QString& profile,
                                       NmSettings& settings) {
  QDBusMessage reply;
  const int result = Call(
      MethodCall(profile, nm::kProfileInterface, "GetSettings"), reply);
  if (result != 0) return result;
  if (reply.arguments().isEmpty()) return kNmUnknownError;
  settings = Unpack<NmSettings>(reply.arguments().at(0));
  return 0;
}

int NetworkManagerDialer::ListProfiles(std::vector<Profile>& profiles) {
  QDBusMessage reply;
  const int result = Call(
      MethodCall(Latin(nm::kSettingsPath), nm::kSettingsInterface,
                 "ListConnections"),
      reply);
  if (result != 0) return result;
  if (reply.arguments().isEmpty()) return kNmUnknownError;
  for (const QDBusObjectPath& profile :
       Unpack<QList<QDBusObjectPath>>(reply.arguments().at(0))) {
    NmSettings settings;
    // A profile removed meanwhile is no entry.
    if (ReadSettings(profile.path(), settings) != 0) continue;
    const QString id = settings.value(QStringLiteral("connection"))
                           .value(QStringLiteral("id"))
                           .toString();
    if (!id.isEmpty()) profiles.push_back(Profile{profile.path(), id});
  }
  return 0;
}

int NetworkManagerDialer::ListEntries(std::vector<std::string>& names) {
  std::vector<Profile> profiles;
  const int result = ListProfiles(profiles);
  for (const Profile& profile : profiles) names.push_back(profile.id.toStdString());
  return result;
}

int NetworkManagerDialer::FindProfile(const std::string& entry_name,
                                      QString& path) {
  std::vector<Profile> profiles;
  const int result = ListProfiles(profiles);
  if (result != 0) return result;
  const QString wanted = QString::fromStdString(entry_name);
  for (const Profile& profile : profiles) {
    if (profile.id == wanted) {
      path = profile.path;
      return 0;
    }
  }
  return kNmNoEntry;
}

int NetworkManagerDialer::ListConnections(
    std::vector<ActiveConnection>& connections) {
  QVariant value;
  const int result = GetProperty(Latin(nm::kManagerPath),
                                 nm::kManagerInterface, "ActiveConnections",
                                 value);
  if (result != 0) return result;
  for (const QDBusObjectPath& active : Unpack<QList<QDBusObjectPath>>(value)) {
    QVariant state;
    QVariant id;
    // One that went away meanwhile is not up.
    if (GetProperty(active.path(), nm::kActiveInterface, "State", state) != 0 ||
        GetProperty(active.path(), nm::kActiveInterface, "Id", id) != 0) {
      continue;
    }
    if (state.toUInt() != kNmActivated) continue;
    connections.push_back(
        ActiveConnection{active.path().toStdString(), id.toString().toStdString()});
  }
  return 0;
}

int NetworkManagerDialer::GetIpAddress(const ConnectionHandle& connection,
                                       std::string& address) {
  address.clear();
  QVariant config;
  // A connection without an IPv4 configuration has no address.
  if (GetProperty(QString::fromStdString(connection), nm::kActiveInterface,
                  "Ip4Config", config) != 0) {
    return 0;
  }
  const QString config_path = Unpack<QDBusObjectPath>(config).path();
  if (config_path.isEmpty() || config_path == Latin(kNoObject)) return 0;
  QVariant data;
  if (GetProperty(config_path, nm::kIp4ConfigInterface, "AddressData", data) !=
      0) {
    return 0;
  }
  const auto addresses = Unpack<QList<QVariantMap>>(data);
  if (!addresses.isEmpty()) {
    address = addresses.first().value(QStringLiteral("address")).toString().toStdString();
  }
  return 0;
}

NetworkManagerDialer::AuthKeys NetworkManagerDialer::AuthKeysOf(
    const NmSettings& settings) {
  if (settings.contains(QStringLiteral("802-1x"))) {
    return {QStringLiteral("802-1x"), QStringLiteral("identity")};
  }
  const QString type = settings.value(QStringLiteral("connection"))
                           .value(QStringLiteral("type"))
                           .toString();
  if (type == QStringLiteral("pppoe") || type == QStringLiteral("gsm") ||
      type == QStringLiteral("cdma")) {
    return {type, QStringLiteral("username")};
  }
  if (type == QStringLiteral("vpn")) {
    return {type, QStringLiteral("user-name")};
  }
  return {};
}

bool NetworkManagerDialer::PasswordStored(const QString& profile,
                                          const AuthKeys& keys) {
  QDBusMessage call = MethodCall(profile, nm::kProfileInterface, "GetSecrets");
  call << keys.setting;
  QDBusMessage reply;
  if (Call(call, reply) != 0 || reply.arguments().isEmpty()) return false;
  const auto secrets = Unpack<NmSettings>(reply.arguments().at(0));
  return !PasswordIn(secrets.value(keys.setting)).isEmpty();
}

int NetworkManagerDialer::GetDialParams(DialParams& params) {
  QString profile;
  NmSettings settings;
  if (const int result = ReadEntry(params.entry_name, profile, settings); result != 0) {
    return result;
  }
  const AuthKeys keys = AuthKeysOf(settings);
  if (keys.setting.isEmpty()) {
    // Nothing to give: the profile needs no credentials.
    params.user_name.clear();
    params.password_stored = true;
    return 0;
  }
  params.user_name =
      settings.value(keys.setting).value(keys.user_key).toString().toStdString();
  params.password_stored = PasswordStored(profile, keys);
  return 0;
}

int NetworkManagerDialer::SetDialParams(const DialParams& params,
                                        bool remove_password) {
  QString profile;
  NmSettings settings;
  if (const int result = ReadEntry(params.entry_name, profile, settings); result != 0) {
    return result;
  }
  const AuthKeys keys = AuthKeysOf(settings);
  if (keys.setting.isEmpty()) return 0;
  QVariantMap& setting = settings[keys.setting];
  setting.insert(keys.user_key, QString::fromStdString(params.user_name));
  const QString password = QString::fromStdString(params.password);
  if (keys.setting == QStringLiteral("vpn")) {
    QMap<QString, QString> secrets;
    secrets.insert(Latin(kPasswordKey), password);
    setting.insert(Latin(kSecretsKey), QVariant::fromValue(secrets));
  } else {
    setting.insert(Latin(kPasswordKey), password);
  }
  // Unsaved: NetworkManager keeps the password in memory only, so it is
  // not written to the profile's file.
  QDBusMessage call = MethodCall(profile, nm::kProfileInterface,
                                 remove_password ? "UpdateUnsaved" : "Update");
  call << QVariant::fromValue(settings);
  QDBusMessage reply;
  const int result = Call(call, reply);
  return result == kNmUnknownError ? kNmCannotWrite : result;
}

int NetworkManagerDialer::Dial(const DialParams& params, DialNotify notify,
                               ConnectionHandle& handle) {
  QString profile;
  NmSettings settings;
  if (const int result = ReadEntry(params.entry_name, profile, settings); result != 0) {
    return result;
  }
  QString active = ActiveConnectionOf(profile);
  // Activating a profile that is active already would take it down and up
  // again under whoever uses it; dialling it joins the activation instead.
  if (active.isEmpty()) {
    const int result = Activate(profile, active);
    if (result != 0) return result;
  }
  handle = active.toStdString();
  const bool followed = dialling_.count(active) > 0;
  // A new dial reports its progress from the start.
  dialling_[active] = Dialling{std::move(notify),
                               !AuthKeysOf(settings).setting.isEmpty(),
                               kNmActiveUnknown};
  if (!followed) {
    bus_.connect(Latin(nm::kService), active, Latin(nm::kActiveInterface),
                 QStringLiteral("StateChanged"), this,
                 SLOT(ActiveStateChanged(QDBusMessage)));
  }
  // The state it reached before the signal was connected.
  QVariant state;
  if (GetProperty(active, nm::kActiveInterface, "State", state) == 0) {
    Advance(active, state.toUInt(), 0);
  }
  return 0;
}

QString NetworkManagerDialer::ActiveConnectionOf(const QString& profile) const {
  QVariant value;
  if (GetProperty(Latin(nm::kManagerPath), nm::kManagerInterface,
                  "ActiveConnections", value) != 0) {
    return {};
  }
  for (const QDBusObjectPath& active : Unpack<QList<QDBusObjectPath>>(value)) {
    QVariant connection;
    QVariant state;
    if (GetProperty(active.path(), nm::kActiveInterface, "Connection",
                    connection) != 0 ||
        GetProperty(active.path(), nm::kActiveInterface, "State", state) != 0) {
      continue;
    }
    const unsigned current = state.toUInt();
    if (Unpack<QDBusObjectPath>(connection).path() == profile &&
        (current == kNmActivating || current == kNmActivated)) {
      return active.path();
    }
  }
  return {};
}

int NetworkManagerDialer::Activate(const QString& profile, QString& active) {
  QDBusMessage call = MethodCall(Latin(nm::kManagerPath),
                                 nm::kManagerInterface, "ActivateConnection");
  call << QVariant::fromValue(QDBusObjectPath(profile))
       << QVariant::fromValue(QDBusObjectPath(Latin(kNoObject)))
       << QVariant::fromValue(QDBusObjectPath(Latin(kNoObject)));
  QDBusMessage reply;
  const int result = Call(call, reply);
  if (result != 0) return result;
  if (reply.arguments().isEmpty()) return kNmUnknownError;
  active = Unpack<QDBusObjectPath>(reply.arguments().at(0)).path();
  return 0;
}

void NetworkManagerDialer::ActiveStateChanged(const QDBusMessage& signal) {
  const QList<QVariant> arguments = signal.arguments();
  if (arguments.size() < 2) return;
  Advance(signal.path(), arguments.at(0).toUInt(), arguments.at(1).toUInt());
}

void NetworkManagerDialer::Advance(const QString& path, unsigned state,
                                   unsigned reason) {
  const auto found = dialling_.find(path);
  if (found == dialling_.end()) return;
  Dialling& dialling = found->second;
  // Reported from the pump, so that the component's handler runs (and may
  // raise) where the pump dispatches.
  auto report = [notify = dialling.notify](int ras_state, int error) {
    CurrentPump().Post([notify, ras_state, error] { notify(ras_state, error); });
  };
  if (state == kNmDeactivated) {
    if (dialling.state != kNmDeactivated) {
      report(kRasDisconnected, ErrorCodeOfStateReason(reason));
    }
    dialling.state = kNmDeactivated;
    return;
  }
  if (state != kNmActivating && state != kNmActivated) return;
  if (dialling.state == kNmActiveUnknown) {
    report(kRasPortOpened, 0);
    if (dialling.authenticates) report(kRasStartAuthentication, 0);
    dialling.state = kNmActivating;
  }
  if (state == kNmActivated && dialling.state == kNmActivating) {
    if (dialling.authenticates) report(kRasAuthenticated, 0);
    report(kRasConnected, 0);
    dialling.state = kNmActivated;
  }
}

void NetworkManagerDialer::HangUp(const ConnectionHandle& connection) {
  const QString active = QString::fromStdString(connection);
  if (dialling_.erase(active) > 0) {
    bus_.disconnect(Latin(nm::kService), active, Latin(nm::kActiveInterface),
                    QStringLiteral("StateChanged"), this,
                    SLOT(ActiveStateChanged(QDBusMessage)));
  }
  QDBusMessage call = MethodCall(Latin(nm::kManagerPath),
                                 nm::kManagerInterface, "DeactivateConnection");
  call << QVariant::fromValue(QDBusObjectPath(active));
  // NetworkManager answers at once; the connection goes down after.
  QDBusMessage reply;
  Call(call, reply);
}

bool NetworkManagerDialer::ErrorText(int code, std::string& text) {
  // NetworkManager has no texts for these codes.
  return false;
}

}  // namespace quillon
