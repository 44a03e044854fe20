#include "app/dbus_talker.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QEventLoop>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
#include <functional>

#include "platform/message_pump.h"

namespace quillon {
namespace {

constexpr char kBusDaemonService[] = "org.freedesktop.DBus";
constexpr char kBusDaemonPath[] = "/org/freedesktop/DBus";
constexpr char kBusDaemonInterface[] = "org.freedesktop.DBus";

int ToTimeout(std::chrono::milliseconds limit) {
  return static_cast<int>(limit.count());
}

QDBusMessage ConversationCall(const char* method) {
  QDBusMessage call = QDBusMessage::createMethodCall(
      QString::fromLatin1(talker_bus::kServiceName),
      QString::fromLatin1(talker_bus::kTopicPath),
      QString::fromLatin1(talker_bus::kConversationInterface),
      QString::fromLatin1(method));
  // Starting the service is our own step (the "qvn4" program), never the
  // bus's activation.
  call.setAutoStartService(false);
  return call;
}

// Closes the conversation when the pokes are done or one of them raised.
class LinkCloser {
 public:
  explicit LinkCloser(std::function<void()> close) : close_(std::move(close)) {}
  LinkCloser(const LinkCloser&) = delete;
  LinkCloser& operator=(const LinkCloser&) = delete;
  ~LinkCloser() {
    try {
      close_();
    } catch (...) {
      // A close that fails leaves nothing open on our side.
    }
  }

