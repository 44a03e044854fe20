// What the IMAP4 client knows about one account's server: a list of
// mailboxes, each with its attributes and the messages fetched from it.
//
// Ownership: a TamMessageList owns its messages and a TMailboxList owns its
// mailboxes (std::unique_ptr inside). Messages and mailboxes are made by
// their owner (TmsImapMessage::Create, TMailboxList::CreateMailbox), move
// between owners only through the calls below, and are destroyed by their
// owner (Delete, Clear, the owner's destruction). A message that leaves
// every list, or a mailbox that leaves its list, is handed to the caller.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "mail/message.h"
#include "net/imap_flags.h"

namespace quillon {

class TamListMessage;
class TMailBox;
class TMailboxList;

// A component that owns a list of messages, in insertion order.
class TamMessageList {
 public:
  TamMessageList() = default;
  virtual ~TamMessageList();
  TamMessageList(const TamMessageList&) = delete;
  TamMessageList& operator=(const TamMessageList&) = delete;

  int Count() const { return static_cast<int>(messages_.size()); }
  TmsMessage& Items(int index) const;
  // Frees every message, last first.
  void Clear();
  // Frees message `index` and closes the gap.
  void Delete(int index);
  // Frees `message` when this list holds it.
  void Remove(const TmsMessage* message);
  // Takes ownership and appends; returns the index.
  int Add(std::unique_ptr<TmsMessage> message);
  int IndexOf(const TmsMessage* message) const;
  // Gives up `message` (the gap is closed); nullptr when not held.
  std::unique_ptr<TmsMessage> Extract(const TmsMessage* message);

 private:
  std::vector<std::unique_ptr<TmsMessage>> messages_;
};

// A message that knows the list that owns it (none for a message the
// caller holds itself).
class TamListMessage : public TmsMessage {
 public:
  TamListMessage() = default;
  TamMessageList* OwnerList() const { return owner_list_; }

 private:
  friend class TamMessageList;
  TamMessageList* owner_list_ = nullptr;
};

// Where a message stands against the server.
enum class TImapMessageState : std::uint8_t {
  kInStep = 0,     // as the server has it
  kLocalCopy = 1,  // a copy made here; not on the server
  kExpunged = 2    // the server reported its expunge
};

class TmsImapMessage : public TamListMessage {
 public:
  // A message the caller holds itself, in no mailbox.
  TmsImapMessage() = default;
  // A new message owned by `mailbox` (appended to its list).
  static TmsImapMessage& Create(TMailBox& mailbox);

  TImapMessageState State() const { return state_; }
  virtual void SetState(TImapMessageState state) { state_ = state; }
  TMailBox* Mailbox() const { return mailbox_; }
  // Moves the message into `mailbox`'s list; with nullptr it leaves its
  // list and the caller receives it. A message that no list owns can only
  // be given none (std::logic_error otherwise).
  [[nodiscard]] virtual std::unique_ptr<TmsImapMessage> SetMailbox(TMailBox* mailbox);

  int MsgNo() const { return msg_no_; }
  void SetMsgNo(int msg_no) { msg_no_ = msg_no; }
  const std::string& OriginalMailbox() const { return original_mailbox_; }
  // A new non-empty name moves the message into the mailbox of that name
  // (found or created); an empty name takes it out of its mailbox, and the
  // caller receives it.
  [[nodiscard]] virtual std::unique_ptr<TmsImapMessage> SetOriginalMailbox(
      const std::string& name);
  int UID() const { return uid_; }
  void SetUID(int uid) { uid_ = uid; }
  TMessageFlagSet ServerFlags() const { return server_flags_; }
  void SetServerFlags(TMessageFlagSet flags) { server_flags_ = flags; }
  const std::string& InternalDate() const { return internal_date_; }
  void SetInternalDate(std::string_view date);  // cut to 255
  int Size() const { return size_; }
  void SetSize(int size) { size_ = size; }
  TMailboxList* AllMailboxes() const;

  // The message's file name in its mailbox directory: the decimal MsgNo.
  virtual std::string FileKey() const { return std::to_string(msg_no_); }

  // From another TmsImapMessage also Size, ServerFlags and InternalDate,
  // and the copy becomes a local copy.
  void Assign(const TmsCustomMessage& source) override;

 private:
  TImapMessageState state_ = TImapMessageState::kInStep;
  TMailBox* mailbox_ = nullptr;
  int msg_no_ = 0;
  std::string original_mailbox_;
  int uid_ = 0;
  TMessageFlagSet server_flags_;
  std::string internal_date_;
  int size_ = 0;
};

// The standard flags of a mailbox the server has not described yet.
inline constexpr char kDefaultMailboxFlags[] = "\\Seen \\Answered \\Flagged \\Deleted \\Draft";

class TMailBox : public TamMessageList {
 public:
  // A mailbox in no list; mailboxes of a server are made by their list
  // (Create, TMailboxList::CreateMailbox).
  TMailBox() = default;
  // A new mailbox owned by `owner` (appended to it).
  static TMailBox& Create(TMailboxList& owner);
  ~TMailBox() override;

