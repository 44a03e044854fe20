#include "app/retrieval_driver.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "mail/header_values.h"
#include "net/dot_stuffing.h"
#include "platform/data_dir.h"
#include "platform/date_text.h"
#include "platform/fault_injection.h"
#include "platform/file_handle.h"
#include "platform/message_pump.h"
#include "platform/text.h"
#include "rules/retrieved_list.h"
#include "rules/run_state.h"
#include "rules/talker_sender.h"
#include "store/account_record.h"

namespace quillon {

namespace {

constexpr char kInbox[] = "INBOX";
constexpr char kUniqueIdPrefix[] = "UIDL:";

std::string Decimal(std::int64_t value) { return std::to_string(value); }

constexpr char kNotDurableText[] =
    "The stored messages could not be written to disk; they stay on the server";
// first, first + 1, ..., last (ascending) or first, first - 1, ..., last.
std::vector<int> IndexRange(int first, int last) {
  std::vector<int> indexes;
  const int step = first <= last ? 1 : -1;
  for (int i = first; i != last + step; i += step) indexes.push_back(i);
  return indexes;
}

// fsync of one file; a missing file has nothing to flush.
bool SyncFile(const std::string& path) {
  if (path.empty()) return true;
  FileHandle file(FileOpen(path.c_str(), O_RDONLY));
  if (!file.IsOpen()) return errno == ENOENT;
  return FileSync(file.Get()) == 0;
}

// syncfs of the file system that holds `directory`.
bool SyncFileSystemOf(const std::string& directory) {
  FileHandle file(FileOpen(directory.c_str(), O_RDONLY | O_DIRECTORY));
  if (!file.IsOpen()) return false;
  return FileSystemSync(file.Get()) == 0;
}

void WriteAllTo(int fd, const std::string& bytes, const std::string& name) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t written = FileWrite(fd, bytes.data() + done, bytes.size() - done);
    if (written < 0) {
      if (errno == EINTR) continue;
      throw std::system_error(errno, std::generic_category(), "writing " + name);
    }
    done += static_cast<std::size_t>(written);
  }
}

}  // namespace

bool MakeStoredFilesDurable(const std::string& retrieved_name) {
  // One syncfs covers the message files, the recipients files and the
  // index files; the retrieved list may live elsewhere.
  const bool data_synced = SyncFileSystemOf(DataDirectory());
  const bool list_synced = SyncFile(retrieved_name);
  return data_synced && list_synced;
}

TRetrievalDriver::TRetrievalDriver(TmsRemotePOP& eMail, TImap4Client& IC,
                                   TmsMessage& MessageSource,
                                   RetrievalView& view)
    : eMail_(eMail), IC_(IC), MessageSource_(MessageSource), view_(view) {
  SyncStoredFiles = [] {
    return MakeStoredFilesDurable(CurrentRunState().RetrievedName);
  };
  eMail_.OnProgress = [this](TagSocket&, int perc, int transferred) {
    eMailProgress(perc, transferred);
  };
  eMail_.OnUserMessageSave = [this](TagSocket&, int num,
                                    TMemoryStream& contents) {
    eMailUserMessageSave(num, contents);
  };
  IC_.OnRetrieving = [this](TagSocket&, int num) { ICRetrieving(num); };
  IC_.OnProgress = [this](TagSocket&, int perc, int transferred) {
    ICProgress(perc, transferred);
  };
  IC_.OnRetrieved = [this](TagSocket&, int num) { ICRetrieved(num); };
  IC_.OnDeletingDelivered = [this](TagSocket&) {
    if (!MakeDeletionsDurable()) throw std::runtime_error(kNotDurableText);
  };
}

int TRetrievalDriver::ExitCode() const {
  if (failed_) return kExitRunFailed;
  // Skip! in an IMAP4 run sets the flag but stops nothing: the run is whole.
  const bool cancelled = CurrentRunState().CancelRequested && !IsImapAccount();
  if (left_early_ || cancelled) return kExitCancelled;
  if (connection_failed_) return kExitConnectionFailed;
  return kExitNormal;
}

bool TRetrievalDriver::IsImapAccount() const { return CurrentAccount().IsImap; }

