// TImap4Client: commands, their literals, reading responses, log in and out.
// The untagged responses are handled in imap_untagged.cpp.
#include "net/imap_client.h"

#include <algorithm>

#include "net/imap_command_text.h"
#include "net/net_errors.h"
#include "net/socket_messages.h"
#include "platform/text.h"

namespace quillon {

namespace {

// Literal bytes are taken from the socket in pieces of this size.
constexpr std::size_t kLiteralPiece = 65536;
// No real response runs to more lines than this (one per message and a few).
constexpr long kMaxResponseLines = 50'000'000;
// Lines are traced up to this many bytes (literals make them huge).
constexpr std::size_t kTracedBytes = 200;

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// `word` is one of the blank-separated words of a capability text.
bool HasCapability(std::string_view capabilities, std::string_view word) {
  while (!capabilities.empty()) {
    const std::size_t blank = capabilities.find(' ');
    if (SameText(capabilities.substr(0, blank), word)) return true;
    if (blank == std::string_view::npos) break;
    capabilities.remove_prefix(blank + 1);
  }
  return false;
}

// Characters `from` (0-based) on of `text`, or nothing past its end.
std::string_view From(std::string_view text, std::size_t from) {
  return from < text.size() ? text.substr(from) : std::string_view();
}

}  // namespace

// ---------------------------------------------------------------------------
// TCustomImap

TCustomImap::TCustomImap() { SetWinsockLoaded(true); }

void TCustomImap::SendText(const std::string& text) {
  command_stream_.Clear();
  command_stream_.Write(text);
  SendStream(command_stream_);
}

// ---------------------------------------------------------------------------
// TImap4Client: properties

TImap4Client::TImap4Client() {
  SetServiceName("imap");
  SetDefaultPort(143);
}

TImap4Client::~TImap4Client() = default;

void TImap4Client::SetReadLimits(ImapReadLimits limits) {
  assembler_ = ImapLineAssembler(std::move(limits));
}

TMailboxList* TImap4Client::GetAllMailboxes() {
  if (all_mailboxes_ == nullptr) {
    own_mailboxes_ = std::make_unique<TMailboxList>();
    all_mailboxes_ = own_mailboxes_.get();
    all_mailboxes_->SetOfficeLocation(Server());
    all_mailboxes_->SetUserName(UserName());
  }
  return all_mailboxes_;
}

void TImap4Client::SetAllMailboxes(TMailboxList* list) {
  if (list != nullptr) {
    // A list that belongs to another account is emptied first.
    if (list->OfficeLocation() != Server() || list->UserName() != UserName()) list->Clear();
    list->SetOfficeLocation(Server());
    list->SetUserName(UserName());
  }
  all_mailboxes_ = list;
  if (list != own_mailboxes_.get()) own_mailboxes_.reset();
}

void TImap4Client::SetUserName(const std::string& name) {
  TCustomImap::SetUserName(name);
  if (all_mailboxes_ != nullptr) {
    all_mailboxes_->SetOfficeLocation(Server());
    all_mailboxes_->SetUserName(name);
  }
}

TMailBox& TImap4Client::CurrentMailbox() {
  if (mailbox_.empty()) throw EImapError("No current mailbox selected");
  return GetAllMailboxes()->FindOrCreate(mailbox_);
}

// ---------------------------------------------------------------------------
// Connection life cycle

void TImap4Client::Open() {
  ResetState();
  TCustomImap::Open();
}

void TImap4Client::ResetState() {
  TCustomImap::ResetState();
  SetInProgress(false);
  literal_plus_ = false;
  capability_text_.clear();
  assembler_.Reset();
}

void TImap4Client::Cancel() {
  SetInProgress(false);
  TCustomImap::Cancel();
}

void TImap4Client::Login() {
  ConnectSocket();
  std::string greeting;
  if (OnCommandInProgress) OnCommandInProgress(*this);
  try {
    ReadResponseLine(greeting);
    HandleUntagged(std::string(From(greeting, 2)));
    if (StartsWith(From(greeting, 2), "BYE")) throw EImapError("IMAP Server refuses connection");
  } catch (...) {
    if (OnCommandFinished) OnCommandFinished(*this);
    throw;
  }
  if (OnCommandFinished) OnCommandFinished(*this);
  const bool preauthenticated = StartsWith(From(greeting, 2), "PREAUTH");
  if (Security() == TSecurity::kStartTls) StartTlsSession(preauthenticated);
  if (preauthenticated) return;
  login_in_progress_ = true;
  try {
    RunCommand("LOGIN " + QuoteArgument(UserName()) + " " + QuoteArgument(Password()));
  } catch (...) {
    login_in_progress_ = false;
    throw;
  }
  login_in_progress_ = false;
}

void TImap4Client::StartTlsSession(bool preauthenticated) {
  const std::string host = HostPart(Server());
  // STARTTLS is a command of the not-yet-authenticated state; a session
  // that is logged in already cannot be encrypted any more.
  if (preauthenticated) TlsError("The server " + host + " logged in before STARTTLS (PREAUTH)");
  if (!HasCapability(Capability(), "STARTTLS")) {
    TlsError("The server " + host + " does not offer STARTTLS");
  }
  try {
    RunCommand("STARTTLS");
  } catch (const EImapError& refusal) {
    TlsError("The server " + host + " did not accept STARTTLS: " + refusal.what());
  }
  StartTls();
  // What the server said before encryption may have been forged.
  capability_text_.clear();
  literal_plus_ = false;
}

void TImap4Client::Logout() {
  try {
    const std::string tag = SendTagged("LOGOUT");
    GetResponse("* BYE");
    GetResponse(tag);
  } catch (...) {
    // Saying goodbye to a server that has gone is no failure; Disconnect
    // closes the socket next either way.
    SetInProgress(false);
  }
}

// ---------------------------------------------------------------------------
// Commands

void TImap4Client::RunCommand(const std::string& command) { GetResponse(SendTagged(command)); }

std::string TImap4Client::Capability() {
  capability_text_.clear();
  RunCommand("CAPABILITY");
  return capability_text_;
}

void TImap4Client::List(const std::string& reference, const std::string& pattern) {
  RunCommand("LIST " + QuoteArgument(reference) + " " + QuoteArgument(pattern));
}

void TImap4Client::Lsub(const std::string& reference, const std::string& pattern) {
  RunCommand("LSUB " + QuoteArgument(reference) + " " + QuoteArgument(pattern));
}

void TImap4Client::SetMailBox(const std::string& name) {
  if (!Connected()) {
    mailbox_ = name;
    return;
  }
  const std::string old_name = mailbox_;
  mailbox_ = UpperCase(name) == "INBOX" ? "INBOX" : name;
  try {
    RunCommand((open_as_read_only_ ? "EXAMINE " : "SELECT ") + QuoteArgument(name));
  } catch (...) {
    mailbox_ = old_name;
    throw;
  }
}

void TImap4Client::Fetch(const std::string& set, const std::string& items) {
  if (exists_count_ != 0) RunCommand("FETCH " + set + " " + items);
}

void TImap4Client::FetchAll(bool keep, const std::string& items) {
  delivered_.clear();
  recording_deliveries_ = true;
  try {
    Fetch("1:*", items);
  } catch (...) {
    recording_deliveries_ = false;
    throw;
  }
  recording_deliveries_ = false;
  // Only what this fetch delivered: "1:*" would also take a message that
  // arrived after the FETCH, or one whose content could not be loaded.
  if (keep || delivered_.empty()) return;
  if (OnDeletingDelivered) OnDeletingDelivered(*this);
  Delete(FormatSequenceSet(delivered_));
}

void TImap4Client::Store(const std::string& set, const std::string& flags) {
  RunCommand("STORE " + set + " +FLAGS (" + flags + ")");
}

void TImap4Client::Delete(const std::string& set) { Store(set, "\\Deleted"); }

void TImap4Client::Expunge() { RunCommand("EXPUNGE"); }

// ---------------------------------------------------------------------------
// Protocol steps

void TImap4Client::SetInProgress(bool value) {
  if (value && OnCommandInProgress) OnCommandInProgress(*this);
  if (!value && OnCommandFinished) OnCommandFinished(*this);
  if (value && command_in_progress_) {
    bool retry = false;
    if (OnInProgressConflict) {
      do {
        retry = false;
        OnInProgressConflict(*this, retry);
      } while (retry && command_in_progress_);
    }
    if (command_in_progress_) throw EImapError("IMAP4 command in progress");
  }
  command_in_progress_ = value;
}

std::string TImap4Client::SendTagged(const std::string& command) {
  SetInProgress(true);
  const std::string tag = "A" + std::to_string(tag_counter_);
  ++tag_counter_;
  SendCommandText(tag + " " + command);
  return tag;
}

void TImap4Client::SendCommandText(const std::string& text) {
  try {
    TraceCommand(text);
    SendCommandPieces(text);
  } catch (...) {
    SetInProgress(false);
    throw;
  }
}

void TImap4Client::SendCommandPieces(const std::string& text) {
  for (const ImapCommandPiece& piece : SplitCommandText(text)) {
    if (!piece.has_literal) {
      SendText(std::string(piece.head) + "\r\n");
      break;
    }
    if (non_sync_literals_ && literal_plus_) {
      SendText(std::string(piece.head) + "+}\r\n");
    } else {
      SendText(std::string(piece.head) + "}\r\n");
      AwaitContinuation();
    }
    SendText(std::string(piece.literal));
  }
}

void TImap4Client::AwaitContinuation() {
  std::string line;
  pace_.Start(TimeOut());
  for (long lines = 0; lines < kMaxResponseLines; ++lines) {
    ReadResponseLine(line);
    if (!StartsWith(line, "*")) break;
    HandleUntagged(std::string(From(line, 2)));
  }
  if (!StartsWith(line, "+")) throw EImapError("Unexpected server responce \"" + line + "\"");
}

void TImap4Client::TraceCommand(const std::string& text) {
  if (!OnTrace) return;
  if (login_in_progress_) {
    // The password never reaches a trace.
    Trace("C: ", text.substr(0, text.find(" LOGIN ") + 7) + QuoteArgument(UserName()) + " ****");
  } else {
    Trace("C: ", text);
  }
}

void TImap4Client::GetResponse(const std::string& tag) {
  if (tag.empty()) throw EImapError("GetResponse : \"tag\" is empty");
  std::string line;
  pace_.Start(TimeOut());
  for (long lines = 0;; ++lines) {
    if (lines >= kMaxResponseLines) {
      Close();
      throw EImapError("The server sent more response lines than any command needs");
    }
    ReadResponseLine(line);
    const bool tagged = StartsWith(line, tag);
    if (StartsWith(line, "*")) {
      // The "* " goes in place: a FETCH line holds whole messages, and a
      // copy of it would cost as much again.
      line.erase(0, std::min<std::size_t>(2, line.size()));
      pace_.Pause();
      HandleUntagged(line);
      pace_.Resume();
    }
    if (tagged) break;
  }
  if (StartsWith(tag, "*")) return;
  const std::string text(From(line, tag.size() + 1));
  if (StartsWith(text, "OK")) {
    response_status_ = TResponseStatus::rsOK;
  } else if (StartsWith(text, "NO")) {
    response_status_ = TResponseStatus::rsNO;
  } else {
    response_status_ = TResponseStatus::rsBAD;
  }
  try {
    if (OnValidate) OnValidate(*this, text, response_status_);
  } catch (...) {
    SetInProgress(false);
    throw;
  }
  SetInProgress(false);
  if (response_status_ == TResponseStatus::rsNO) throw EImapError("NO response : " + text);
  if (response_status_ == TResponseStatus::rsBAD) throw EImapError("BAD response : " + text);
}

void TImap4Client::ReadResponseLine(std::string& line) {
  WaitForReadable();  // cancel, time-out and error checks; the clock runs again
  assembler_.Reset();
  try {
    ReadLineBytes();
  } catch (const EImapError&) {
    // The response is out of step with us now: nothing more can be read.
    StopClock();
    Close();
    throw;
  }
  // The clock is off between lines: handlers that run while a response is
  // handled (storing a fetched message, say) do not eat into the time-out
  // of the next line.
  StopClock();
  line = assembler_.TakeLine();
  if (line.size() > kTracedBytes) {
    Trace("S: ", line.substr(0, kTracedBytes) + "... <" + std::to_string(line.size()) + " bytes>");
  } else {
    Trace("S: ", line);
  }
  LineRead(line);
  RaiseIfExpiredOrCancelled();
}

void TImap4Client::ReadLineBytes() {
  std::string piece;
  while (!assembler_.Complete()) {
    const bool in_literal = assembler_.InLiteral();
    const std::size_t wanted =
        in_literal ? static_cast<std::size_t>(
                         std::min<std::uint64_t>(assembler_.LiteralBytesLeft(), kLiteralPiece))
                   : 1;
    piece.clear();
    if (ReceiveBytes(piece, wanted) == 0) {
      RaiseIfExpiredOrCancelled();
      // The server closed the connection in the middle of a response.
      SocketError(kWsaEConnReset);
    }
    assembler_.Feed(piece);
    if (!pace_.Received(piece.size())) TimeOutError();
    // A large message keeps the connection busy for a while: the time-out
    // bounds the silence between pieces, not the whole transfer.
    if (in_literal) StartClock();
  }
}

}  // namespace quillon
