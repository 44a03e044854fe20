// The received-message step over a mailbox on disk: messages per second
// without rules and with 200 rules that file, colour and update the address
// book (nothing that goes to the network), with a rules file written long
// before the run (as usual) and one written just before it (which the filter
// engine reads again for every message until its times have settled), the
// process's peak memory, and
// the cost per message with 100 and 10,000 messages already in the index.
// Decoding each raw message is the retrieval driver's work and is not
// timed; the step is (message and recipients files, rules, actions, index
// record, notification).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "mail/message.h"
#include "net/smtp_client.h"
#include "platform/data_dir.h"
#include "platform/streams.h"
#include "rules/received_message.h"
#include "rules/run_state.h"
#include "store/account_record.h"
#include "store/folder_record.h"
#include "store/message_store.h"
#include "store/record_bytes.h"
#include "store/rule_record.h"
#include "store/user_record.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;

constexpr int kUserId = 1;
constexpr int kAccountId = 3;
constexpr int kIncomingFolder = 10;
constexpr int kMailboxSize = 1000;
constexpr int kRuleCount = 200;

fs::path MakeTemporaryDirectory(const char* stem) {
  std::string pattern = (fs::temp_directory_path() / stem).string() + "-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
  return pattern;
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

double PeakMemoryMb() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in KB
}

// ---- the mailbox: plain, HTML, one and two attachments, 10 to 90 KB of
// content each (about 50 KB on average once encoded) ----

class MailboxWriter {
 public:
  explicit MailboxWriter(unsigned seed) : random_(seed) {}

  std::string Message(int index) {
    const std::size_t content = Between(10 * 1024, 90 * 1024);
    std::string head = "From: Sender " + std::to_string(index % 50) + " <sender" +
                       std::to_string(index % 50) +
                       "@example.org>\r\n"
                       "To: Jon <jon@example.org>, Ann <ann@example.org>\r\n"
                       "Cc: team@example.org\r\n"
                       "Subject: " +
                       Subject(index) +
                       "\r\n"
                       "Date: Tue, 15 Nov 2022 08:12:31 +0000\r\n"
                       "Message-ID: <" +
                       std::to_string(index) + "@example.org>\r\n";
    switch (index % 4) {
      case 0:
        return head + "\r\n" + Text(content);
      case 1:
        return head +
               "Mime-Version: 1.0\r\n"
               "Content-Type: multipart/alternative; boundary=\"ALT\"\r\n\r\n"
               "--ALT\r\nContent-Type: text/plain\r\n\r\n" +
               Text(content / 2) + "--ALT\r\nContent-Type: text/html\r\n\r\n<html><body>" +
               Text(content / 2) + "</body></html>\r\n--ALT--\r\n";
      case 2:
        return head + Mixed({Binary("data.bin", content)});
      default:
        return head + Mixed({TextFile("notes.txt", content / 3),
                             Binary("picture.jpg", content - content / 3)});
    }
  }

 private:
  std::size_t Between(std::size_t low, std::size_t high) {
    return std::uniform_int_distribution<std::size_t>(low, high)(random_);
  }
  static std::string Subject(int index) {
    static const char* const kWords[] = {"report", "meeting", "invoice", "colour",
                                         "lunch",  "update",  "photos",  "question"};
    return std::string("About the ") + kWords[index % 8] + " " + std::to_string(index);
  }
  std::string Text(std::size_t size) {
    static const char* const kWords[] = {"mail",  "store", "rule", "folder", "message",
                                         "reply", "the",   "of",   "and",    "Quillon"};
    std::string text;
    std::string line;
    while (text.size() < size) {
      line += kWords[Between(0, 9)];
      line += ' ';
      if (line.size() > 60) {
        text += line + "\r\n";
        line.clear();
      }
    }
    return text;
  }
  std::string Base64(std::size_t size) {
    static const char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    const std::size_t digits = (size + 2) / 3 * 4;
    for (std::size_t i = 0; i < digits; ++i) {
      text += kDigits[Between(0, 63)];
      if (i % 76 == 75) text += "\r\n";
    }
    return text + "\r\n";
  }
  std::string Binary(const std::string& name, std::size_t size) {
    return "Content-Type: application/octet-stream; name=\"" + name +
           "\"\r\nContent-Transfer-Encoding: base64\r\n\r\n" + Base64(size);
  }
  std::string TextFile(const std::string& name, std::size_t size) {
    return "Content-Type: text/plain; name=\"" + name + "\"\r\n\r\n" + Text(size);
  }
  static std::string Mixed(const std::vector<std::string>& parts) {
    std::string body =
        "Mime-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"MIX\"\r\n\r\n"
        "--MIX\r\nContent-Type: text/plain\r\n\r\nSee the attachments.\r\n";
    for (const std::string& part : parts) body += "--MIX\r\n" + part;
    return body + "--MIX--\r\n";
  }

