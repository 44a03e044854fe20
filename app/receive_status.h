// The status window of a run: the account's address, the message counter,
// a progress bar with the transfer text, a status line with the Minimize,
// Skip! and Cancel buttons, and the activity animation. It owns the run's
// timers and its word table; its handlers start the run and end the program.
#pragma once

#include <QEvent>
#include <functional>
#include <QWidget>
#include <string>
#include <vector>

#include "app/form_placement.h"
#include "app/multi_lang.h"
#include "app/pump_timer.h"
#include "app/retrieval_driver.h"
#include "mail/message.h"
#include "net/imap_client.h"
#include "net/mailboxes.h"
#include "net/pop3_client.h"
#include "net/smtp_client.h"
#include "rules/message_printer.h"
#include "rules/received_message.h"

class QFrame;
class QLabel;
class QProgressBar;
class QPushButton;
class QStatusBar;
class QTextEdit;

namespace quillon {

class TAnimate;

class TReceiveStatus : public QWidget, public RetrievalView {
  Q_OBJECT

 public:
  // `arguments`: the command-line arguments after the program name
  // (1: the parameter file, 2: the language index).
  explicit TReceiveStatus(std::vector<std::string> arguments,
                          QWidget* parent = nullptr);
  ~TReceiveStatus() override;

  // Shows the window when `show_state` is "normal" (1) or "show" (5); any
  // other state keeps it hidden. Remembers whether it was shown.
  void ShowAtStart(int show_state);

  // The status line's text (Windows-1252).
  void SetStatusText(const std::string& text) override;
  std::string StatusText() const;
  // What the run shows (Windows-1252 texts).
  std::string AccountAddress() const override;
  bool ShownAtStart() const override { return shown_at_start_; }
  void SetMessageCounterText(const std::string& text) override;
  void SetTransferText(const std::string& text) override;
  int ProgressValue() const override;
  void SetProgressValue(int value) override;
  void RepaintProgress() override;
  std::string GetWord(const std::string& id) const override;

  // How the program ends: 0 after a normal end of the run, else one of the
  // codes of app/retrieval_driver.h.
  int ExitCode() const { return exit_code_; }
  // The printer of the print rules; null prints nothing (a print rule then
  // fails as without a printer). Set before the run starts.
  void SetPrinter(MessagePrinter* printer) { printer_ = printer; }
  TRetrievalDriver& Driver() { return driver_; }
  // Ends the application after a normal end of the run (QCoreApplication::
  // exit unless replaced, as tests do to stay in their own loop).
  std::function<void(int exit_code)> TerminateApplication;
  // A label's text in Windows-1252.
  static std::string TextOf(const QLabel& label);

  // Handlers.
  void FormCreate();
  void StartaTimer();
  void HaltaTimer();
  void FormClose();
  void Button1Click();  // Cancel
  void Button2Click();  // Minimize
  void Button3Click();  // Skip!
  void BringStatusToFront();
  // Sees every event of the application once the run has started: a
  // restore request shows a window that was hidden at start. True when the
  // event was handled here.
  bool RestoreHook(QEvent* event);
  // Status-line handlers of the mail clients' events.
  void eMailOpen();
  void eMailClosing();
  void eMailClosed();
  void eMailCancel();
  void eMailError(const std::string& Msg);
  void eMailRetrieving(int Num);
  void eMailDeleting(int Num);
  void eMailProgress(int Perc, int Transferred);
  void eMailUserMessageSave(int Num, TMemoryStream& Contents);
  void ICResponse(const std::string& ResponseText);
  void ICClosed();
  void ICCancel();
  void ICRetrieving(int Num);
  void ICProgress(int Perc, int Transferred);
  void ICRetrieved(int Num);

  // The event that asks a hidden program to show its window (what the
  // desktop's restore command is to a window started hidden).
  static QEvent::Type RestoreRequestEvent();
  static void RequestRestore();

  // Components.
  QFrame* Panel1 = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* Label2 = nullptr;
  QLabel* Label3 = nullptr;
  QLabel* Label4 = nullptr;
  QLabel* Label5 = nullptr;
  QProgressBar* Progress = nullptr;
  QLabel* Label6 = nullptr;
  TAnimate* Animate1 = nullptr;
  QStatusBar* StatusBar1 = nullptr;
  QFrame* Panel2 = nullptr;
  QPushButton* Button1 = nullptr;
  QPushButton* Button2 = nullptr;
  QPushButton* Button3 = nullptr;
  QTextEdit* MessageText = nullptr;
  // The run's mail components: the POP3 client, the IMAP4 client with its
  // mailbox list, the received and the reply message, the reply sender.
  TmsRemotePOP eMail;
  TMailboxList MailboxList1;
  TImap4Client IC;
  TmsMessage MessageSource;
  TmsMessage ReplyMessage;
  TmsSMTP ReplyMail;
  TMultiLang MultiLang1{this};
  TPumpTimer Starta{std::chrono::milliseconds(10)};
  TPumpTimer Halta{std::chrono::milliseconds(200)};
  TFormPlacement FormPlacement1;

 signals:
  // The window has closed: the program ends.
  void Closed();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void CreateComponents();
  void ConnectMailComponents();
  QFrame* CreateStatusPanel();
  void LoadWordTable();
  // Step 5 of the start: parameters, account, user, rules.
  void ReadParametersAndAccount();
  void LookUpAccount();
  void DeleteParameterFile();
  void RunTheRetrieval();
  void ProcessWithStep();
  void ReportRunError(const std::string& message);
  // The program's end after a normal end of the run.
  void Terminate(int exit_code);
  std::string ParameterFileName() const;
  void PrintWindowTexts() const;

  std::vector<std::string> arguments_;
  bool shown_at_start_ = false;
  bool restore_hook_installed_ = false;
  QLabel* status_text_ = nullptr;
  std::unique_ptr<QObject> restore_filter_;
  MessagePrinter* printer_ = nullptr;
  // Nothing has run to its end until the run says so.
  int exit_code_ = kExitCancelled;
  TRetrievalDriver driver_{eMail, IC, MessageSource, *this};
};

// Files of the program's directory.
inline constexpr char kPlacementFileName[] = "qvnstat.ini";
inline constexpr char kPlacementSection[] = "RetrieveProgress";
inline constexpr char kReceiveIniFileName[] = "Receive.ini";
inline constexpr char kAnimationFileName[] = "working.avi";
inline constexpr char kInFolderName[] = "In";

}  // namespace quillon