RetrievalEnd TRetrievalDriver::RunRetrieval() {
  RunState& run = CurrentRunState();
  connection_failed_ = failed_ = left_early_ = deletions_sent_ = false;
  deletions_withheld_ = false;
  server_has_uidl_ = true;
  unique_ids_.clear();
  // A Cancel or Skip! pressed before the run started ends it before it
  // announces or connects anything.
  if (run.CancelRequested) {
    left_early_ = true;
    return RetrievalEnd::kEarly;
  }
  CurrentTalker().SendStartPair(!view_.ShownAtStart(), view_.AccountAddress());
  try {
    ConnectAccount();
  } catch (...) {
    connection_failed_ = true;
    SendRecvStop();
    if (run.CancelRequested) {
      left_early_ = true;
      return RetrievalEnd::kEarly;
    }
  }
  BodyEnd end = BodyEnd::kNormal;
  try {
    run.SavedCount = 0;
    // An unreadable list also ends with the goodbye and "RecvStop:".
    LoadRetrievedList();
    end = RunBody();
  } catch (...) {
    failed_ = true;
    EndSession();
    throw;
  }
  EndSession();
  if (deletions_withheld_) {
    // The messages are stored but were not deleted: the next run fetches
    // them again, and this one must not look whole.
    failed_ = true;
    throw std::runtime_error(kNotDurableText);
  }
  if (end == BodyEnd::kEarly) {
    left_early_ = true;
    return RetrievalEnd::kEarly;
  }
  if (Terminate) Terminate(ExitCode());
  return RetrievalEnd::kNormal;
}

void TRetrievalDriver::EndSession() {
  CurrentRunState().RetrievedList.clear();
  retrieved_keys_.clear();
  DisconnectAccount();
  SendRecvStop();
}

void TRetrievalDriver::ConnectAccount() {
  if (IsImapAccount()) {
    ConnectImap();
  } else {
    eMail_.Connect();
  }
}

void TRetrievalDriver::ConnectImap() {
  const AccountRecord& account = CurrentAccount();
  IC_.SetServer(account.ImapHost);
  IC_.SetUserName(account.ImapUser);
  IC_.SetPassword(account.ImapPassword);
  const Pop3Parameters& login = CurrentRunState().Pop3;
  IC_.SetSecurity(ConnectionSecurity(login.Security, account.ImapHost, IC_.DefaultPort()));
  IC_.SetCAFile(login.CAFile);
  IC_.Connect();
  IC_.Capability();
  IC_.Lsub("", "%");
  IC_.List("", "%");
  if (IC_.Connected()) IC_.SetMailBox(kInbox);
}

void TRetrievalDriver::DisconnectAccount() {
  try {
    if (IsImapAccount()) {
      IC_.Disconnect();
    } else if (deletions_sent_ && !MakeDeletionsDurable()) {
      // Without QUIT the server forgets the deletions: the messages stay
      // until their copies here are safe.
      deletions_withheld_ = true;
      eMail_.Close();
    } else {
      eMail_.Disconnect();
    }
  } catch (...) {
    // The run is over either way; a failing goodbye changes nothing.
  }
}

bool TRetrievalDriver::MakeDeletionsDurable() {
  return SyncStoredFiles ? SyncStoredFiles() : true;
}

void TRetrievalDriver::SendRecvStop() {
  CurrentTalker().SendTalkerCommand(RecvStopCommand(view_.AccountAddress()));
}

TRetrievalDriver::BodyEnd TRetrievalDriver::RunBody() {
  const RunState& run = CurrentRunState();
  if (run.CancelRequested) return BodyEnd::kEarly;
  if (IsImapAccount()) {
    ImapBranch();
    return BodyEnd::kNormal;
  }
  if (run.ListMode) return ListMode();
  if (run.DeleteMode) return DeleteMode();
  return KeepMode();
}

bool TRetrievalDriver::TryGetInfo(int index, TmsRemoteInfoItem& item) {
  try {
    eMail_.GetInfo(index, item);
    return true;
  } catch (...) {
    // The loop goes on with what the item holds (size 0, no headers).
    return false;
  }
}

bool TRetrievalDriver::TryRetrieve(int index) {
  try {
    eMail_.Retrieve(index);
    return true;
  } catch (...) {
    // A failed download is neither stored nor deleted nor listed.
    return false;
  }
}

