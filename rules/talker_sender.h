// Notifications to the suite's main application: the interface the retrieval
// frame and the received-message step send through, and the command texts.
// The transport (D-Bus, app/dbus_talker.h) is kept out of here so the callers
// can be tested without a bus.
#pragma once

#include <string>

namespace quillon {

// Names of the conversation as the main application knows them.
inline constexpr char kTalkerWindowClass[] = "TQVN4MainForm";
inline constexpr char kTalkerService[] = "qvn4";
inline constexpr char kTalkerTopic[] = "TalkerConversion";
inline constexpr char kTalkerItem[] = "TalkerCalls";
// The program started when the main window is there but its service is not.
inline constexpr char kTalkerServiceProgram[] = "qvn4";

class TalkerSender {
 public:
  virtual ~TalkerSender() = default;
  // Sends one command in a conversation of its own. Never raises; an absent
  // or unresponsive main application just gets nothing.
  virtual void SendTalkerCommand(const std::string& command) = 0;
  // The start of a run: "ShowDL:" (only when show_download_indicator, i.e.
  // the status window was not shown at start) and "RecvStart:" + address,
  // both in one conversation.
  virtual void SendStartPair(bool show_download_indicator,
                             const std::string& address) = 0;
};

// Sends nothing: the sender used until the program installs its own.
class NullTalkerSender final : public TalkerSender {
 public:
  void SendTalkerCommand(const std::string&) override {}
  void SendStartPair(bool, const std::string&) override {}
};

// The process-wide sender. Until InstallTalker names one, a NullTalkerSender.
TalkerSender& CurrentTalker();
// The caller keeps ownership and uninstalls (nullptr) before destroying it.
void InstallTalker(TalkerSender* sender);

// The command texts, numbers in decimal without padding. The terminating NUL
// is added by the transport, not here.
std::string ShowDLCommand();
std::string RecvStartCommand(const std::string& address);
std::string NowDLCommand(int number, int total);
std::string StatDLCommand(int percent);
std::string MessNewCommand(int folder_id, int record_number, int saved_count);
std::string RecvStopCommand(const std::string& address);

}  // namespace quillon
