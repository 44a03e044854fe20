// quillon-tool store: make a store from a readable description, show what
// its files hold, and ask the filter engine which rule takes a message.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "mail/message.h"
#include "platform/code_pages.h"
#include "platform/data_dir.h"
#include "platform/text.h"
#include "rules/filter_engine.h"
#include "store/account_record.h"
#include "store/address_record.h"
#include "store/folder_record.h"
#include "store/record_bytes.h"
#include "store/message_store.h"
#include "store/rule_record.h"
#include "store/user_record.h"
#include "tools/command_registry.h"

namespace quillon::tool {
namespace {

using json = nlohmann::ordered_json;

// ---- JSON values <-> record fields (8-bit texts travel as Latin-1) ----

std::string TextOf(const json& object, const char* key) {
  auto found = object.find(key);
  if (found == object.end() || found->is_null()) return {};
  return Utf8ToLatin1(found->get<std::string>());
}

std::int32_t IntOf(const json& object, const char* key) {
  auto found = object.find(key);
  if (found == object.end() || found->is_null()) return 0;
  if (found->is_boolean()) return found->get<bool>() ? 1 : 0;
  return found->get<std::int32_t>();
}

std::uint8_t ByteOf(const json& value) {
  if (value.is_null()) return 0;
  if (value.is_boolean()) return value.get<bool>() ? 1 : 0;
  return static_cast<std::uint8_t>(value.get<int>());
}

std::uint8_t ByteOf(const json& object, const char* key) {
  auto found = object.find(key);
  return found == object.end() ? 0 : ByteOf(*found);
}

template <std::size_t N>
void TextsOf(const json& object, const char* key, std::array<std::string, N>& texts) {
  auto found = object.find(key);
  if (found == object.end()) return;
  for (std::size_t i = 0; i < N && i < found->size(); ++i) {
    texts[i] = Utf8ToLatin1((*found)[i].get<std::string>());
  }
}

template <std::size_t N>
void BytesOf(const json& object, const char* key, std::array<std::uint8_t, N>& bytes) {
  auto found = object.find(key);
  if (found == object.end()) return;
  for (std::size_t i = 0; i < N && i < found->size(); ++i) bytes[i] = ByteOf((*found)[i]);
}

std::string Json(const std::string& bytes) { return Latin1ToUtf8(bytes); }

template <std::size_t N>
json JsonTexts(const std::array<std::string, N>& texts) {
  json list = json::array();
  for (const std::string& text : texts) list.push_back(Json(text));
  return list;
}

template <std::size_t N>
json JsonBytes(const std::array<std::uint8_t, N>& bytes) {
  json list = json::array();
  for (std::uint8_t byte : bytes) list.push_back(byte);
  return list;
}

// ---- the records ----

AccountRecord AccountOf(const json& j) {
  AccountRecord a;
  a.Id = IntOf(j, "Id");
  a.UserId = IntOf(j, "UserId");
  a.EMailAddress = TextOf(j, "EMailAddress");
  a.ReplyToAddress = TextOf(j, "ReplyToAddress");
  a.SenderName = TextOf(j, "SenderName");
  a.IsImap = ByteOf(j, "IsImap") != 0;
  a.ImapHost = TextOf(j, "ImapHost");
  a.SmtpHost = TextOf(j, "SmtpHost");
  a.ImapUser = TextOf(j, "ImapUser");
  a.ImapPassword = TextOf(j, "ImapPassword");
  a.SmtpTimeOut = IntOf(j, "SmtpTimeOut");
  a.EightBitCharset = ByteOf(j, "EightBitCharset") != 0;
  return a;
}

json JsonOf(const AccountRecord& a) {
  return {{"Id", a.Id}, {"UserId", a.UserId}, {"EMailAddress", Json(a.EMailAddress)},
          {"ReplyToAddress", Json(a.ReplyToAddress)}, {"SenderName", Json(a.SenderName)},
          {"IsImap", a.IsImap}, {"ImapHost", Json(a.ImapHost)}, {"SmtpHost", Json(a.SmtpHost)},
          {"ImapUser", Json(a.ImapUser)}, {"ImapPassword", Json(a.ImapPassword)},
          {"SmtpTimeOut", a.SmtpTimeOut}, {"EightBitCharset", a.EightBitCharset}};
}

UserRecord UserOf(const json& j) {
  UserRecord u;
  u.Id = IntOf(j, "Id");
  u.UserName = TextOf(j, "UserName");
  u.Organization = TextOf(j, "Organization");
  return u;
}

json JsonOf(const UserRecord& u) {
  return {{"Id", u.Id}, {"UserName", Json(u.UserName)}, {"Organization", Json(u.Organization)}};
}

FolderRecord FolderOf(const json& j) {
  FolderRecord f;
  f.FolderId = IntOf(j, "FolderId");
  f.UserId = IntOf(j, "UserId");
  f.AccountId = IntOf(j, "AccountId");
  f.FolderName = TextOf(j, "FolderName");
  f.FolderKind = ByteOf(j, "FolderKind");
  return f;
}

json JsonOf(const FolderRecord& f) {
  return {{"FolderId", f.FolderId}, {"UserId", f.UserId}, {"AccountId", f.AccountId},
          {"FolderName", Json(f.FolderName)}, {"FolderKind", f.FolderKind}};
}

RuleRecord RuleOf(const json& j) {
  RuleRecord r;
  r.RuleId = IntOf(j, "RuleId");
  r.UserId = IntOf(j, "UserId");
  r.TargetFolderId = IntOf(j, "TargetFolderId");
  r.RuleInactive = ByteOf(j, "RuleInactive");
  r.RuleName = TextOf(j, "RuleName");
  TextsOf(j, "ConditionField", r.ConditionField);
  BytesOf(j, "ConditionContains", r.ConditionContains);
  TextsOf(j, "ConditionValue", r.ConditionValue);
  BytesOf(j, "ConditionJoin", r.ConditionJoin);
  r.ReplyEnabled = ByteOf(j, "ReplyEnabled");
  r.ReplySubject = TextOf(j, "ReplySubject");
  r.ReplyTextFile = TextOf(j, "ReplyTextFile");
  TextsOf(j, "ReplyAttachment", r.ReplyAttachment);
  r.ForwardEnabled = ByteOf(j, "ForwardEnabled");
  r.ForwardToGroup = ByteOf(j, "ForwardToGroup");
  r.ForwardName = TextOf(j, "ForwardName");
  r.ForwardAddress = TextOf(j, "ForwardAddress");
  r.ForwardGroupId = IntOf(j, "ForwardGroupId");
  r.AddressActionEnabled = ByteOf(j, "AddressActionEnabled");
  r.AddressMode = ByteOf(j, "AddressMode");
  r.AddressGroupId = IntOf(j, "AddressGroupId");
  r.SaveAttachmentsEnabled = ByteOf(j, "SaveAttachmentsEnabled");
  r.SaveAttachmentsDir = TextOf(j, "SaveAttachmentsDir");
  r.ColourEnabled = ByteOf(j, "ColourEnabled");
  r.RuleColourCode = ByteOf(j, "RuleColourCode");
  r.PrintEnabled = ByteOf(j, "PrintEnabled");
  r.UseDefaultPrinter = ByteOf(j, "UseDefaultPrinter");
  r.PrinterName = TextOf(j, "PrinterName");
  return r;
}

json JsonOf(const RuleRecord& r) {
  return {{"RuleId", r.RuleId}, {"UserId", r.UserId}, {"TargetFolderId", r.TargetFolderId},
          {"RuleInactive", r.RuleInactive}, {"RuleName", Json(r.RuleName)},
          {"ConditionField", JsonTexts(r.ConditionField)},
          {"ConditionContains", JsonBytes(r.ConditionContains)},
          {"ConditionValue", JsonTexts(r.ConditionValue)},
          {"ConditionJoin", JsonBytes(r.ConditionJoin)},
          {"ReplyEnabled", r.ReplyEnabled}, {"ReplySubject", Json(r.ReplySubject)},
          {"ReplyTextFile", Json(r.ReplyTextFile)},
          {"ReplyAttachment", JsonTexts(r.ReplyAttachment)},
          {"ForwardEnabled", r.ForwardEnabled}, {"ForwardToGroup", r.ForwardToGroup},
          {"ForwardName", Json(r.ForwardName)}, {"ForwardAddress", Json(r.ForwardAddress)},
          {"ForwardGroupId", r.ForwardGroupId},
          {"AddressActionEnabled", r.AddressActionEnabled}, {"AddressMode", r.AddressMode},
          {"AddressGroupId", r.AddressGroupId},
          {"SaveAttachmentsEnabled", r.SaveAttachmentsEnabled},
          {"SaveAttachmentsDir", Json(r.SaveAttachmentsDir)},
          {"ColourEnabled", r.ColourEnabled}, {"RuleColourCode", r.RuleColourCode},
          {"PrintEnabled", r.PrintEnabled}, {"UseDefaultPrinter", r.UseDefaultPrinter},
          {"PrinterName", Json(r.PrinterName)}};
}

AddressRecord AddressOf(const json& j) {
  AddressRecord a;
  a.AddressId = IntOf(j, "AddressId");
  a.GroupId = IntOf(j, "GroupId");
  a.EntryKind = ByteOf(j, "EntryKind");
  a.EntryName = TextOf(j, "EntryName");
  a.EntryAddress = TextOf(j, "EntryAddress");
  return a;
}

json JsonOf(const AddressRecord& a) {
  return {{"AddressId", a.AddressId}, {"GroupId", a.GroupId}, {"EntryKind", a.EntryKind},
          {"EntryName", Json(a.EntryName)}, {"EntryAddress", Json(a.EntryAddress)}};
}

// Days since 30 December 1899 as "YYYY-MM-DD hh:mm:ss".
std::string DateText(double days) {
  using namespace std::chrono;
  if (!std::isfinite(days) || std::fabs(days) > 3e6) return "?";
  double whole = std::floor(days);
  auto seconds = static_cast<long>(std::lround((days - whole) * 86400.0));
  if (seconds >= 86400) {
    whole += 1;
    seconds -= 86400;
  }
  year_month_day date{sys_days{year{1899} / December / 30} + std::chrono::days{static_cast<int>(whole)}};
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u %02ld:%02ld:%02ld", int(date.year()),
                unsigned(date.month()), unsigned(date.day()), seconds / 3600,
                seconds / 60 % 60, seconds % 60);
  return text;
}

json JsonOf(const MessageRecord& m) {
  return {{"MessageNumber", m.MessageNumber}, {"UserId", m.UserId},
          {"AccountId", m.AccountId}, {"FolderId", m.FolderId},
          {"MessageDate", m.MessageDate}, {"MessageDateText", DateText(m.MessageDate)},
          {"TimeZoneText", Json(m.TimeZoneText)}, {"StatusFlagA", m.StatusFlagA},
          {"StatusFlagB", m.StatusFlagB}, {"MessageSize", m.MessageSize},
          {"HasAttachments", m.HasAttachments}, {"Subject", Json(m.Subject)},
          {"SenderEntry", Json(m.SenderEntry)}, {"ToList", Json(m.ToList)},
          {"CcList", Json(m.CcList)}, {"BccList", Json(m.BccList)},
          {"MessageFileName", Json(m.MessageFileName)}, {"StatusFlagC", m.StatusFlagC},
          {"RecipientsFileName", Json(m.RecipientsFileName)},
          {"SenderText", Json(m.SenderText)}, {"ColourCode", m.ColourCode},
          {"Priority", m.Priority}, {"MessageIdText", Json(m.MessageIdText)},
          {"StatusFlagD", m.StatusFlagD}, {"StatusFlagE", m.StatusFlagE},
          {"StatusFlagF", m.StatusFlagF}};
}

json JsonOf(const FolderIndexEntry& e) {
  return {{"FolderId", e.FolderId}, {"MessageNumber", e.MessageNumber},
          {"StatusFlagB", e.StatusFlagB}, {"AccountId", e.AccountId}};
}

// ---- files ----

std::string FileIn(const std::string& directory, const std::string& name) {
  return (std::filesystem::path(directory) / name).string();
}

// Header record + data records, replacing the file.
void WriteDataFile(const std::string& path, const std::string& header,
                   const std::vector<std::string>& records) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(header.data(), static_cast<std::streamsize>(header.size()));
  for (const std::string& record : records) {
    out.write(record.data(), static_cast<std::streamsize>(record.size()));
  }
  out.close();
  if (!out) throw std::runtime_error("cannot write " + path);
}

