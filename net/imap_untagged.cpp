// TImap4Client: the untagged responses, which keep the mailbox model and
// the counts up to date.
#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "mail/header_words.h"
#include "net/imap_client.h"
#include "platform/text.h"

namespace quillon {

namespace {

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

std::string_view From(std::string_view text, std::size_t from) {
  return from < text.size() ? text.substr(from) : std::string_view();
}

void FillAddressList(TmsAddressList& list, const ImapAddressList& addresses) {
  list.Clear();
  for (const ImapAddress& address : addresses.addresses) {
    list.AddAddress(address.address, DecodeHeaderWords(address.name));
  }
}

// A fetched message's bytes as a stream for the decoder, read where they lie
// in the response line: the decoder takes its own copy, so a second one here
// would only cost time and memory.
class ContentStream : public TStream {
 public:
  explicit ContentStream(std::string_view content) : content_(content) {}

  std::size_t Read(void* buffer, std::size_t count) override {
    if (position_ >= content_.size()) return 0;
    const std::size_t got = std::min(count, content_.size() - position_);
    std::memcpy(buffer, content_.data() + position_, got);
    position_ += got;
    return got;
  }
  void Write(const void*, std::size_t) override { ReadOnly(); }
  std::int64_t Seek(std::int64_t offset, Origin origin) override {
    std::int64_t base = 0;
    if (origin == Origin::kCurrent) base = static_cast<std::int64_t>(position_);
    if (origin == Origin::kEnd) base = Size();
    position_ = static_cast<std::size_t>(std::max<std::int64_t>(0, base + offset));
    return static_cast<std::int64_t>(position_);
  }
  std::int64_t Size() const override { return static_cast<std::int64_t>(content_.size()); }
  void SetSize(std::int64_t) override { ReadOnly(); }

 private:
  [[noreturn]] static void ReadOnly() {
    throw std::logic_error("A fetched message's content is read, never written");
  }

