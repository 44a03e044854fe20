// The IMAP4 client (RFC 2060 as this program uses it, with LITERAL+): tags
// commands, sends their literals, reads responses with their literals
// inlined, keeps the mailbox model up to date from the untagged responses
// and reports each tagged completion as OK, NO or BAD.
//
// The retrieval driver uses it as: Server, UserName, Password; Connect;
// Capability; Lsub and List ("" and "%"); SetMailBox("INBOX"); when
// ExistsCount() > 0: clear CurrentMailbox(), FetchAll(false, "(FLAGS
// INTERNALDATE RFC822 ENVELOPE)"), Expunge; Disconnect.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "net/imap_flags.h"
#include "net/imap_line_assembler.h"
#include "net/imap_response.h"
#include "net/imap_tokens.h"
#include "net/mail_base.h"
#include "net/mailboxes.h"
#include "net/transfer_pace.h"
#include "platform/streams.h"

namespace quillon {

class TCustomImap;

enum class TResponseStatus { rsOK = 0, rsNO = 1, rsBAD = 2 };

using TMessageAlreadyExistEvent = std::function<void(TagSocket& sender, bool& overwrite)>;
using TResponseEvent = std::function<void(TagSocket& sender, const std::string& response_text)>;
using TValidateResponseEvent = std::function<void(
    TagSocket& sender, const std::string& response_text, TResponseStatus& resp_code)>;
using TListEvent = std::function<void(TagSocket& sender, const std::string& item)>;
using TInProgressErrorEvent = std::function<void(TCustomImap& sender, bool& retry)>;

class TCustomImap : public TmsMailBase {
 public:
  TCustomImap();

  const std::string& UserName() const { return user_name_; }
  virtual void SetUserName(const std::string& name) { user_name_ = name; }
  const std::string& Password() const { return password_; }
  void SetPassword(const std::string& password) { password_ = password; }
  // -1 until the server reports one.
  int ExistsCount() const { return exists_count_; }

  TmsNumNotifyEvent OnRetrieving;
  TmsNumNotifyEvent OnRetrieved;
  TmsNumNotifyEvent OnDeleting;  // never fired
  // Fired by FetchAll(keep = false) just before it marks the delivered
  // messages \Deleted: what was made of them must be safe by then. An
  // exception from the handler leaves every message on the server.
  TNotifyEvent OnDeletingDelivered;

 protected:
  // Sends `text` through SendStream, so OnProgress reports it.
  void SendText(const std::string& text);

  int exists_count_ = -1;

 private:
  std::string user_name_;
  std::string password_;
  TMemoryStream command_stream_;
};

class TImap4Client : public TCustomImap {
 public:
  TImap4Client();
  ~TImap4Client() override;

  // --- state ---------------------------------------------------------------
  int RecentCount() const { return recent_count_; }  // -1 until reported
  // The last untagged FLAGS list without its parentheses.
  const std::string& FlagList() const { return flag_list_; }
  TMessageFlagSet AllowedFlagSet() const { return allowed_flags_; }
  const std::string& MailBox() const { return mailbox_; }
  // Selects the mailbox when connected (EXAMINE or SELECT); only stores the
  // name otherwise. Any case of "inbox" is stored as "INBOX".
  void SetMailBox(const std::string& name);
  bool OpenAsReadOnly() const { return open_as_read_only_; }
  void SetOpenAsReadOnly(bool value) { open_as_read_only_ = value; }
  const std::string& CapabilityText() const { return capability_text_; }
  bool LiteralPlus() const { return literal_plus_; }
  bool NonSyncLiterals() const { return non_sync_literals_; }
  void SetNonSyncLiterals(bool value) { non_sync_literals_ = value; }
  bool UidSearch() const { return uid_search_; }
  void SetUidSearch(bool value) { uid_search_ = value; }
  int TagCounter() const { return tag_counter_; }
  bool CommandInProgress() const { return command_in_progress_; }
  TResponseStatus ResponseStatus() const { return response_status_; }
  // Limits on what one response may be (tests lower them).
  void SetReadLimits(ImapReadLimits limits);
  // Sequence numbers whose whole message the last FetchAll delivered.
  const std::vector<int>& DeliveredNumbers() const { return delivered_; }