  std::mt19937 random_;
};

struct Mailbox {
  fs::path directory;
  std::vector<std::string> files;
  std::size_t total_bytes = 0;
  std::size_t largest_bytes = 0;
};

// A directory removed when the process ends.
struct TemporaryDirectory {
  fs::path path;
  ~TemporaryDirectory() { fs::remove_all(path); }
};

Mailbox WriteMailbox(const fs::path& directory) {
  Mailbox box;
  box.directory = directory;
  MailboxWriter writer(20261209);
  for (int i = 0; i < kMailboxSize; ++i) {
    const std::string raw = writer.Message(i);
    const std::string path = (directory / (std::to_string(i) + ".eml")).string();
    WriteFile(path, raw);
    box.files.push_back(path);
    box.total_bytes += raw.size();
    box.largest_bytes = std::max(box.largest_bytes, raw.size());
  }
  return box;
}

// Written once per process and kept for every benchmark.
const Mailbox& SharedMailbox() {
  static const TemporaryDirectory directory{MakeTemporaryDirectory("quillon-mailbox")};
  static const Mailbox mailbox = WriteMailbox(directory.path);
  return mailbox;
}

// ---- the store and the run ----

RuleRecord NonMatchingRule(int index) {
  static const char* const kFields[] = {"SUBJECT",        "SENDER",   "RECEIVER",
                                        "[MESSAGE TEXT]", "X-Mailer", "Message-ID"};
  RuleRecord rule;
  rule.RuleId = 100 + index;
  rule.UserId = kUserId;
  rule.TargetFolderId = 11;
  rule.RuleName = "Rule " + std::to_string(index);
  rule.ConditionField[0] = kFields[index % 6];
  rule.ConditionContains[0] = 1;
  rule.ConditionValue[0] = "zz-absent-" + std::to_string(index);
  if (index % 3 == 0) {  // a second condition, joined by "and"
    rule.ConditionJoin[0] = 1;
    rule.ConditionField[1] = "Subject";
    rule.ConditionContains[1] = 0;
    rule.ConditionValue[1] = "never";
  }
  rule.ColourEnabled = 1;
  rule.RuleColourCode = 2;
  return rule;
}

// The last rule takes one message in eight (subject "colour"): it files,
// colours and puts the sender into the address book.
RuleRecord ColourRule() {
  RuleRecord rule;
  rule.RuleId = 99;
  rule.UserId = kUserId;
  rule.TargetFolderId = 11;
  rule.RuleName = "Colours";
  rule.ConditionField[0] = "Subject";
  rule.ConditionContains[0] = 1;
  rule.ConditionValue[0] = "colour";
  rule.ColourEnabled = 1;
  rule.RuleColourCode = 5;
  rule.AddressActionEnabled = 1;
  rule.AddressMode = kAddSender;
  rule.AddressGroupId = 7;
  return rule;
}

class BenchRun {
 public:
  BenchRun(int rule_count, int stored_before, bool rules_written_earlier = true)
      : directory_(MakeTemporaryDirectory("quillon-recv")) {
    fs::create_directory(directory_ / "In");
    SetDataDirectory(directory_.string());
    WriteFolders();
    WriteRules(rule_count, rules_written_earlier);
    PrefillIndex(stored_before);
    RunState& run = CurrentRunState();
    run = RunState{};
    run.CurrentUserId = kUserId;
    run.CurrentAccountId = kAccountId;
    CurrentAccount().Id = kAccountId;
    CurrentAccount().UserId = kUserId;
    CurrentAccount().EMailAddress = "jon@example.org";
    CurrentUser().Id = kUserId;
    CurrentUser().UserName = "Jon";
  }
  ~BenchRun() { fs::remove_all(directory_); }
  BenchRun(const BenchRun&) = delete;
  BenchRun& operator=(const BenchRun&) = delete;

