#include "app/talker_listener.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <atomic>
#include <cstdio>

#include "app/dbus_talker.h"

namespace quillon {
namespace {

std::string Latin1(const QString& text) { return text.toLatin1().toStdString(); }

std::string EscapedByte(unsigned char byte) {
  switch (byte) {
    case '\0': return "\\0";
    case '\\': return "\\\\";
    case '\r': return "\\r";
    case '\n': return "\\n";
    case '\t': return "\\t";
    default: break;
  }
  if (byte < 0x20 || byte == 0x7f) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "\\x%02X", byte);
    return hex;
  }
  return std::string(1, static_cast<char>(byte));
}

const char* AnswerText(AdviseAnswer answer) {
  switch (answer) {
    case AdviseAnswer::kAccept: return "accepted";
    case AdviseAnswer::kRefuse: return "refused";
    case AdviseAnswer::kNone: return "unanswered";
  }
  return "unanswered";
}

QString NewConnectionName() {
  static std::atomic<int> counter{0};
  return QStringLiteral("quillon-talker-listener-%1").arg(++counter);
}

}  // namespace

std::string ShowCommandBytes(const std::string& bytes) {
  std::string shown;
  for (char byte : bytes) shown += EscapedByte(static_cast<unsigned char>(byte));
  return shown;
}

std::string PokeLine(const TalkerPoke& poke) {
  const std::string shown = ShowCommandBytes(poke.data);
  if (poke.item == kTalkerItem) return shown;
  return "[item \"" + ShowCommandBytes(poke.item) + "\"] " + shown;
}

void TalkerConversationObject::AdviseStart(const QString& item,
                                           const QString& format) {
  const AdviseAnswer answer = listener_.Options().advise;
  listener_.RecordEvent("AdviseStart " + Latin1(item) + " " + Latin1(format) +
                        " " + AnswerText(answer));
  if (!calledFromDBus()) return;
  if (answer == AdviseAnswer::kRefuse) {
    sendErrorReply(QString::fromLatin1(talker_bus::kAdviseRefusedError),
                   QStringLiteral("advise request refused"));
  } else if (answer == AdviseAnswer::kNone) {
    // Never answered: the caller's own limit ends its wait.
    setDelayedReply(true);
  }
}

void TalkerConversationObject::Poke(const QString& item, const QString& format,
                                    const QByteArray& data) {
  TalkerPoke poke;
  poke.item = Latin1(item);
  poke.format = Latin1(format);
  poke.data = data.toStdString();
  poke.reply_expected = calledFromDBus() && message().isReplyRequired();
  listener_.RecordEvent("Poke " + poke.item + " " + poke.format + " " +
                        (poke.reply_expected ? "reply " : "noreply ") +
                        ShowCommandBytes(poke.data));
  listener_.RecordPoke(std::move(poke));
}

void TalkerConversationObject::Disconnect() {
  listener_.RecordEvent("Disconnect");
}

QStringList TalkerInspectionObject::Events() {
  QStringList events;
  for (const std::string& event : listener_.Events()) {
    events << QString::fromLatin1(event.data(),
                                  static_cast<qsizetype>(event.size()));
  }
  return events;
}

QStringList TalkerInspectionObject::Pokes(QList<QByteArray>& data) {
  QStringList items;
  data.clear();
  for (const TalkerPoke& poke : listener_.Pokes()) {
    items << QString::fromLatin1(poke.item.data(),
                                 static_cast<qsizetype>(poke.item.size()));
    data << QByteArray(poke.data.data(),
                       static_cast<qsizetype>(poke.data.size()));
  }
  return items;
}

TalkerListener::TalkerListener(TalkerListenerOptions options)
    : options_(options), conversation_(*this), inspection_(*this) {}

TalkerListener::~TalkerListener() { Stop(); }

bool TalkerListener::Start(std::string& error) {
  Stop();
  // The inspection interface hands out the pokes as "aay".
  qDBusRegisterMetaType<QList<QByteArray>>();
  connection_name_ = NewConnectionName();
  connection_ = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(
      QDBusConnection::SessionBus, connection_name_));
  if (!connection_->isConnected()) {
    error = "no session bus: " + Latin1(connection_->lastError().message());
    Stop();
    return false;
  }
  const auto exported = QDBusConnection::ExportAllSlots;
  if (!connection_->registerObject(QString::fromLatin1(talker_bus::kTopicPath),
                                   &conversation_, exported) ||
      !connection_->registerObject(
          QString::fromLatin1(talker_bus::kListenerPath), &inspection_,
          exported)) {
    error = "cannot export the conversation objects";
    Stop();
    return false;
  }
  if ((options_.own_service && !TakeName(talker_bus::kServiceName, error)) ||
      (options_.own_presence && !TakeName(talker_bus::kPresenceName, error))) {
    Stop();
    return false;
  }
  return true;
}

// The service before the presence name: whoever sees the main application
// present can connect at once.
bool TalkerListener::TakeName(const char* name, std::string& error) {
  if (connection_->registerService(QString::fromLatin1(name))) return true;
  error = std::string("cannot own the bus name ") + name +
          " (another receiver running?)";
  return false;
}

void TalkerListener::Stop() {
  if (!connection_) return;
  if (connection_->isConnected()) {
    connection_->unregisterService(
        QString::fromLatin1(talker_bus::kPresenceName));
    connection_->unregisterService(
        QString::fromLatin1(talker_bus::kServiceName));
    connection_->unregisterObject(QString::fromLatin1(talker_bus::kTopicPath));
    connection_->unregisterObject(
        QString::fromLatin1(talker_bus::kListenerPath));
  }
  connection_.reset();
  QDBusConnection::disconnectFromBus(connection_name_);
}

QString TalkerListener::UniqueName() const {
  return connection_ ? connection_->baseService() : QString();
}

void TalkerListener::SetPokeHandler(
    std::function<void(const TalkerPoke&)> handler) {
  poke_handler_ = std::move(handler);
}

void TalkerListener::SetEventHandler(
    std::function<void(const std::string&)> handler) {
  event_handler_ = std::move(handler);
}

void TalkerListener::RecordPoke(TalkerPoke poke) {
  pokes_.push_back(std::move(poke));
  if (poke_handler_) poke_handler_(pokes_.back());
}

void TalkerListener::RecordEvent(std::string event) {
  events_.push_back(std::move(event));
  if (event_handler_) event_handler_(events_.back());
}

}  // namespace quillon
