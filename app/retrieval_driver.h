// The body of one run: announces it to the main application, connects the
// account's POP3 or IMAP4 client, fetches what is to be fetched (POP3 delete,
// keep or list mode, or the whole IMAP4 INBOX), hands each message to the
// received-message step, keeps the account's retrieved list, disconnects and
// announces the end. No Qt here: the status window is reached through
// RetrievalView, so the loops run against any pump and any server.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <unordered_set>

#include "mail/message.h"
#include "net/imap_client.h"
#include "net/pop3_client.h"
#include "rules/received_message.h"

namespace quillon {

// What the run shows and asks of its window.
class RetrievalView : public ReceivedMessageView {
 public:
  // The account's e-mail address as the window shows it.
  virtual std::string AccountAddress() const = 0;
  // Whether the window was shown when the program started.
  virtual bool ShownAtStart() const = 0;
  // The message counter ("1 of 3...").
  virtual void SetMessageCounterText(const std::string& text) = 0;
  // The transfer text after the progress bar.
  virtual void SetTransferText(const std::string& text) = 0;
  virtual int ProgressValue() const = 0;
  virtual void SetProgressValue(int value) = 0;
  virtual void RepaintProgress() = 0;
  // The text of a word-table id in the active language.
  virtual std::string GetWord(const std::string& id) const = 0;
};

// How the program ends after a run.
inline constexpr int kExitNormal = 0;
inline constexpr int kExitRunFailed = 1;  // an error ended the run
inline constexpr int kExitCancelled = 2;  // cancelled, or left early
inline constexpr int kExitConnectionFailed = 3;

enum class RetrievalEnd { kNormal, kEarly };

// The items fetched for every IMAP4 message.
inline constexpr char kImapFetchItems[] = "(FLAGS INTERNALDATE RFC822 ENVELOPE)";

// Flushes the data directory's files (message, recipients and index files)
// and the retrieved-list file `retrieved_name` to disk. False when the
// system could not confirm it.
bool MakeStoredFilesDurable(const std::string& retrieved_name);

class TRetrievalDriver {
 public:
  // The clients and the message belong to the window and outlive the
  // driver. Installs the transfer handlers on both clients.
  TRetrievalDriver(TmsRemotePOP& eMail, TImap4Client& IC,
                   TmsMessage& MessageSource, RetrievalView& view);
  TRetrievalDriver(const TRetrievalDriver&) = delete;
  TRetrievalDriver& operator=(const TRetrievalDriver&) = delete;

  // The received-message step, called for every message to be stored.
  std::function<void()> ProcessReceivedMessage;
  // Makes every file written so far durable; called once before a deletion
  // becomes final on the server. False stops the deletion.
  std::function<bool()> SyncStoredFiles;
  // Ends the program after a run that got to its normal end.
  std::function<void(int exit_code)> Terminate;

  // The run. A normal end calls Terminate with the run's exit code; an
  // early end returns kEarly without it; any other failure propagates after
  // the client was disconnected and "RecvStop:" sent. A POP3 run whose
  // stored files could not be made durable before QUIT leaves its messages
  // on the server and fails too.
  RetrievalEnd RunRetrieval();
  // The exit code of the run so far (after RunRetrieval: of the run).
  int ExitCode() const;

  // Duplicate detection: true when a line of the retrieved list begins
  // with `key` followed by "|". An empty key is never found.
  bool IsAlreadyRetrieved(const std::string& key);
  // Appends `line` and CR LF to the retrieved-list file (created when
  // missing); the list in memory stays as loaded.
  void AppendRetrievedLine(const std::string& line);
  // Deletes the oldest messages beyond "Max Messages" on the server and as
  // many lines from the top of the retrieved list, then saves the list.
  void TrimRetrievedList();
  // Loads RetrievedList from the file, when it exists, and indexes its keys.
  void LoadRetrievedList();
  // Searches made by IsAlreadyRetrieved since the last LoadRetrievedList.
  int KeySearches() const { return key_searches_; }

  // Transfer handlers.
  void eMailProgress(int Perc, int Transferred);
  void eMailUserMessageSave(int Num, TMemoryStream& Contents);
  void ICRetrieving(int Num);
  void ICProgress(int Perc, int Transferred);
  void ICRetrieved(int Num);

 private:
  enum class BodyEnd { kNormal, kEarly };

  bool IsImapAccount() const;
  void ConnectAccount();
  void ConnectImap();
  BodyEnd RunBody();
  BodyEnd DeleteMode();
  BodyEnd KeepMode();
  BodyEnd ListMode();
  void ImapBranch();
  // Finds the first message not yet listed, newest first; -1 when a cancel
  // was seen.
  int FindFirstNewMessage();
  // The frame's end, whatever the body did: list freed, client
  // disconnected, "RecvStop:" sent.
  void EndSession();
  void DisconnectAccount();
  void SendRecvStop();
  bool TryGetInfo(int index, TmsRemoteInfoItem& item);
  bool TryRetrieve(int index);
  void DeleteOnServer(int index);
  // Stores the downloaded message and lists it (keep and list modes).
  void StoreAndList(int index);
  // What a message is listed under: its Message-ID value, or, when that is
  // empty and the server has unique ids, "UIDL:" + the server's id.
  std::string ListedMessageId(int index, const std::string& message_id);
  void IndexRetrievedKeys();
  // Replaces RetrievedList with the file's lines when the file exists.
  void ReadRetrievedFile();
  bool MakeDeletionsDurable();
  std::string TransferText(int transferred, int size) const;
  void ShowProgress(int value);

  TmsRemotePOP& eMail_;
  TImap4Client& IC_;
  TmsMessage& MessageSource_;
  RetrievalView& view_;

  bool connection_failed_ = false;
  bool failed_ = false;
  bool left_early_ = false;
  bool deletions_sent_ = false;
  bool deletions_withheld_ = false;  // sent, then dropped unflushed
  bool server_has_uidl_ = true;
  std::map<int, std::string> unique_ids_;  // of this session, by index
  std::unordered_set<std::string> retrieved_keys_;
  int key_searches_ = 0;
};

}  // namespace quillon