// Every whole record of the file, record 0 included; nothing when the file
// does not exist. Reading never creates a file.
std::optional<std::vector<std::string>> ReadRecords(const std::string& path,
                                                    std::size_t size) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes((std::istreambuf_iterator<char>(in)), {});
  std::vector<std::string> records;
  for (std::size_t at = 0; at + size <= bytes.size(); at += size) {
    records.push_back(bytes.substr(at, size));
  }
  return records;
}

template <typename Record>
std::vector<std::string> RecordsOf(const json& description, const char* key,
                                   Record (*from_json)(const json&)) {
  std::vector<std::string> records;
  auto found = description.find(key);
  if (found == description.end()) return records;
  for (const json& item : *found) records.push_back(from_json(item).ToBytes());
  return records;
}

int Build(const Arguments& arguments) {
  if (arguments.size() != 3) throw UsageError{"build needs DESC.json and DIR"};
  std::ifstream in(arguments[1]);
  if (!in) throw std::runtime_error("cannot read " + arguments[1]);
  const json description = json::parse(in);
  const std::string& directory = arguments[2];
  std::filesystem::create_directories(std::filesystem::path(directory) / kStoredMessagesFolder);

  WriteDataFile(FileIn(directory, kAccountsFileName), std::string(account_layout::kRecordSize, '\0'),
                RecordsOf(description, "accounts", AccountOf));
  WriteDataFile(FileIn(directory, kUsersFileName), std::string(user_layout::kRecordSize, '\0'),
                RecordsOf(description, "users", UserOf));
  WriteDataFile(FileIn(directory, kFoldersFileName), std::string(FolderRecord::kSize, '\0'),
                RecordsOf(description, "folders", FolderOf));
  WriteDataFile(FileIn(directory, kRulesFileName), std::string(RuleRecord::kSize, '\0'),
                RecordsOf(description, "rules", RuleOf));
  std::vector<std::string> addresses = RecordsOf(description, "addresses", AddressOf);
  std::string address_header(AddressRecord::kSize, '\0');
  PutInt32(address_header, kAddressCountOffset, static_cast<std::int32_t>(addresses.size()));
  WriteDataFile(FileIn(directory, kAddressesFileName), address_header, addresses);
  return 0;
}