  std::string_view content_;
  std::size_t position_ = 0;
};

}  // namespace

void TImap4Client::ParseCapabilities() {
  std::size_t start = 0;
  while (start <= capability_text_.size()) {
    std::size_t blank = capability_text_.find(' ', start);
    if (blank == std::string::npos) blank = capability_text_.size();
    if (blank > start) CapabilityItem(capability_text_.substr(start, blank - start));
    start = blank + 1;
  }
}

void TImap4Client::CapabilityItem(const std::string& word) {
  if (word == "LITERAL+") literal_plus_ = true;
}

void TImap4Client::HandleUntagged(const std::string& text) {
  if (OnResponse) OnResponse(*this, text);
  if (StartsWith(text, "CAPABILITY")) {
    capability_text_ = std::string(From(text, 11));
    ParseCapabilities();
  } else if (StartsWith(text, "SEARCH")) {
    if (OnUID && uid_search_) OnUID(*this, std::string(From(text, 7)));
  } else if (const std::optional<int> recent = MatchNumberedResponse(text, "RECENT")) {
    recent_count_ = *recent;
  } else if (const std::optional<int> exists = MatchNumberedResponse(text, "EXISTS")) {
    exists_count_ = *exists;
  } else if (const std::optional<int> expunged = MatchNumberedResponse(text, "EXPUNGE")) {
    HandleExpunge(*expunged);
  } else if (MatchFetchResponse(text)) {
    HandleFetch(text);
  } else if (StartsWith(text, "FLAGS ")) {
    HandleFlags(text);
  } else if (StartsWith(text, "LIST ")) {
    HandleMailboxLine(std::string(From(text, 5)), false);
  } else if (StartsWith(text, "LSUB ")) {
    HandleMailboxLine(std::string(From(text, 5)), true);
  } else if (StartsWith(text, "OK")) {
    HandleOk(std::string(From(text, 3)));
  } else if (!StartsWith(text, "NO") && !StartsWith(text, "BAD") && StartsWith(text, "BYE")) {
    SetInProgress(false);
    if (OnServerSayBye) OnServerSayBye(*this);
  }
}

void TImap4Client::HandleExpunge(int number) {
  if (exists_count_ > 0) --exists_count_;
  TMailBox& mailbox = CurrentMailbox();
  if (TmsImapMessage* gone = mailbox.FindServerMessage(number, mailbox_)) {
    gone->SetMsgNo(0);
    gone->SetState(TImapMessageState::kExpunged);
  }
  for (int i = 0; i < mailbox.Count(); ++i) {
    auto* message = dynamic_cast<TmsImapMessage*>(&mailbox.Items(i));
    if (message != nullptr && message->OriginalMailbox() == mailbox_ &&
        message->State() != TImapMessageState::kLocalCopy && message->MsgNo() > number) {
      message->SetMsgNo(message->MsgNo() - 1);
    }
  }
  // Keep the numbers of delivered messages in step with the server's.
  std::erase(delivered_, number);
  for (int& delivered : delivered_) {
    if (delivered > number) --delivered;
  }
}

void TImap4Client::HandleFlags(const std::string& text) {
  const std::size_t open = text.find('(');
  const std::size_t close = text.find(')');
  std::string list;
  if (open != std::string::npos && close != std::string::npos && close > open) {
    list = text.substr(open, close - open + 1);
  }
  TMailBox& mailbox = GetAllMailboxes()->FindOrCreate(mailbox_);
  mailbox.SetFlags(list);
  mailbox.SetLocalStored(false);
  allowed_flags_ = ParseMessageFlagsLenient(list);
  std::string_view bare = list;
  if (bare.size() >= 2) bare = bare.substr(1, bare.size() - 2);
  flag_list_ = Cut(bare);
}

void TImap4Client::HandleMailboxLine(const std::string& text, bool lsub) {
  const ImapMailboxLine line = ParseMailboxLine(text);
  TMailBox& mailbox = GetAllMailboxes()->FindOrCreate(line.name);
  if (lsub) {
    mailbox.SetSubscribed(true);
  } else {
    mailbox.SetFlags(line.flag_text);
    mailbox.SetOptions(line.options);
  }
  mailbox.SetLocalStored(false);
  mailbox.SetDelimiter(line.delimiter);
  if (!lsub && OnListMailboxes) OnListMailboxes(*this, line.name);
}

void TImap4Client::HandleOk(const std::string& text) {
  if (!StartsWith(text, "[")) return;
  if (StartsWith(text, "[ALERT]")) {
    if (OnAlert) OnAlert(*this, std::string(From(text, 8)));
  } else if (StartsWith(text, "[UIDVALIDITY ")) {
    // A value that is no 32-bit number is left alone.
    if (const std::optional<int> value = LeadingInteger(From(text, 13))) {
      CurrentMailbox().SetUIDValidity(*value);
    }
  } else if (StartsWith(text, "[UNSEEN ")) {
    if (const std::optional<int> value = LeadingInteger(From(text, 8))) {
      CurrentMailbox().SetFirstUnseen(*value);
    }
  }
}

// ---------------------------------------------------------------------------
// FETCH

TmsImapMessage& TImap4Client::ServerMessage(int number, TmsImapMessage*& message) {
  if (message == nullptr) message = CurrentMailbox().FindServerMessage(number, mailbox_);
  if (message == nullptr) {
    message = &TmsImapMessage::Create(CurrentMailbox());
    message->SetMsgNo(number);
  }
  message->SetState(TImapMessageState::kInStep);
  return *message;
}

void TImap4Client::HandleFetch(const std::string& text) {
  const ImapFetchResponse response = ParseFetchResponse(text);
  const int number = response.number;
  // Message numbers run up to the server's own count: a FETCH beyond it
  // names no message, and modelling it would let a flood of them grow the
  // mailbox (and the search through it) without end.
  if (exists_count_ >= 0 && number > exists_count_) return;
  TmsImapMessage* message = nullptr;
  bool content_loaded = false;
  bool whole_message_loaded = false;
  bool load_failed = false;
  for (const ImapFetchItem& item : response.items) {
    switch (item.kind) {
      case ImapFetchItemKind::kFlags:
        ServerMessage(number, message).SetServerFlags(item.flags);
        break;
      case ImapFetchItemKind::kInternalDate:
        ServerMessage(number, message).SetInternalDate(item.token.Text());
        break;
      case ImapFetchItemKind::kRfc822:
      case ImapFetchItemKind::kRfc822Header: {
        const bool header_only = item.kind == ImapFetchItemKind::kRfc822Header;
        if (OnRetrieving) OnRetrieving(*this, number);
        const bool loaded = LoadContent(number, message, item.Content(), header_only);
        content_loaded = content_loaded || loaded;
        load_failed = load_failed || !loaded;
        if (loaded && !header_only) whole_message_loaded = true;
        break;
      }
      case ImapFetchItemKind::kRfc822Size:
        ServerMessage(number, message).SetSize(item.number);
        break;
      case ImapFetchItemKind::kRfc822Text:
        ServerMessage(number, message).Body().SetText(std::string(item.Content()));
        content_loaded = true;
        break;
      case ImapFetchItemKind::kUid:
        ServerMessage(number, message).SetUID(item.number);
        break;
      case ImapFetchItemKind::kEnvelope:
        ApplyEnvelope(ServerMessage(number, message), item.envelope);
        content_loaded = true;
        break;
      case ImapFetchItemKind::kBody:
        ServerMessage(number, message);
        break;
    }
  }
  if (OnMessageArrive) OnMessageArrive(*this);
  // A message whose content could not be loaded is not reported as
  // retrieved (it is gone from the list), so nothing treats it as fetched.
  if (!content_loaded || load_failed) return;
  if (OnRetrieved) OnRetrieved(*this, number);
  if (recording_deliveries_ && whole_message_loaded) delivered_.push_back(number);
}

bool TImap4Client::LoadContent(int number, TmsImapMessage*& message, std::string_view content,
                               bool header_only) {
  if (message == nullptr) message = CurrentMailbox().FindServerMessage(number, mailbox_);
  if (message != nullptr) {
    bool overwrite = true;
    if (OnMessageAlreadyExist) OnMessageAlreadyExist(*this, overwrite);
    if (!overwrite) return false;
  }
  TmsImapMessage& target = ServerMessage(number, message);
  try {
    ContentStream stream(content);
    TStringList body;
    if (header_only) body = target.Body();
    // The content replaces what the message held, so an ENVELOPE that came
    // first does not leave its addresses twice.
    target.Clear();
    target.LoadFromStream(stream);
    if (header_only) target.SetBody(body);
    target.SetState(TImapMessageState::kInStep);
    return true;
  } catch (const std::exception&) {
    // Unreadable content: the message is dropped, not reported; it stays on
    // the server because it was never delivered.
    CurrentMailbox().Remove(&target);
    message = nullptr;
    return false;
  }
}

void TImap4Client::ApplyEnvelope(TmsImapMessage& message, const ImapEnvelope& envelope) {
  message.SetInternalDate(envelope.date);
  // Encoded words are decoded as the header fields' values are, so the
  // subject and names read the same whichever item came last.
  if (envelope.subject) message.SetSubject(DecodeHeaderWords(*envelope.subject));
  if (!envelope.from.nil && !envelope.from.addresses.empty()) {
    message.Sender().SetName(DecodeHeaderWords(envelope.from.addresses.front().name));
    message.Sender().SetAddress(envelope.from.addresses.front().address);
  }
  FillAddressList(message.Recipients(), envelope.to);
  FillAddressList(message.CC(), envelope.cc);
  FillAddressList(message.BCC(), envelope.bcc);
}

}  // namespace quillon