void TRetrievalDriver::DeleteOnServer(int index) {
  deletions_sent_ = true;
  eMail_.Delete(index);
}

// --- delete mode -------------------------------------------------------------

TRetrievalDriver::BodyEnd TRetrievalDriver::DeleteMode() {
  RunState& run = CurrentRunState();
  const int count = eMail_.MessageCount();
  if (count > 0) eMail_.PlanCalls(IndexRange(0, count - 1), Pop3Calls::kInfoAndRetrieve);
  for (int i = 0; i < count; ++i) {
    run.SkipRequested = false;
    run.CurrentMessageSize = 0;
    view_.SetProgressValue(0);
    view_.SetMessageCounterText(Decimal(i + 1) + " of " + Decimal(count) +
                                "...");
    CurrentTalker().SendTalkerCommand(NowDLCommand(i + 1, count));
    {
      TmsRemoteInfoItem item;
      eMail_.GetInfo(i, item);
      run.CurrentMessageSize = item.Size();
    }
    const bool downloaded = TryRetrieve(i);
    if (downloaded && !run.CancelRequested && !run.SkipRequested) {
      ProcessReceivedMessage();
    }
    if (run.CancelRequested) break;
    if (downloaded) DeleteOnServer(i);
  }
  return BodyEnd::kNormal;
}

// --- keep mode ---------------------------------------------------------------

int TRetrievalDriver::FindFirstNewMessage() {
  RunState& run = CurrentRunState();
  // Newest first, until one is found listed.
  const int count = eMail_.MessageCount();
  if (count > 0) eMail_.PlanCalls(IndexRange(count - 1, 0), Pop3Calls::kInfo);
  for (int k = count - 1; k >= 0; --k) {
    TmsRemoteInfoItem item;
    if (run.CancelRequested) return -1;
    TryGetInfo(k, item);
    if (run.CancelRequested) return -1;
    run.CurrentMessageId = item.Headers().GetFieldValue("Message-ID");
    const std::string key = ListedMessageId(k, run.CurrentMessageId) +
                            item.Headers().GetFieldValue("Date");
    if (IsAlreadyRetrieved(key)) return k + 1;
  }
  return 0;
}

TRetrievalDriver::BodyEnd TRetrievalDriver::KeepMode() {
  RunState& run = CurrentRunState();
  const int first_new = FindFirstNewMessage();
  if (first_new < 0 || run.CancelRequested) return BodyEnd::kEarly;
  const int count = eMail_.MessageCount();
  const int to_fetch = count - first_new;
  int new_count = 0;
  bool downloaded = false;
  if (to_fetch > 0) {
    eMail_.PlanCalls(IndexRange(first_new, count - 1), Pop3Calls::kInfoAndRetrieve);
  }
  for (int i = first_new; i < count; ++i) {
    run.SkipRequested = false;
    TmsRemoteInfoItem item;
    TryGetInfo(i, item);
    if (run.CancelRequested) return BodyEnd::kEarly;
    run.CurrentMessageSize = item.Size();
    ++new_count;
    run.CurrentMessageId = item.Headers().GetFieldValue("Message-ID");
    view_.SetProgressValue(0);
    view_.SetMessageCounterText(Decimal(new_count) + " of " +
                                Decimal(to_fetch) + " (" + Decimal(count) +
                                " messages on server)...");
    CurrentTalker().SendTalkerCommand(NowDLCommand(new_count, to_fetch));
    downloaded = TryRetrieve(i);
    if (downloaded && !run.CancelRequested && !run.SkipRequested) {
      StoreAndList(i);
    }
    if (run.CancelRequested) break;
  }
  if (downloaded) TrimRetrievedList();
  return BodyEnd::kNormal;
}

void TRetrievalDriver::StoreAndList(int index) {
  RunState& run = CurrentRunState();
  ProcessReceivedMessage();
  AppendRetrievedLine(ListedMessageId(index, run.CurrentMessageId) +
                      MessageSource_.Headers().GetFieldValue("Date") + "|" +
                      ShortDateText(run.CurrentMessageDate));
}

