#include "net/mailboxes.h"

#include <stdexcept>

#include "net/imap_tokens.h"
#include "platform/text.h"

namespace quillon {

// ---------------------------------------------------------------------------
// TamMessageList

TamMessageList::~TamMessageList() { Clear(); }

TmsMessage& TamMessageList::Items(int index) const {
  return *messages_.at(static_cast<std::size_t>(index));
}

void TamMessageList::Clear() {
  while (!messages_.empty()) Delete(Count() - 1);
}

void TamMessageList::Delete(int index) {
  // Out of the list first, then destroyed: a message being destroyed never
  // finds itself in a list.
  std::unique_ptr<TmsMessage> message = Extract(&Items(index));
  message.reset();
}

void TamMessageList::Remove(const TmsMessage* message) {
  const int index = IndexOf(message);
  if (index >= 0) Delete(index);
}

int TamMessageList::Add(std::unique_ptr<TmsMessage> message) {
  if (auto* list_message = dynamic_cast<TamListMessage*>(message.get())) {
    list_message->owner_list_ = this;
  }
  messages_.push_back(std::move(message));
  return Count() - 1;
}

int TamMessageList::IndexOf(const TmsMessage* message) const {
  for (std::size_t i = 0; i < messages_.size(); ++i) {
    if (messages_[i].get() == message) return static_cast<int>(i);
  }
  return -1;
}

std::unique_ptr<TmsMessage> TamMessageList::Extract(const TmsMessage* message) {
  const int index = IndexOf(message);
  if (index < 0) return nullptr;
  std::unique_ptr<TmsMessage> held = std::move(messages_[static_cast<std::size_t>(index)]);
  messages_.erase(messages_.begin() + index);
  if (auto* list_message = dynamic_cast<TamListMessage*>(held.get())) {
    list_message->owner_list_ = nullptr;
  }
  return held;
}

// ---------------------------------------------------------------------------
// TmsImapMessage

TmsImapMessage& TmsImapMessage::Create(TMailBox& mailbox) {
  auto message = std::make_unique<TmsImapMessage>();
  TmsImapMessage& created = *message;
  mailbox.Add(std::move(message));
  // Already in the list, so it keeps the state "in step".
  std::unique_ptr<TmsImapMessage> none = created.SetMailbox(&mailbox);
  return created;
}

std::unique_ptr<TmsImapMessage> TmsImapMessage::SetMailbox(TMailBox* mailbox) {
  if (mailbox == mailbox_) return nullptr;
  TamMessageList* holder = OwnerList();
  std::unique_ptr<TmsMessage> held;
  if (holder != nullptr && holder != mailbox) held = holder->Extract(this);
  if (mailbox != nullptr && holder != mailbox && !held) {
    throw std::logic_error("A message that no list owns cannot join a mailbox");
  }
  mailbox_ = mailbox;
  if (mailbox == nullptr) {
    original_mailbox_.clear();
    return std::unique_ptr<TmsImapMessage>(static_cast<TmsImapMessage*>(held.release()));
  }
  if (holder != mailbox) {
    mailbox->Add(std::move(held));
    SetState(TImapMessageState::kLocalCopy);
  }
  original_mailbox_ = mailbox->Name();
  return nullptr;
}

std::unique_ptr<TmsImapMessage> TmsImapMessage::SetOriginalMailbox(const std::string& name) {
  if (name == original_mailbox_) return nullptr;
  if (name.empty()) {
    original_mailbox_.clear();
    return SetMailbox(nullptr);
  }
  TMailboxList* list = AllMailboxes();
  if (list == nullptr) {
    // No list to find the mailbox in: only the name is kept.
    original_mailbox_ = name;
    return nullptr;
  }
  return SetMailbox(&list->FindOrCreate(name));
}

void TmsImapMessage::SetInternalDate(std::string_view date) { internal_date_ = Cut(date); }

TMailboxList* TmsImapMessage::AllMailboxes() const {
  return mailbox_ != nullptr ? mailbox_->AllMailboxes() : nullptr;
}

void TmsImapMessage::Assign(const TmsCustomMessage& source) {
  if (const auto* imap = dynamic_cast<const TmsImapMessage*>(&source)) {
    size_ = imap->size_;
    server_flags_ = imap->server_flags_;
    internal_date_ = imap->internal_date_;
    SetState(TImapMessageState::kLocalCopy);
  }
  TmsMessage::Assign(source);
}

// ---------------------------------------------------------------------------
// TMailBox

TMailBox& TMailBox::Create(TMailboxList& owner) {
  auto mailbox = std::make_unique<TMailBox>();
  TMailBox& created = *mailbox;
  created.all_mailboxes_ = &owner;
  owner.Add(std::move(mailbox));
  return created;
}

TMailBox::~TMailBox() {
  if (auto_save_on_destroy_) {
    try {
      SaveMessages();
    } catch (...) {
      // A destructor cannot report; the messages are lost with the mailbox
      // either way.
    }
  }
  // The messages go while the mailbox is still whole.
  Clear();
}

void TMailBox::SetName(const std::string& name) {
  if (name == name_) return;
  if (all_mailboxes_ != nullptr) {
    all_mailboxes_->Rename(name, *this);
  } else {
    name_ = name;
  }
  caption_ = name;
}

void TMailBox::SetDelimiter(std::string_view delimiter) { delimiter_ = Cut(delimiter); }

std::unique_ptr<TMailBox> TMailBox::SetAllMailboxes(TMailboxList* list) {
  if (list == all_mailboxes_) return nullptr;
  std::unique_ptr<TMailBox> held;
  if (all_mailboxes_ != nullptr) held = all_mailboxes_->Extract(this);
  all_mailboxes_ = list;
  if (list == nullptr) return held;
  if (!held) throw std::logic_error("A mailbox that no list owns cannot join a list");
  list->Add(std::move(held));
  return nullptr;
}

void TMailBox::Assign(const TamMessageList& source) {
  if (&source == this) return;
  Clear();
  for (int i = 0; i < source.Count(); ++i) {
    TmsImapMessage::Create(*this).Assign(source.Items(i));
  }
  if (const auto* mailbox = dynamic_cast<const TMailBox*>(&source)) {
    flags_ = mailbox->flags_;
    options_ = mailbox->options_;
    mailbox_type_ = mailbox->mailbox_type_;
    subscribed_ = mailbox->subscribed_;
  }
}

std::string TMailBox::MessageFileName(const TmsImapMessage& message) const {
  const std::string office = all_mailboxes_ != nullptr ? all_mailboxes_->OfficeLocation() : "";
  return office + "/" + name_ + "/" + message.FileKey();
}

void TMailBox::LoadMessages() {
  BeforeLoadMessages();
  for (int i = 0; i < Count(); ++i) {
    if (auto* message = dynamic_cast<TmsImapMessage*>(&Items(i))) {
      message->LoadFromFile(MessageFileName(*message));
    }
  }
}

void TMailBox::SaveMessages() {
  for (int i = 0; i < Count(); ++i) {
    if (auto* message = dynamic_cast<TmsImapMessage*>(&Items(i))) {
      message->SaveToFile(MessageFileName(*message));
    }
  }
  AfterSaveMessages();
}

TmsImapMessage* TMailBox::FindServerMessage(int msg_no, const std::string& selected) const {
  for (int i = 0; i < Count(); ++i) {
    auto* message = dynamic_cast<TmsImapMessage*>(&Items(i));
    if (message != nullptr && message->MsgNo() == msg_no &&
        message->OriginalMailbox() == selected &&
        message->State() != TImapMessageState::kLocalCopy) {
      return message;
    }
  }
  return nullptr;
}

// ---------------------------------------------------------------------------
// TMailboxList

TMailboxList::~TMailboxList() { Clear(); }

TMailBox& TMailboxList::Items(int index) const {
  return *mailboxes_.at(static_cast<std::size_t>(index));
}

int TMailboxList::Add(std::unique_ptr<TMailBox> mailbox) {
  mailbox->all_mailboxes_ = this;
  mailboxes_.push_back(std::move(mailbox));
  return Count() - 1;
}

int TMailboxList::IndexOf(const TMailBox* mailbox) const {
  for (std::size_t i = 0; i < mailboxes_.size(); ++i) {
    if (mailboxes_[i].get() == mailbox) return static_cast<int>(i);
  }
  return -1;
}

TMailBox* TMailboxList::Find(std::string_view name) const {
  for (std::size_t i = mailboxes_.size(); i > 0; --i) {
    if (mailboxes_[i - 1]->Name() == name) return mailboxes_[i - 1].get();
  }
  return nullptr;
}

TMailBox& TMailboxList::CreateMailbox(const std::string& name) {
  TMailBox& mailbox = TMailBox::Create(*this);
  try {
    mailbox.SetName(name);
  } catch (...) {
    Delete(IndexOf(&mailbox));
    throw;
  }
  mailbox.SetCaption(name);
  mailbox.SetLocalStored(true);
  mailbox.SetFlags(kDefaultMailboxFlags);
  return mailbox;
}

TMailBox& TMailboxList::FindOrCreate(const std::string& name) {
  if (TMailBox* found = Find(name)) return *found;
  return CreateMailbox(name);
}

void TMailboxList::Delete(int index) {
  std::unique_ptr<TMailBox> mailbox = Extract(&Items(index));
  mailbox.reset();
}

void TMailboxList::RemoveByName(std::string_view name) {
  if (TMailBox* found = Find(name)) Delete(IndexOf(found));
}

void TMailboxList::Clear() {
  while (!mailboxes_.empty()) Delete(Count() - 1);
}

std::unique_ptr<TMailBox> TMailboxList::Extract(const TMailBox* mailbox) {
  const int index = IndexOf(mailbox);
  if (index < 0) return nullptr;
  std::unique_ptr<TMailBox> held = std::move(mailboxes_[static_cast<std::size_t>(index)]);
  mailboxes_.erase(mailboxes_.begin() + index);
  held->all_mailboxes_ = nullptr;
  return held;
}

void TMailboxList::Rename(const std::string& new_name, TMailBox& mailbox) {
  if (mailbox.AllMailboxes() != this) {
    throw EImapError("Mailbox " + mailbox.Name() + " is not owned by " + office_location_ + ":" +
                     user_name_ + ". So can not rename it!");
  }
  if (Find(new_name) != nullptr) {
    throw EImapError("Can not rename mailbox " + mailbox.Name() + " to " + new_name + ". " +
                     new_name + " already exists!");
  }
  const std::string old_name = mailbox.Name();
  // The mailbox asked for is the one renamed, even when another mailbox
  // happens to carry the same name.
  mailbox.name_ = new_name;
  mailbox.caption_ = new_name;
  if (old_name.empty() || UpperCase(old_name) == "INBOX") return;
  RenameChildren(old_name, new_name, mailbox);
}

void TMailboxList::RenameChildren(const std::string& old_name, const std::string& new_name,
                                  const TMailBox& parent) {
  const std::string& delimiter = parent.Delimiter();
  std::string prefix = old_name;
  if (!prefix.ends_with(delimiter)) prefix += delimiter;
  for (const std::unique_ptr<TMailBox>& child : mailboxes_) {
    // The renamed mailbox itself is done, even when its new name begins
    // with the old one ("A" to "A/B").
    if (child.get() == &parent || !child->name_.starts_with(prefix)) continue;
    child->name_ = new_name + delimiter + child->name_.substr(prefix.size());
    child->caption_ = child->name_;
  }
}

void TMailboxList::SaveAll() {
  for (const std::unique_ptr<TMailBox>& mailbox : mailboxes_) mailbox->SaveMessages();
}

}  // namespace quillon