// Data records of a file as JSON objects with their record numbers.
template <typename FromBytes>
void DumpFile(json& dump, const char* key, const std::string& path, std::size_t size,
              FromBytes from_bytes) {
  auto records = ReadRecords(path, size);
  if (!records) return;
  json list = json::array();
  for (std::size_t number = 1; number < records->size(); ++number) {
    json item = {{"record_number", number}};
    item.update(JsonOf(from_bytes((*records)[number])));
    list.push_back(std::move(item));
  }
  dump[key] = std::move(list);
}

int Dump(const Arguments& arguments) {
  if (arguments.size() != 2) throw UsageError{"dump needs DIR"};
  const std::string& dir = arguments[1];
  json dump = json::object();
  DumpFile(dump, "accounts", FileIn(dir, kAccountsFileName), account_layout::kRecordSize,
           AccountRecord::FromBytes);
  DumpFile(dump, "users", FileIn(dir, kUsersFileName), user_layout::kRecordSize,
           UserRecord::FromBytes);
  DumpFile(dump, "folders", FileIn(dir, kFoldersFileName), FolderRecord::kSize,
           FolderRecord::FromBytes);
  DumpFile(dump, "rules", FileIn(dir, kRulesFileName), RuleRecord::kSize, RuleRecord::FromBytes);
  DumpFile(dump, "addresses", FileIn(dir, kAddressesFileName), AddressRecord::kSize,
           AddressRecord::FromBytes);
  DumpFile(dump, "messages", FileIn(dir, kMessagesFileName), MessageRecord::kSize,
           MessageRecord::FromBytes);
  DumpFile(dump, "folder_index", FileIn(dir, kFolderIndexFileName), FolderIndexEntry::kSize,
           FolderIndexEntry::FromBytes);
  if (auto records = ReadRecords(FileIn(dir, kAddressesFileName), AddressRecord::kSize);
      records && !records->empty()) {
    dump["addresses_header"] = {{"RecordCount", GetInt32((*records)[0], kAddressCountOffset)}};
  }
  if (auto records = ReadRecords(FileIn(dir, kMessagesFileName), MessageRecord::kSize);
      records && !records->empty()) {
    const std::string& header = (*records)[0];
    dump["messages_header"] = {
        {"RecordCount", GetInt32(header, MessageIndexHeader::kRecordCountOffset)},
        {"HighestNumber", GetInt32(header, MessageIndexHeader::kHighestNumberOffset)}};
  }
  std::cout << dump.dump(2) << "\n";
  return 0;
}

