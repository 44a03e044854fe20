// The POP3 client (RFC 1939 subset): USER/PASS login, STAT, and per message
// LIST, TOP, RETR and DELE; QUIT ends the session and makes the server carry
// out the deletions. Indexes are zero-based; the commands send index + 1.
//
// TmsCustomPOP has the protocol; TmsRemotePOP adds where a downloaded
// message goes (a handler or a file) and GetInfo.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "net/mail_base.h"
#include "net/pop3_pipeline.h"
#include "net/remote_info.h"
#include "platform/streams.h"
#include "platform/string_list.h"

namespace quillon {

// Which operations a caller announces for each message of a plan.
enum class Pop3Calls { kInfo, kRetrieve, kInfoAndRetrieve };

using TmsUserMsgSaveEvent =
    std::function<void(TagSocket& sender, int num, TMemoryStream& contents)>;

class TmsCustomPOP : public TmsMailBase {
 public:
  TmsCustomPOP();

  const std::string& UserName() const { return user_name_; }
  void SetUserName(const std::string& name) { user_name_ = name; }
  const std::string& Password() const { return password_; }
  void SetPassword(const std::string& password) { password_ = password; }
  // From STAT; -1 until STAT has been answered, kept after disconnecting.
  int MessageCount() const { return message_count_; }
  int TotalSize() const { return total_size_; }
  // The size from the last LIST made by Retrieve.
  int CurrentMessageSize() const { return current_message_size_; }

  TmsNumNotifyEvent OnRetrieving;
  TmsNumNotifyEvent OnRetrieved;
  TmsNumNotifyEvent OnDeleting;

  // Whether PlanCalls may ask the server for its capabilities and send
  // commands ahead when it lists PIPELINING. Off: the dialogue is one
  // command, one reply, whatever the caller announces.
  bool PipeliningAllowed() const { return pipelining_allowed_; }
  void SetPipeliningAllowed(bool allowed) { pipelining_allowed_ = allowed; }
  // The server of this session listed PIPELINING (known after the first
  // PlanCalls that asked).
  bool ServerPipelining() const { return server_pipelining_; }
  // The caller will next call GetInfo and/or Retrieve for `indexes`, in
  // that order (Delete may come between them). With a pipelining server
  // their commands are sent ahead, within a bounded window, and each call
  // still returns what it would have returned alone, in the same order and
  // with the same events. The first plan of a session asks CAPA. Never
  // fails: the calls themselves report what goes wrong.
  void PlanCalls(const std::vector<int>& indexes, Pop3Calls calls);

  // CheckCredentials, ResetState, then the socket's Open.
  void Open() override;
  // Also forgets whatever was sent ahead: its replies cannot come.
  void Close() override;
  void ResetState() override;
  // Connects, reads the greeting, USER, PASS and STAT.
  void Login() override;
  // QUIT; a negative reply raises EServerError (the socket stays open).
  void Logout() override;
  // 1 for "+...", -1 for "-...", 0 for anything else or an empty line.
  int GetReplyCode(const std::string& reply) const override;

  // Downloads message `index` and hands it to SaveMessage.
  void Retrieve(int index);
  // Marks message `index` for deletion; a refusal passes silently. While
  // commands are sent ahead the DELE does not wait for its reply.
  void Delete(int index);
  // The server's unique id of message `index` ("UIDL n"). False when the
  // server refuses (no UIDL support, or no such message); `unique_id` is
  // then left empty.
  bool Uidl(int index, std::string& unique_id);

  virtual void SaveMessage(int index, TMemoryStream& stream) = 0;
  // Missing UserName or Password: numbered error before any network use.
  virtual void CheckCredentials();

 protected:
  // Sends `command`; unless the reply is positive, EServerError with it.
  void Command(const std::string& command);
  // Sends `command` (or finds it sent ahead) and reads its status line
  // into LastReply; returns the reply code.
  int Exchange(const std::string& command);
  // Reads the data block after a positive RETR or TOP reply.
  void ReceiveBlock(TStream& stream, std::int64_t expected_size);
  // LIST for message `index`; the size, 0 when the reply has none.
  int ListSize(int index);

 private:
  void ReadStatistics();
  // STLS and the TLS handshake, before anything of the login is sent.
  void StartStls();
  void AskCapabilities();
  int PipelinedExchange(const std::string& command);
  // Sends the planned commands the window has room for.
  void SendAhead();
  // Reads and drops the reply at the head of the pipeline.
  void DropReply();
  // Runs `step` on the pipelined stream; when it fails the stream cannot
  // be matched to its commands any more, so the connection is closed.
  template <typename Step>
  auto Guarded(Step step);

  std::string user_name_;
  std::string password_;
  int message_count_ = -1;
  int total_size_ = -1;
  int current_message_size_ = 0;
  bool pipelining_allowed_ = false;
  bool capabilities_asked_ = false;
  bool server_pipelining_ = false;
  Pop3Pipeline pipeline_;
};

class TmsRemotePOP : public TmsCustomPOP {
 public:
  TmsRemotePOP();
  ~TmsRemotePOP() override;

  // Where SaveMessage writes files when no OnUserMessageSave handler is
  // set; a non-empty value is kept with a trailing "/".
  const std::string& MessageDirectory() const { return message_directory_; }
  void SetMessageDirectory(const std::string& directory);

  TmsUserMsgSaveEvent OnUserMessageSave;
  // Kept for the component's shape; no operation fires them.
  TNotifyEvent OnUpdatingInfo;
  TNotifyEvent OnUpdatingInfoBHG;
  TNotifyEvent OnInfoUpdated;
  TNotifyEvent OnTransferringData;
  TNotifyEvent OnDataTransfered;
  TmsNumNotifyEvent OnNextInfoUpdated;

  // Size (LIST) and header lines (TOP n 1, cut at the first empty line) of
  // message `index`, into an item the caller supplies.
  void GetInfo(int index, TmsRemoteInfoItem& item);
  // To OnUserMessageSave when set; else the file MessageDirectory +
  // "msg_" + index + ".eml", replaced when it exists.
  void SaveMessage(int index, TMemoryStream& stream) override;

  TmsRemoteInfo& RemoteInfo() { return remote_info_; }
  TStringList& Uidls() { return uidls_; }

 private:
  std::string message_directory_;
  TmsRemoteInfo remote_info_;  // left empty by this system
  TStringList uidls_;          // left empty by this system
};

}  // namespace quillon