 private:
  void WriteFolders() {
    FolderRecord incoming;
    incoming.FolderId = kIncomingFolder;
    incoming.UserId = kUserId;
    incoming.AccountId = kAccountId;
    incoming.FolderName = "Inbox";
    incoming.FolderKind = kIncomingMailFolderKind;
    FolderRecord other = incoming;
    other.FolderId = 11;
    other.FolderName = "Filed";
    other.FolderKind = 0;
    WriteFile(directory_ / kFoldersFileName,
              std::string(FolderRecord::kSize, '\0') + incoming.ToBytes() + other.ToBytes());
  }
  void WriteRules(int rule_count, bool written_earlier) {
    std::string bytes(RuleRecord::kSize, '\0');
    for (int i = 0; i + 1 < rule_count; ++i) bytes += NonMatchingRule(i).ToBytes();
    if (rule_count > 0) bytes += ColourRule().ToBytes();
    const fs::path path = directory_ / kRulesFileName;
    WriteFile(path, bytes);
    if (written_earlier) {
      // The user's rules were last edited an hour ago.
      const struct timespec times[2] = {{0, UTIME_NOW}, {::time(nullptr) - 3600, 0}};
      if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) throw std::runtime_error("utimensat");
    }
    BuildRuleList(kUserId);
  }
  void PrefillIndex(int count) {
    std::string header(MessageRecord::kSize, '\0');
    PutInt32(header, MessageIndexHeader::kRecordCountOffset, count);
    PutInt32(header, MessageIndexHeader::kHighestNumberOffset, count);
    std::ofstream out(directory_ / kMessagesFileName, std::ios::binary);
    out.write(header.data(), static_cast<std::streamsize>(header.size()));
    const std::string record = MessageRecord{}.ToBytes();
    for (int i = 0; i < count; ++i) {
      out.write(record.data(), static_cast<std::streamsize>(record.size()));
    }
  }

  fs::path directory_;
};

class NoStatusLine final : public ReceivedMessageView {
 public:
  void SetStatusText(const std::string&) override {}
};

double ThreadCpuSeconds() {
  timespec now{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Time spent in the step: wall clock, and processor time of this thread
// (what the step costs when the machine is shared).
struct StepTime {
  double wall = 0;
  double cpu = 0;
};

// Decodes each message (not timed) and times the step on it.
StepTime ProcessMessages(const std::vector<std::string>& files) {
  TmsMessage message_source;
  TmsMessage reply_message;
  TmsSMTP reply_mail;
  NoStatusLine status_line;
  TReceivedMessageStep step(message_source, reply_message, reply_mail, status_line, nullptr);
  StepTime time;
  for (const std::string& file : files) {
    message_source.Clear();
    {
      TFileStream raw(file, TFileStream::Mode::kOpenRead);
      CurrentRunState().CurrentMessageSize = static_cast<int>(raw.Size());
      message_source.LoadFromStream(raw);
    }
    const auto start = std::chrono::steady_clock::now();
    const double cpu_start = ThreadCpuSeconds();
    step.ProcessReceivedMessage();
    time.cpu += ThreadCpuSeconds() - cpu_start;
    time.wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  return time;
}

// The whole mailbox, with range(0) rules in a file written an hour before
// (range(1) = 1) or just before the run (range(1) = 0).
void BM_ReceiveMailbox(benchmark::State& state) {
  const Mailbox& mailbox = SharedMailbox();
  StepTime total;
  for (auto _ : state) {
    BenchRun run(static_cast<int>(state.range(0)), 0, state.range(1) != 0);
    const StepTime time = ProcessMessages(mailbox.files);
    state.SetIterationTime(time.wall);
    total.wall += time.wall;
    total.cpu += time.cpu;
  }
  const double messages = static_cast<double>(state.iterations()) * kMailboxSize;
  state.SetItemsProcessed(static_cast<std::int64_t>(messages));
  state.counters["msgs_per_s"] = messages / total.wall;
  state.counters["msgs_per_cpu_s"] = messages / total.cpu;
  state.counters["avg_msg_KB"] = static_cast<double>(mailbox.total_bytes) / kMailboxSize / 1024.0;
  state.counters["largest_msg_KB"] = static_cast<double>(mailbox.largest_bytes) / 1024.0;
  state.counters["peak_MB"] = PeakMemoryMb();
  state.counters["peak_limit_MB"] =
      4.0 * static_cast<double>(mailbox.largest_bytes) / 1048576.0 + 50;
}
BENCHMARK(BM_ReceiveMailbox)
    ->Args({0, 1})
    ->Args({kRuleCount, 1})
    ->Args({kRuleCount, 0})
    ->Iterations(2)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// Cost per message with range(0) messages already stored: 200 messages of
// the mailbox, no rules.
void BM_ReceiveIntoFilledIndex(benchmark::State& state) {
  const Mailbox& mailbox = SharedMailbox();
  const std::vector<std::string> files(mailbox.files.begin(), mailbox.files.begin() + 200);
  StepTime total;
  for (auto _ : state) {
    BenchRun run(0, static_cast<int>(state.range(0)));
    const StepTime time = ProcessMessages(files);
    state.SetIterationTime(time.wall);
    total.wall += time.wall;
    total.cpu += time.cpu;
  }
  const double messages =
      static_cast<double>(state.iterations()) * static_cast<double>(files.size());
  state.SetItemsProcessed(static_cast<std::int64_t>(messages));
  state.counters["us_per_msg"] = total.wall / messages * 1e6;
  state.counters["cpu_us_per_msg"] = total.cpu / messages * 1e6;
}
BENCHMARK(BM_ReceiveIntoFilledIndex)
    ->Arg(100)
    ->Arg(10000)
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quillon
