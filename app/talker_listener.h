// A receiver that takes the main application's place on the bus: it owns the
// presence name and the service, answers (or refuses, or ignores) the advise
// request and keeps every poke. quillon-tool talker listen prints them; the
// tests ask it over the bus what arrived.
#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quillon {

namespace talker_bus {
// The listener's own inspection interface; not part of what the main
// application has to offer.
inline constexpr char kListenerPath[] = "/org/corvane/dde/TalkerListener";
inline constexpr char kListenerInterface[] = "org.corvane.dde.TalkerListener";
inline constexpr char kAdviseRefusedError[] =
    "org.corvane.dde.Error.AdviseRefused";
}  // namespace talker_bus

enum class AdviseAnswer { kAccept, kRefuse, kNone };

struct TalkerListenerOptions {
  bool own_presence = true;  // stands for the main window being there
  bool own_service = true;
  AdviseAnswer advise = AdviseAnswer::kAccept;
};

struct TalkerPoke {
  std::string item;
  std::string format;
  std::string data;  // as received, the terminating NUL included
  bool reply_expected = false;
};

// The bytes of a command as one printable line: "\0" for NUL, "\\" for a
// backslash, "\r", "\n", "\t" and "\xHH" for other control bytes.
std::string ShowCommandBytes(const std::string& bytes);
// The line the tool prints for a poke: the shown bytes, prefixed with
// [item "NAME"] when the poke did not go to "TalkerCalls".
std::string PokeLine(const TalkerPoke& poke);

class TalkerListener;

// The topic object: what the main application implements.
class TalkerConversationObject : public QObject, protected QDBusContext {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.corvane.dde.Conversation")
 public:
  explicit TalkerConversationObject(TalkerListener& listener)
      : listener_(listener) {}

 public Q_SLOTS:
  void AdviseStart(const QString& item, const QString& format);
  void Poke(const QString& item, const QString& format, const QByteArray& data);
  void Disconnect();

 private:
  TalkerListener& listener_;
};

// Lets a test ask, in order with its own earlier messages, what arrived.
class TalkerInspectionObject : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.corvane.dde.TalkerListener")
 public:
  explicit TalkerInspectionObject(TalkerListener& listener)
      : listener_(listener) {}

 public Q_SLOTS:
  // One line per call received: "AdviseStart ITEM FORMAT ANSWER",
  // "Poke ITEM FORMAT reply|noreply SHOWN-BYTES", "Disconnect".
  QStringList Events();
  // Items of the pokes in order; `data` gets their bytes.
  QStringList Pokes(QList<QByteArray>& data);

 private:
  TalkerListener& listener_;
};

class TalkerListener {
 public:
  explicit TalkerListener(TalkerListenerOptions options);
  ~TalkerListener();
  TalkerListener(const TalkerListener&) = delete;
  TalkerListener& operator=(const TalkerListener&) = delete;

  // Opens a connection of its own to the session bus, exports the objects
  // and takes the names. Call it in the thread that is to answer the calls.
  bool Start(std::string& error);
  void Stop();
  QString UniqueName() const;

  // Called for every poke / every call, in the listener's thread.
  void SetPokeHandler(std::function<void(const TalkerPoke&)> handler);
  void SetEventHandler(std::function<void(const std::string&)> handler);

  const TalkerListenerOptions& Options() const { return options_; }
  const std::vector<TalkerPoke>& Pokes() const { return pokes_; }
  const std::vector<std::string>& Events() const { return events_; }

 private:
  friend class TalkerConversationObject;
  void RecordPoke(TalkerPoke poke);
  void RecordEvent(std::string event);
  bool TakeName(const char* name, std::string& error);

  TalkerListenerOptions options_;
  QString connection_name_;
  std::unique_ptr<QDBusConnection> connection_;
  TalkerConversationObject conversation_;
  TalkerInspectionObject inspection_;
  std::vector<TalkerPoke> pokes_;
  std::vector<std::string> events_;
  std::function<void(const TalkerPoke&)> poke_handler_;
  std::function<void(const std::string&)> event_handler_;
};

}  // namespace quillon
