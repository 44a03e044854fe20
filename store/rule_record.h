// The user's filter rules (qvRulesData.rul), the list of the rules in force
// built once per run, and the current rule.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quillon {

inline constexpr char kRulesFileName[] = "qvRulesData.rul";

// Slots 1 to 8 are stored; the filter engine evaluates 1 to 4.
inline constexpr std::size_t kConditionSlots = 8;

struct RuleRecord {
  static constexpr std::size_t kSize = 2004;
  static constexpr std::size_t kRuleIdOffset = 0;
  static constexpr std::size_t kUserIdOffset = 4;
  static constexpr std::size_t kTargetFolderIdOffset = 8;
  static constexpr std::size_t kRuleInactiveOffset = 12;
  static constexpr std::size_t kRuleNameOffset = 13;
  static constexpr std::size_t kRuleNameCapacity = 40;
  static constexpr std::size_t kConditionFieldOffset = 54;   // 8 x text[40]
  static constexpr std::size_t kConditionContainsOffset = 382;  // 8 bytes
  static constexpr std::size_t kConditionValueOffset = 390;  // 8 x text[40]
  static constexpr std::size_t kConditionJoinOffset = 718;   // 8 bytes
  static constexpr std::size_t kConditionTextCapacity = 40;
  static constexpr std::size_t kConditionTextRoom = 41;
  static constexpr std::size_t kReplyEnabledOffset = 726;
  static constexpr std::size_t kReplySubjectOffset = 727;
  static constexpr std::size_t kReplyTextFileOffset = 828;
  static constexpr std::size_t kReplyAttachmentOffset = 929;  // 4 x text[100]
  static constexpr std::size_t kReplyAttachmentCount = 4;
  static constexpr std::size_t kPathCapacity = 100;
  static constexpr std::size_t kPathRoom = 101;
  static constexpr std::size_t kForwardEnabledOffset = 1336;
  static constexpr std::size_t kForwardToGroupOffset = 1337;
  static constexpr std::size_t kForwardNameOffset = 1338;
  static constexpr std::size_t kForwardNameCapacity = 50;
  static constexpr std::size_t kForwardAddressOffset = 1389;
  static constexpr std::size_t kForwardAddressCapacity = 82;
  static constexpr std::size_t kForwardGroupIdOffset = 1472;
  static constexpr std::size_t kAddressActionEnabledOffset = 1476;
  static constexpr std::size_t kAddressModeOffset = 1477;
  static constexpr std::size_t kAddressGroupIdOffset = 1480;
  static constexpr std::size_t kSaveAttachmentsEnabledOffset = 1484;
  static constexpr std::size_t kSaveAttachmentsDirOffset = 1485;
  static constexpr std::size_t kColourEnabledOffset = 1586;
  static constexpr std::size_t kRuleColourCodeOffset = 1587;
  static constexpr std::size_t kPrintEnabledOffset = 1589;
  static constexpr std::size_t kUseDefaultPrinterOffset = 1590;
  static constexpr std::size_t kPrinterNameOffset = 1591;
  static constexpr std::size_t kPrinterNameCapacity = 255;

  std::string bytes;  // the whole record; bytes not read are kept
  std::int32_t RuleId = 0;
  std::int32_t UserId = 0;
  std::int32_t TargetFolderId = 0;
  std::uint8_t RuleInactive = 0;
  std::string RuleName;
  // Index 0 holds slot 1.
  std::array<std::string, kConditionSlots> ConditionField;
  std::array<std::uint8_t, kConditionSlots> ConditionContains{};
  std::array<std::string, kConditionSlots> ConditionValue;
  std::array<std::uint8_t, kConditionSlots> ConditionJoin{};
  std::uint8_t ReplyEnabled = 0;
  std::string ReplySubject;
  std::string ReplyTextFile;
  std::array<std::string, kReplyAttachmentCount> ReplyAttachment;
  std::uint8_t ForwardEnabled = 0;
  std::uint8_t ForwardToGroup = 0;
  std::string ForwardName;
  std::string ForwardAddress;
  std::int32_t ForwardGroupId = 0;
  std::uint8_t AddressActionEnabled = 0;
  std::uint8_t AddressMode = 0;
  std::int32_t AddressGroupId = 0;
  std::uint8_t SaveAttachmentsEnabled = 0;
  std::string SaveAttachmentsDir;
  std::uint8_t ColourEnabled = 0;
  std::uint8_t RuleColourCode = 0;
  std::uint8_t PrintEnabled = 0;
  std::uint8_t UseDefaultPrinter = 0;
  std::string PrinterName;

  static RuleRecord FromBytes(const std::string& record);
  // The record with the fields written over `bytes` (zeros when empty).
  std::string ToBytes() const;
};

// AddressMode values.
inline constexpr std::uint8_t kAddSender = 0;
inline constexpr std::uint8_t kAddSenderAndRecipients = 1;
inline constexpr std::uint8_t kRemoveSender = 2;

// The current rule, all zero at start.
RuleRecord& CurrentRule();

// Record numbers of the rules in force of the user of the last
// BuildRuleList, in file order. Grows past 1000 entries as needed.
const std::vector<int>& RuleList();

// Rebuilds the rule list for `user_id`: data records with that UserId and
// a zero RuleInactive. The current rule's RuleId becomes -1.
void BuildRuleList(int user_id);

// Makes the rule at `record_number` the current rule. Its RuleId is -1
// while it is read; a record beyond the end throws EInOutError.
void LoadRule(int record_number);

// What the rules file looked like (file identity, size, modification and
// change times), to tell later whether it may have changed.
struct RuleFileStamp {
  std::string path;
  bool exists = false;
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::int64_t size = 0;
  std::int64_t modified_ns = 0;
  std::int64_t changed_ns = 0;

  bool operator==(const RuleFileStamp&) const = default;
};

// Every whole data record of the rules file, read in one open, with the
// file's stamp taken just before the read.
struct RuleFileSnapshot {
  std::vector<RuleRecord> records;  // index 0 holds record 1
  RuleFileStamp stamp;
  // False when the file was written so shortly before the read that a
  // second write in the same tick of the file system's clock could leave
  // the stamp as it is; such a snapshot is never taken as current.
  bool stamp_tells_changes = false;

  // The record at `record_number` (1, 2, ...), or nullptr beyond the end.
  const RuleRecord* Record(int record_number) const;
};

// Reads the rules file of the data directory (created with its header
// record when missing). Throws EInOutError.
RuleFileSnapshot ReadRuleFile();

// True when the rules file is certainly as it was when `snapshot` was read:
// same file, same size, same times, and a stamp that tells changes.
bool RuleFileUnchanged(const RuleFileSnapshot& snapshot);

}  // namespace quillon