std::string TRetrievalDriver::ListedMessageId(int index,
                                              const std::string& message_id) {
  // Without a Message-ID, messages with the same Date would share a key:
  // the server's unique id tells them apart.
  if (!message_id.empty() || !server_has_uidl_) return message_id;
  const auto known = unique_ids_.find(index);
  if (known != unique_ids_.end()) return kUniqueIdPrefix + known->second;
  std::string unique_id;
  bool answered = false;
  try {
    answered = eMail_.Uidl(index, unique_id);
  } catch (...) {
    answered = false;
  }
  if (!answered) {
    // A refusal means the server keeps no unique ids; a broken connection
    // gives none either. Either way the plain key serves.
    server_has_uidl_ = false;
    return message_id;
  }
  unique_ids_[index] = unique_id;
  return kUniqueIdPrefix + unique_id;
}

// --- list mode ---------------------------------------------------------------

TRetrievalDriver::BodyEnd TRetrievalDriver::ListMode() {
  RunState& run = CurrentRunState();
  int counter = 0;
  if (run.CancelRequested) return BodyEnd::kEarly;
  // No box shows the list file's name: it would stop a hidden run.
  TStringList list;
  list.LoadFromFile(run.ListName);
  ProcessMessages();
  const int count = eMail_.MessageCount();
  bool downloaded = false;
  std::vector<int> listed;
  for (const std::string& entry : list) {
    const int n = StrToIntDef(Trim(entry), -1);
    if (n >= 0) listed.push_back(n);
  }
  eMail_.PlanCalls(listed, Pop3Calls::kInfoAndRetrieve);
  for (const std::string& entry : list) {
    run.SkipRequested = false;
    TmsRemoteInfoItem item;
    const int n = ListedMessageNumber(entry);
    if (n < 0) continue;
    TryGetInfo(n, item);
    if (run.CancelRequested) return BodyEnd::kEarly;
    run.CurrentMessageSize = item.Size();
    ++counter;
    run.CurrentMessageId = item.Headers().GetFieldValue("Message-ID");
    view_.SetProgressValue(0);
    view_.SetMessageCounterText(Decimal(counter) + " of " +
                                Decimal(static_cast<std::int64_t>(list.size())) +
                                " (" + Decimal(count) +
                                " messages on server)...");
    downloaded = TryRetrieve(n);
    if (downloaded && !run.CancelRequested && !run.SkipRequested) {
      StoreAndList(n);
    }
    if (run.CancelRequested) break;
  }
  if (downloaded) TrimRetrievedList();
  return BodyEnd::kNormal;
}

// --- the retrieved list ------------------------------------------------------

void TRetrievalDriver::LoadRetrievedList() {
  CurrentRunState().RetrievedList.clear();
  ReadRetrievedFile();
  key_searches_ = 0;
  IndexRetrievedKeys();
}

void TRetrievalDriver::ReadRetrievedFile() {
  RunState& run = CurrentRunState();
  if (!run.RetrievedName.empty() &&
      std::filesystem::exists(run.RetrievedName)) {
    run.RetrievedList.LoadFromFile(run.RetrievedName);
  }
}

void TRetrievalDriver::IndexRetrievedKeys() {
  // Built once per load: each search is then one look-up, not a pass over
  // the list.
  retrieved_keys_ = RetrievedKeys(CurrentRunState().RetrievedList);
}

bool TRetrievalDriver::IsAlreadyRetrieved(const std::string& key) {
  ++key_searches_;
  if (key.empty()) return false;
  return retrieved_keys_.count(key) != 0;
}

void TRetrievalDriver::AppendRetrievedLine(const std::string& line) {
  const std::string& name = CurrentRunState().RetrievedName;
  FileHandle file(FileOpen(name.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0666));
  if (!file.IsOpen()) {
    throw std::system_error(errno, std::generic_category(),
                            "opening " + name + " for appending");
  }
  WriteAllTo(file.Get(), line + "\r\n", name);
  if (file.Close() != 0) {
    throw std::system_error(errno, std::generic_category(), "writing " + name);
  }
}

