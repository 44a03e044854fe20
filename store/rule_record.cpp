#include "store/rule_record.h"

#include <sys/stat.h>

#include <ctime>
#include <utility>

#include "store/data_file.h"
#include "store/record_bytes.h"
#include "store/record_file.h"

namespace quillon {

namespace {

std::vector<int>& MutableRuleList() {
  static std::vector<int> list;
  return list;
}

// A file written less than this long before it is read may be written again
// within the same tick of the file system's clock (which runs coarser than
// the system clock, and on some file systems in whole seconds).
constexpr std::int64_t kStampSettleNs = 3'000'000'000;

std::int64_t Nanoseconds(const struct timespec& time) {
  return static_cast<std::int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

RuleFileStamp StampOf(const std::string& path) {
  RuleFileStamp stamp;
  stamp.path = path;
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) return stamp;
  stamp.exists = true;
  stamp.device = static_cast<std::uint64_t>(status.st_dev);
  stamp.inode = static_cast<std::uint64_t>(status.st_ino);
  stamp.size = static_cast<std::int64_t>(status.st_size);
  stamp.modified_ns = Nanoseconds(status.st_mtim);
  stamp.changed_ns = Nanoseconds(status.st_ctim);
  return stamp;
}

// A later write sets both times to its own moment, which is after the read;
// when either time stood well before the read, that write cannot leave the
// stamp unchanged.
bool StampTellsChanges(const RuleFileStamp& stamp, std::int64_t read_at_ns) {
  if (!stamp.exists) return false;
  const std::int64_t settled_before = read_at_ns - kStampSettleNs;
  return stamp.modified_ns < settled_before || stamp.changed_ns < settled_before;
}

std::int64_t NowNs() {
  struct timespec now {};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return Nanoseconds(now);
}

RecordFile OpenRulesFile() {
  return RecordFile(PrepareDataFile(kRulesFileName, RuleRecord::kSize),
                    RuleRecord::kSize, ZeroHeader(RuleRecord::kSize));
}

std::size_t SlotOffset(std::size_t first, std::size_t room, std::size_t slot) {
  return first + slot * room;
}

void ReadConditions(const std::string& r, RuleRecord& rule) {
  using R = RuleRecord;
  for (std::size_t slot = 0; slot < kConditionSlots; ++slot) {
    rule.ConditionField[slot] =
        GetText(r, SlotOffset(R::kConditionFieldOffset, R::kConditionTextRoom, slot),
                R::kConditionTextCapacity);
    rule.ConditionContains[slot] = GetByte(r, R::kConditionContainsOffset + slot);
    rule.ConditionValue[slot] =
        GetText(r, SlotOffset(R::kConditionValueOffset, R::kConditionTextRoom, slot),
                R::kConditionTextCapacity);
    rule.ConditionJoin[slot] = GetByte(r, R::kConditionJoinOffset + slot);
  }
}

void WriteConditions(const RuleRecord& rule, std::string& r) {
  using R = RuleRecord;
  for (std::size_t slot = 0; slot < kConditionSlots; ++slot) {
    PutText(r, SlotOffset(R::kConditionFieldOffset, R::kConditionTextRoom, slot),
            R::kConditionTextCapacity, rule.ConditionField[slot]);
    PutByte(r, R::kConditionContainsOffset + slot, rule.ConditionContains[slot]);
    PutText(r, SlotOffset(R::kConditionValueOffset, R::kConditionTextRoom, slot),
            R::kConditionTextCapacity, rule.ConditionValue[slot]);
    PutByte(r, R::kConditionJoinOffset + slot, rule.ConditionJoin[slot]);
  }
}

void ReadActions(const std::string& r, RuleRecord& rule) {
  using R = RuleRecord;
  rule.ReplyEnabled = GetByte(r, R::kReplyEnabledOffset);
  rule.ReplySubject = GetText(r, R::kReplySubjectOffset, R::kPathCapacity);
  rule.ReplyTextFile = GetText(r, R::kReplyTextFileOffset, R::kPathCapacity);
  for (std::size_t i = 0; i < R::kReplyAttachmentCount; ++i) {
    rule.ReplyAttachment[i] =
        GetText(r, SlotOffset(R::kReplyAttachmentOffset, R::kPathRoom, i),
                R::kPathCapacity);
  }
  rule.ForwardEnabled = GetByte(r, R::kForwardEnabledOffset);
  rule.ForwardToGroup = GetByte(r, R::kForwardToGroupOffset);
  rule.ForwardName = GetText(r, R::kForwardNameOffset, R::kForwardNameCapacity);
  rule.ForwardAddress =
      GetText(r, R::kForwardAddressOffset, R::kForwardAddressCapacity);
  rule.ForwardGroupId = GetInt32(r, R::kForwardGroupIdOffset);
  rule.AddressActionEnabled = GetByte(r, R::kAddressActionEnabledOffset);
  rule.AddressMode = GetByte(r, R::kAddressModeOffset);
  rule.AddressGroupId = GetInt32(r, R::kAddressGroupIdOffset);
  rule.SaveAttachmentsEnabled = GetByte(r, R::kSaveAttachmentsEnabledOffset);
  rule.SaveAttachmentsDir =
      GetText(r, R::kSaveAttachmentsDirOffset, R::kPathCapacity);
  rule.ColourEnabled = GetByte(r, R::kColourEnabledOffset);
  rule.RuleColourCode = GetByte(r, R::kRuleColourCodeOffset);
  rule.PrintEnabled = GetByte(r, R::kPrintEnabledOffset);
  rule.UseDefaultPrinter = GetByte(r, R::kUseDefaultPrinterOffset);
  rule.PrinterName = GetText(r, R::kPrinterNameOffset, R::kPrinterNameCapacity);
}

void WriteActions(const RuleRecord& rule, std::string& r) {
  using R = RuleRecord;
  PutByte(r, R::kReplyEnabledOffset, rule.ReplyEnabled);
  PutText(r, R::kReplySubjectOffset, R::kPathCapacity, rule.ReplySubject);
  PutText(r, R::kReplyTextFileOffset, R::kPathCapacity, rule.ReplyTextFile);
  for (std::size_t i = 0; i < R::kReplyAttachmentCount; ++i) {
    PutText(r, SlotOffset(R::kReplyAttachmentOffset, R::kPathRoom, i),
            R::kPathCapacity, rule.ReplyAttachment[i]);
  }
  PutByte(r, R::kForwardEnabledOffset, rule.ForwardEnabled);
  PutByte(r, R::kForwardToGroupOffset, rule.ForwardToGroup);
  PutText(r, R::kForwardNameOffset, R::kForwardNameCapacity, rule.ForwardName);
  PutText(r, R::kForwardAddressOffset, R::kForwardAddressCapacity,
          rule.ForwardAddress);
  PutInt32(r, R::kForwardGroupIdOffset, rule.ForwardGroupId);
  PutByte(r, R::kAddressActionEnabledOffset, rule.AddressActionEnabled);
  PutByte(r, R::kAddressModeOffset, rule.AddressMode);
  PutInt32(r, R::kAddressGroupIdOffset, rule.AddressGroupId);
  PutByte(r, R::kSaveAttachmentsEnabledOffset, rule.SaveAttachmentsEnabled);
  PutText(r, R::kSaveAttachmentsDirOffset, R::kPathCapacity,
          rule.SaveAttachmentsDir);
  PutByte(r, R::kColourEnabledOffset, rule.ColourEnabled);
  PutByte(r, R::kRuleColourCodeOffset, rule.RuleColourCode);
  PutByte(r, R::kPrintEnabledOffset, rule.PrintEnabled);
  PutByte(r, R::kUseDefaultPrinterOffset, rule.UseDefaultPrinter);
  PutText(r, R::kPrinterNameOffset, R::kPrinterNameCapacity, rule.PrinterName);
}

}  // namespace

RuleRecord RuleRecord::FromBytes(const std::string& record) {
  RuleRecord rule;
  rule.bytes = record;
  rule.RuleId = GetInt32(record, kRuleIdOffset);
  rule.UserId = GetInt32(record, kUserIdOffset);
  rule.TargetFolderId = GetInt32(record, kTargetFolderIdOffset);
  rule.RuleInactive = GetByte(record, kRuleInactiveOffset);
  rule.RuleName = GetText(record, kRuleNameOffset, kRuleNameCapacity);
  ReadConditions(record, rule);
  ReadActions(record, rule);
  return rule;
}

std::string RuleRecord::ToBytes() const {
  std::string record = bytes.size() == kSize ? bytes : std::string(kSize, '\0');
  PutInt32(record, kRuleIdOffset, RuleId);
  PutInt32(record, kUserIdOffset, UserId);
  PutInt32(record, kTargetFolderIdOffset, TargetFolderId);
  PutByte(record, kRuleInactiveOffset, RuleInactive);
  PutText(record, kRuleNameOffset, kRuleNameCapacity, RuleName);
  WriteConditions(*this, record);
  WriteActions(*this, record);
  return record;
}

RuleRecord& CurrentRule() {
  static RuleRecord current;
  return current;
}

const std::vector<int>& RuleList() { return MutableRuleList(); }

void BuildRuleList(int user_id) {
  RecordFile file = OpenRulesFile();
  CurrentRule().RuleId = -1;
  MutableRuleList().clear();
  std::vector<int> list;
  ScanDataRecords(file, [&](std::size_t number, const std::string& record) {
    if (GetInt32(record, RuleRecord::kUserIdOffset) == user_id &&
        GetByte(record, RuleRecord::kRuleInactiveOffset) == 0) {
      list.push_back(static_cast<int>(number));
    }
    return true;
  });
  MutableRuleList() = std::move(list);
}

void LoadRule(int record_number) {
  RecordFile file = OpenRulesFile();
  CurrentRule().RuleId = -1;
  if (record_number < 0) {
    ThrowInOutError(kReadBeyondEndOfFile,
                    "reading rule record " + std::to_string(record_number) +
                        " of",
                    file.Path());
  }
  CurrentRule() = RuleRecord::FromBytes(
      file.ReadRequiredRecord(static_cast<std::size_t>(record_number)));
}

const RuleRecord* RuleFileSnapshot::Record(int record_number) const {
  if (record_number < 1 || static_cast<std::size_t>(record_number) > records.size()) {
    return nullptr;
  }
  return &records[static_cast<std::size_t>(record_number - 1)];
}

RuleFileSnapshot ReadRuleFile() {
  RuleFileSnapshot snapshot;
  // Stamp first: a write that lands during the read changes the file's
  // stamp after this one was taken, so the next look reads again.
  const std::int64_t read_at_ns = NowNs();
  snapshot.stamp = StampOf(DataFilePath(kRulesFileName));
  snapshot.stamp_tells_changes = StampTellsChanges(snapshot.stamp, read_at_ns);
  RecordFile file = OpenRulesFile();
  ScanDataRecords(file, [&](std::size_t, const std::string& record) {
    snapshot.records.push_back(RuleRecord::FromBytes(record));
    return true;
  });
  return snapshot;
}

bool RuleFileUnchanged(const RuleFileSnapshot& snapshot) {
  if (!snapshot.stamp_tells_changes) return false;
  return StampOf(DataFilePath(kRulesFileName)) == snapshot.stamp;
}

}  // namespace quillon
