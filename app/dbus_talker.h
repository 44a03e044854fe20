// The talker over the D-Bus session bus: each command is one short
// conversation with the main application (presence test, service, advise
// request, fire-and-forget poke, close). docs/talker.md describes the bus
// side for whoever writes the receiving end.
#pragma once

#include <QDBusConnection>
#include <QString>
#include <chrono>
#include <functional>
#include <string>

#include "rules/talker_sender.h"

namespace quillon {

// How the conversation names appear on the bus.
namespace talker_bus {
// Owned by the main application while its main window exists.
inline constexpr char kPresenceName[] = "org.corvane.window.TQVN4MainForm";
// The service "qvn4".
inline constexpr char kServiceName[] = "org.corvane.dde.qvn4";
// The topic "TalkerConversion" is the object every call addresses.
inline constexpr char kTopicPath[] = "/org/corvane/dde/TalkerConversion";
inline constexpr char kConversationInterface[] = "org.corvane.dde.Conversation";
inline constexpr char kAdviseStartMethod[] = "AdviseStart";
inline constexpr char kPokeMethod[] = "Poke";
inline constexpr char kDisconnectMethod[] = "Disconnect";
// 8-bit text ending in one NUL byte.
inline constexpr char kTextFormat[] = "text/plain;charset=windows-1252";
}  // namespace talker_bus

// What became of the last send (the program itself looks at none of this;
// the tool and the tests do).
enum class TalkerOutcome {
  kNothingYet,
  kNoMainApplication,    // presence name not owned (or no session bus)
  kServiceNotAnswering,  // service absent, also after the start attempt
  kPokedWithoutItem,     // advise refused or timed out: item name was empty
  kPoked,                // poked to "TalkerCalls"
};
const char* TalkerOutcomeText(TalkerOutcome outcome);

class DBusTalker final : public TalkerSender {
 public:
  struct Limits {
    // The advise request waits at most this long for the main application.
    std::chrono::milliseconds advise{1000};
    // After starting "qvn4": how long to wait for its service to appear.
    std::chrono::milliseconds service_start{1000};
    // Questions to the bus daemon itself (name owners, the closing ping).
    std::chrono::milliseconds bus_daemon{1000};
  };

  // On the session bus.
  DBusTalker();
  explicit DBusTalker(QDBusConnection connection);
  DBusTalker(QDBusConnection connection, Limits limits);

  void SendTalkerCommand(const std::string& command) override;
  void SendStartPair(bool show_download_indicator,
                     const std::string& address) override;

  TalkerOutcome LastOutcome() const { return last_outcome_; }
  // How often "qvn4" was started (at most once in the talker's life).
  int ServiceStarts() const { return service_starts_; }

 private:
  struct Link {
    bool open = false;
    QString item;  // empty when the advise request failed
  };

  // Steps 1 to 5 and, when the link opened, `pokes` and the close.
  void Converse(const std::function<void(const QString& item)>& pokes);
  bool MainApplicationPresent();
  Link OpenLink();
  bool ConnectToService();
  bool StartServiceAndWait();
  bool RequestAdvise();
  void Poke(const QString& item, const std::string& command);
  void SendPoke(const QString& item, const std::string& command);
  void CloseLink();
  bool NameHasOwner(const char* name);

  QDBusConnection connection_;
  Limits limits_;
  TalkerOutcome last_outcome_ = TalkerOutcome::kNothingYet;
  bool service_start_tried_ = false;
  int service_starts_ = 0;
};

}  // namespace quillon