  virtual TMailboxList* GetAllMailboxes();
  virtual void SetAllMailboxes(TMailboxList* list);
  void SetUserName(const std::string& name) override;
  // The mailbox named MailBox() in AllMailboxes, found or created.
  TMailBox& CurrentMailbox();

  // --- events --------------------------------------------------------------
  TMessageAlreadyExistEvent OnMessageAlreadyExist;
  TNotifyEvent OnServerSayBye;
  TResponseEvent OnResponse;
  TValidateResponseEvent OnValidate;
  TListEvent OnListMailboxes;
  TListEvent OnUID;
  TNotifyEvent OnMessageArrive;
  TResponseEvent OnAlert;
  TNotifyEvent OnCommandInProgress;
  TNotifyEvent OnCommandFinished;
  TInProgressErrorEvent OnInProgressConflict;

  // --- operations ----------------------------------------------------------
  void Open() override;
  void ResetState() override;
  void Cancel() override;
  void Login() override;
  void Logout() override;
  std::string Capability();
  void List(const std::string& reference, const std::string& pattern);
  void Lsub(const std::string& reference, const std::string& pattern);
  void Fetch(const std::string& set, const std::string& items);
  // Fetches "1:*"; unless `keep`, marks \Deleted exactly the messages this
  // fetch delivered whole, so a message that arrived meanwhile or could not
  // be loaded stays on the server.
  void FetchAll(bool keep, const std::string& items);
  void Store(const std::string& set, const std::string& flags);
  void Delete(const std::string& set);
  void Expunge();

  // --- protocol steps ------------------------------------------------------
  // Starts a command: returns its tag ("A0", "A1", ...).
  std::string SendTagged(const std::string& command);
  // Reads up to the line that begins with `tag`, handing untagged lines on.
  void GetResponse(const std::string& tag);
  void SetInProgress(bool value);
  virtual void ParseCapabilities();
  virtual void CapabilityItem(const std::string& word);
  virtual void HandleUntagged(const std::string& text);
  virtual void LineRead(const std::string& line) {}
  virtual void SendCommandText(const std::string& text);
  virtual void ReadResponseLine(std::string& line);

 private:
  void RunCommand(const std::string& command);
  // CAPABILITY, STARTTLS and the TLS handshake, before the login.
  void StartTlsSession(bool preauthenticated);
  void AwaitContinuation();
  void SendCommandPieces(const std::string& text);
  void TraceCommand(const std::string& text);
  void ReadLineBytes();
  void HandleExpunge(int number);
  void HandleFetch(const std::string& text);
  void HandleFlags(const std::string& text);
  void HandleMailboxLine(const std::string& text, bool lsub);
  void HandleOk(const std::string& text);
  TmsImapMessage& ServerMessage(int number, TmsImapMessage*& message);
  bool LoadContent(int number, TmsImapMessage*& message, std::string_view content,
                   bool header_only);
  void ApplyEnvelope(TmsImapMessage& message, const ImapEnvelope& envelope);

  int recent_count_ = -1;
  std::string flag_list_;
  TMessageFlagSet allowed_flags_;
  std::string mailbox_;
  bool open_as_read_only_ = true;
  std::string capability_text_;
  bool literal_plus_ = false;
  bool non_sync_literals_ = false;
  bool uid_search_ = false;
  int tag_counter_ = 0;
  bool command_in_progress_ = false;
  TResponseStatus response_status_ = TResponseStatus::rsOK;
  TMailboxList* all_mailboxes_ = nullptr;
  std::unique_ptr<TMailboxList> own_mailboxes_;
  ImapLineAssembler assembler_;
  TransferPace pace_;  // of the response being read
  bool recording_deliveries_ = false;
  std::vector<int> delivered_;
  bool login_in_progress_ = false;
};

}  // namespace quillon