void TRetrievalDriver::TrimRetrievedList() {
  RunState& run = CurrentRunState();
  // Takes in the lines appended during the run.
  ReadRetrievedFile();
  const int excess = eMail_.MessageCount() - run.MaxMessages;
  for (int k = 0; k < excess; ++k) {
    try {
      DeleteOnServer(k);
    } catch (...) {
      // The next run tries again.
    }
  }
  for (int k = 0; k < excess && !run.RetrievedList.empty(); ++k) {
    run.RetrievedList.erase(run.RetrievedList.begin());
  }
  run.RetrievedList.SaveToFile(run.RetrievedName);
  IndexRetrievedKeys();
}

// --- transfer handlers -------------------------------------------------------

std::string TRetrievalDriver::TransferText(int transferred, int size) const {
  return view_.GetWord("idTransferred") + " " + Decimal(transferred) + " " +
         view_.GetWord("idOf") + " " + Decimal(size) + " " +
         view_.GetWord("idBytes") + "...";
}

void TRetrievalDriver::ShowProgress(int value) {
  if (value >= 0 && value <= 100) view_.SetProgressValue(value);
}

void TRetrievalDriver::eMailProgress(int /*Perc*/, int Transferred) {
  const int size = CurrentRunState().CurrentMessageSize;
  if (size == 0) {
    view_.SetTransferText(view_.GetWord("idScanning"));
    return;
  }
  view_.SetTransferText(TransferText(Transferred, size));
  ShowProgress(static_cast<int>(static_cast<std::int64_t>(Transferred) * 100 /
                                size));
  const int value = view_.ProgressValue();
  if (value % 5 == 0) CurrentTalker().SendTalkerCommand(StatDLCommand(value));
  view_.RepaintProgress();
  ProcessMessages();
}

void TRetrievalDriver::eMailUserMessageSave(int /*Num*/,
                                            TMemoryStream& Contents) {
  const int size = CurrentRunState().CurrentMessageSize;
  view_.SetTransferText(TransferText(size, size));
  view_.SetProgressValue(100);
  view_.RepaintProgress();
  ProcessMessages();
  // The client hands on the data block as the server sent it: the message
  // is the text without the closing "." line and the transparency dots.
  TMemoryStream text;
  const std::string unstuffed = UnstuffDataBlock(Contents.Data());
  text.Write(unstuffed.data(), unstuffed.size());
  text.SetPosition(0);
  MessageSource_.Clear();
  MessageSource_.LoadFromStream(text);
}

// --- IMAP4 -------------------------------------------------------------------

void TRetrievalDriver::ImapBranch() {
  if (IC_.ExistsCount() <= 0) return;
  IC_.CurrentMailbox().Clear();
  IC_.FetchAll(false, kImapFetchItems);
  IC_.Expunge();
}

void TRetrievalDriver::ICRetrieving(int Num) {
  view_.SetStatusText(view_.GetWord("idRetrieving") + " " + Decimal(Num) +
                      "...");
  CurrentRunState().CurrentMessageSize = 0;
  view_.SetProgressValue(0);
  view_.SetMessageCounterText(Decimal(Num) + " of " +
                              Decimal(IC_.ExistsCount()) + "...");
}

void TRetrievalDriver::ICProgress(int Perc, int Transferred) {
  view_.SetTransferText(view_.GetWord("idScanning"));
  if (Perc > 0) {
    view_.SetTransferText(view_.GetWord("idTransferred") + " " +
                          Decimal(Transferred) + " " +
                          view_.GetWord("idBytes") + "...");
    ShowProgress(Perc);
  }
  view_.RepaintProgress();
  ProcessMessages();
}

void TRetrievalDriver::ICRetrieved(int /*Num*/) {
  TMailBox& mailbox = IC_.CurrentMailbox();
  const int n = mailbox.Count();
  if (n == 0) return;
  view_.SetProgressValue(100);
  view_.RepaintProgress();
  ProcessMessages();
  MessageSource_.Clear();
  MessageSource_.Assign(mailbox.Items(n - 1));
  TDateTime date = 0;
  std::string rest;
  ParseMailDate(MessageSource_.Headers().GetFieldValue("Date"), date, rest);
  if (date == 0) date = NowDateTime();
  ProcessReceivedMessage();
  AppendRetrievedLine(MessageSource_.Headers().GetFieldValue("Message-ID") +
                      "|" + ShortDateText(date));
  // The stored message is not needed again: the mailbox does not grow with
  // the number of messages fetched.
  mailbox.Delete(n - 1);
}

}  // namespace quillon