// A table cell: the text for display, cut to `width` bytes and padded.
std::string Cell(const std::string& text, std::size_t width) {
  std::string cut = text.substr(0, width);
  return Cp1252ToUtf8(cut) + std::string(width - cut.size() + 1, ' ');
}

int Messages(const Arguments& arguments) {
  if (arguments.size() != 2) throw UsageError{"messages needs DIR"};
  auto records = ReadRecords(FileIn(arguments[1], kMessagesFileName), MessageRecord::kSize);
  if (!records || records->empty()) {
    std::cout << "no message index in " << arguments[1] << "\n";
    return 0;
  }
  const std::string& header = (*records)[0];
  std::cout << "records: " << GetInt32(header, MessageIndexHeader::kRecordCountOffset)
            << "  highest number: " << GetInt32(header, MessageIndexHeader::kHighestNumberOffset)
            << "\n";
  std::cout << Cell("rec", 5) << Cell("number", 7) << Cell("folder", 6) << Cell("acct", 5)
            << Cell("user", 5) << Cell("date", 19) << Cell("size", 8) << Cell("att", 3)
            << Cell("col", 3) << Cell("pri", 3) << Cell("from", 30) << "subject\n";
  for (std::size_t number = 1; number < records->size(); ++number) {
    MessageRecord m = MessageRecord::FromBytes((*records)[number]);
    std::cout << Cell(std::to_string(number), 5) << Cell(std::to_string(m.MessageNumber), 7)
              << Cell(std::to_string(m.FolderId), 6) << Cell(std::to_string(m.AccountId), 5)
              << Cell(std::to_string(m.UserId), 5) << Cell(DateText(m.MessageDate), 19)
              << Cell(std::to_string(m.MessageSize), 8)
              << Cell(std::to_string(m.HasAttachments), 3)
              << Cell(std::to_string(m.ColourCode), 3) << Cell(std::to_string(m.Priority), 3)
              << Cell(m.SenderText, 30) << Cp1252ToUtf8(m.Subject) << "\n";
  }
  return 0;
}