 private:
  std::function<void()> close_;
};

// Lets pending events be handled inside a send. What another handler raises
// there is dropped, as the program drops every exception that reaches its
// message loop: a send must never fail the run that called it.
void ProcessMessagesDroppingFailures() {
  try {
    ProcessMessages();
  } catch (...) {
  }
}

// Runs one bus step; anything it raises counts as the step failing.
bool Guarded(const std::function<bool()>& step) {
  try {
    return step();
  } catch (...) {
    return false;
  }
}

}  // namespace

const char* TalkerOutcomeText(TalkerOutcome outcome) {
  switch (outcome) {
    case TalkerOutcome::kNothingYet: return "nothing sent yet";
    case TalkerOutcome::kNoMainApplication: return "main application absent";
    case TalkerOutcome::kServiceNotAnswering: return "service not answering";
    case TalkerOutcome::kPokedWithoutItem:
      return "advise request failed; poked without item";
    case TalkerOutcome::kPoked: return "poked";
  }
  return "unknown";
}

DBusTalker::DBusTalker() : DBusTalker(QDBusConnection::sessionBus()) {}

DBusTalker::DBusTalker(QDBusConnection connection)
    : DBusTalker(std::move(connection), Limits{}) {}

DBusTalker::DBusTalker(QDBusConnection connection, Limits limits)
    : connection_(std::move(connection)), limits_(limits) {}

void DBusTalker::SendTalkerCommand(const std::string& command) {
  Converse([&](const QString& item) { Poke(item, command); });
}

void DBusTalker::SendStartPair(bool show_download_indicator,
                               const std::string& address) {
  Converse([&](const QString& item) {
    if (show_download_indicator) Poke(item, ShowDLCommand());
    ProcessMessagesDroppingFailures();
    ProcessMessagesDroppingFailures();
    Poke(item, RecvStartCommand(address));
  });
}

// Never raises: neither the bus steps nor the message processing between
// them.
void DBusTalker::Converse(const std::function<void(const QString&)>& pokes) {
  if (!Guarded([this] { return MainApplicationPresent(); })) {
    last_outcome_ = TalkerOutcome::kNoMainApplication;
    return;
  }
  Link link;
  Guarded([&] {
    link = OpenLink();
    return link.open;
  });
  LinkCloser closer([&] {
    if (link.open) CloseLink();
  });
  // Lets the buttons, timers and the bus traffic be handled before the
  // poke, as every wait of the program does.
  ProcessMessagesDroppingFailures();
  if (!link.open) {
    last_outcome_ = TalkerOutcome::kServiceNotAnswering;
    return;
  }
  last_outcome_ = link.item.isEmpty() ? TalkerOutcome::kPokedWithoutItem
                                      : TalkerOutcome::kPoked;
  pokes(link.item);
}

bool DBusTalker::MainApplicationPresent() {
  return connection_.isConnected() && NameHasOwner(talker_bus::kPresenceName);
}

DBusTalker::Link DBusTalker::OpenLink() {
  Link link;
  if (!ConnectToService() && !StartServiceAndWait()) return link;
  link.open = true;
  // A refused or unanswered advise request leaves the item name empty: the
  // link still counts as open, but the pokes do not reach "TalkerCalls".
  if (RequestAdvise()) link.item = QString::fromLatin1(kTalkerItem);
  return link;
}

// The bus daemon answers for the service, as the conversation layer answers
// a connect: cheap, and a silent main application cannot stall it.
bool DBusTalker::ConnectToService() {
  return NameHasOwner(talker_bus::kServiceName);
}

// Starts "qvn4" from PATH once in the talker's life and waits (bounded) for
// its service; a program that never registers would otherwise be started
// again, with the wait, for every progress report of the run.
bool DBusTalker::StartServiceAndWait() {
  if (service_start_tried_) return false;
  const QString program = QStandardPaths::findExecutable(
      QString::fromLatin1(kTalkerServiceProgram));
  if (program.isEmpty()) return false;
  service_start_tried_ = true;
  if (QCoreApplication::instance() == nullptr) {
    // No event loop to wait in: connect once more right away.
    if (!QProcess::startDetached(program, {})) return false;
    ++service_starts_;
    return ConnectToService();
  }
  // Watch before starting, so a quick registration is not missed.
  QDBusServiceWatcher watcher(QString::fromLatin1(talker_bus::kServiceName),
                              connection_,
                              QDBusServiceWatcher::WatchForRegistration);
  QEventLoop loop;
  QObject::connect(&watcher, &QDBusServiceWatcher::serviceRegistered, &loop,
                   &QEventLoop::quit);
  QTimer::singleShot(limits_.service_start, &loop, &QEventLoop::quit);
  if (!QProcess::startDetached(program, {})) return false;
  ++service_starts_;
  if (!ConnectToService()) loop.exec();
  return ConnectToService();
}

bool DBusTalker::RequestAdvise() {
  QDBusMessage call = ConversationCall(talker_bus::kAdviseStartMethod);
  call << QString::fromLatin1(kTalkerItem)
       << QString::fromLatin1(talker_bus::kTextFormat);
  const QDBusMessage reply =
      connection_.call(call, QDBus::Block, ToTimeout(limits_.advise));
  return reply.type() == QDBusMessage::ReplyMessage;
}

// Fire and forget: sent without asking for a reply, the result is never
// looked at.
void DBusTalker::Poke(const QString& item, const std::string& command) {
  Guarded([&] {
    SendPoke(item, command);
    return true;
  });
}

void DBusTalker::SendPoke(const QString& item, const std::string& command) {
  QByteArray data(command.data(), static_cast<qsizetype>(command.size()));
  data.append('\0');
  QDBusMessage call = ConversationCall(talker_bus::kPokeMethod);
  call << item << QString::fromLatin1(talker_bus::kTextFormat) << data;
  connection_.send(call);
}

void DBusTalker::CloseLink() {
  connection_.send(ConversationCall(talker_bus::kDisconnectMethod));
  // The daemon answers only after it has read everything sent before, so
  // the pokes are on their way even when the program ends right after
  // "RecvStop:".
  QDBusMessage ping = QDBusMessage::createMethodCall(
      QString::fromLatin1(kBusDaemonService),
      QString::fromLatin1(kBusDaemonPath),
      QString::fromLatin1(kBusDaemonInterface), QStringLiteral("GetId"));
  connection_.call(ping, QDBus::Block, ToTimeout(limits_.bus_daemon));
}

bool DBusTalker::NameHasOwner(const char* name) {
  QDBusMessage call = QDBusMessage::createMethodCall(
      QString::fromLatin1(kBusDaemonService),
      QString::fromLatin1(kBusDaemonPath),
      QString::fromLatin1(kBusDaemonInterface),
      QStringLiteral("NameHasOwner"));
  call << QString::fromLatin1(name);
  const QDBusMessage reply =
      connection_.call(call, QDBus::Block, ToTimeout(limits_.bus_daemon));
  return reply.type() == QDBusMessage::ReplyMessage &&
         !reply.arguments().isEmpty() && reply.arguments().first().toBool();
}

}  // namespace quillon