  const std::string& Name() const { return name_; }
  // A new name renames the mailbox in its list (children included).
  virtual void SetName(const std::string& name);
  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& caption) { caption_ = caption; }
  const std::string& Delimiter() const { return delimiter_; }
  void SetDelimiter(std::string_view delimiter);  // cut to 255
  const std::string& Flags() const { return flags_; }
  void SetFlags(const std::string& flags) { flags_ = flags; }
  TMailBoxFlag Options() const { return options_; }
  void SetOptions(TMailBoxFlag options) { options_ = options; }
  bool LocalStored() const { return local_stored_; }
  void SetLocalStored(bool value) { local_stored_ = value; }
  bool AutoSaveOnDestroy() const { return auto_save_on_destroy_; }
  void SetAutoSaveOnDestroy(bool value) { auto_save_on_destroy_ = value; }
  TMailBoxType MailBoxType() const { return mailbox_type_; }
  void SetMailBoxType(TMailBoxType type) { mailbox_type_ = type; }
  int UIDValidity() const { return uid_validity_; }
  virtual void SetUIDValidity(int value) { uid_validity_ = value; }
  int FirstUnseen() const { return first_unseen_; }
  void SetFirstUnseen(int value) { first_unseen_ = value; }
  bool Subscribed() const { return subscribed_; }
  void SetSubscribed(bool value) { subscribed_ = value; }

  TMailboxList* AllMailboxes() const { return all_mailboxes_; }
  // Moves the mailbox into `list`; with nullptr it leaves its list and the
  // caller receives it.
  [[nodiscard]] std::unique_ptr<TMailBox> SetAllMailboxes(TMailboxList* list);

  // Replaces the messages by local copies of `source`'s; from a TMailBox
  // also Flags, Options, MailBoxType and Subscribed.
  void Assign(const TamMessageList& source);

  // Each message from / to OfficeLocation/Name/MsgNo.
  virtual void LoadMessages();
  virtual void SaveMessages();
  std::string MessageFileName(const TmsImapMessage& message) const;

  // The message with server sequence number `msg_no` that came from the
  // selected mailbox `selected` and is not a local copy; nullptr if none.
  TmsImapMessage* FindServerMessage(int msg_no, const std::string& selected) const;

 protected:
  virtual void AfterSaveMessages() {}
  virtual void BeforeLoadMessages() {}

 private:
  friend class TMailboxList;

  std::string name_;
  std::string caption_;
  std::string delimiter_;
  std::string flags_;
  TMailBoxFlag options_;
  bool local_stored_ = false;
  bool auto_save_on_destroy_ = false;
  TMailBoxType mailbox_type_ = TMailBoxType::mtOther;
  int uid_validity_ = 0;
  int first_unseen_ = 0;
  bool subscribed_ = false;
  TMailboxList* all_mailboxes_ = nullptr;
};

class TMailboxList {
 public:
  TMailboxList() = default;
  virtual ~TMailboxList();
  TMailboxList(const TMailboxList&) = delete;
  TMailboxList& operator=(const TMailboxList&) = delete;

  const std::string& OfficeLocation() const { return office_location_; }
  virtual void SetOfficeLocation(const std::string& value) { office_location_ = value; }
  const std::string& UserName() const { return user_name_; }
  void SetUserName(const std::string& value) { user_name_ = value; }

  int Count() const { return static_cast<int>(mailboxes_.size()); }
  TMailBox& Items(int index) const;
  // Takes ownership and appends; returns the index.
  int Add(std::unique_ptr<TMailBox> mailbox);
  int IndexOf(const TMailBox* mailbox) const;
  // Exact, case-sensitive name; the last such mailbox; nullptr if none.
  TMailBox* Find(std::string_view name) const;
  // A new mailbox not yet described by the server (LocalStored, the five
  // standard flags). A name already in the list raises the rename error.
  TMailBox& CreateMailbox(const std::string& name);
  TMailBox& FindOrCreate(const std::string& name);
  void Delete(int index);
  void RemoveByName(std::string_view name);
  void Clear();
  // Gives up `mailbox`; nullptr when not held.
  std::unique_ptr<TMailBox> Extract(const TMailBox* mailbox);
  // Renames `mailbox` and, unless it is INBOX, its children.
  void Rename(const std::string& new_name, TMailBox& mailbox);
  virtual void SaveAll();

 private:
  void RenameChildren(const std::string& old_name, const std::string& new_name,
                      const TMailBox& parent);

  std::string office_location_;
  std::string user_name_;
  std::vector<std::unique_ptr<TMailBox>> mailboxes_;
};

}  // namespace quillon