json JsonOf(const RuleEvaluation& evaluation) {
  json conditions = json::array();
  for (const ConditionResult& c : evaluation.conditions) {
    conditions.push_back({{"slot", c.slot}, {"ConditionField", Json(c.field)},
                          {"ConditionValue", Json(c.value)}, {"ConditionContains", c.contains},
                          {"in_use", c.in_use}, {"found", c.found}, {"result", c.result}});
  }
  return {{"counted", evaluation.counted}, {"matched", evaluation.matched},
          {"conditions", std::move(conditions)}};
}

int IntArgument(const std::string& text, const char* what) {
  int value = 0;
  if (!TryStrToInt(text, value)) throw UsageError{std::string(what) + " must be a number"};
  return value;
}

int Match(const Arguments& arguments) {
  if (arguments.size() != 5) throw UsageError{"match needs DIR USERID ACCOUNTID MESSAGEFILE"};
  const int user_id = IntArgument(arguments[2], "USERID");
  const int account_id = IntArgument(arguments[3], "ACCOUNTID");
  TmsMessage message;
  message.LoadFromFile(arguments[4]);
  SetDataDirectory(arguments[1]);
  BuildRuleList(user_id);
  const int default_folder = FindFolder(user_id, account_id, kIncomingMailFolderKind, "");
  FilterMessage filter{message.Headers(), message.Subject(),
                       "<" + message.Sender().Address() + ">" + message.Sender().Name(),
                       ReceiverText(message.Recipients(), message.CC(), message.BCC()),
                       message.Body()};
  json tried = json::array();
  const int folder = FindRuleFolder(
      filter, default_folder,
      [&](int record_number, const RuleRecord& rule, const RuleEvaluation& evaluation) {
        json item = {{"record_number", record_number},
                     {"RuleId", rule.RuleId},
                     {"RuleName", Json(rule.RuleName)},
                     {"TargetFolderId", rule.TargetFolderId}};
        item.update(JsonOf(evaluation));
        tried.push_back(std::move(item));
      });
  const bool matched = MatchedRuleId() != -1;
  json result = {{"rule_id", MatchedRuleId()},
                 {"rule_name", matched ? Json(CurrentRule().RuleName) : ""},
                 {"folder_id", folder},
                 {"default_folder_id", default_folder},
                 {"subject", Json(filter.subject)},
                 {"sender_text", Json(filter.sender_text)},
                 {"receiver_text", Json(filter.receiver_text)},
                 {"rules", std::move(tried)}};
  std::cout << result.dump(2) << "\n";
  return 0;
}

int RunStore(const Arguments& arguments) {
  if (arguments.empty()) throw UsageError{"a subcommand is needed"};
  const std::string& command = arguments[0];
  if (command == "build") return Build(arguments);
  if (command == "dump") return Dump(arguments);
  if (command == "messages") return Messages(arguments);
  if (command == "match") return Match(arguments);
  throw UsageError{"unknown subcommand \"" + command + "\""};
}

const CommandRegistration registration(
    "store",
    "  store build DESC.json DIR   make the store files in DIR from a JSON description\n"
    "  store dump DIR              every record of every store file in DIR as JSON\n"
    "  store messages DIR          the message index of DIR as a table\n"
    "  store match DIR USERID ACCOUNTID MESSAGEFILE\n"
    "                              which rule takes a raw message, and why (JSON)\n",
    RunStore);

}  // namespace
}  // namespace quillon::tool
