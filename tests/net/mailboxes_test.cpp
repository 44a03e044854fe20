#include "net/mailboxes.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "net/imap_tokens.h"

namespace quillon {
namespace {

std::vector<std::string> Names(const TMailboxList& list) {
  std::vector<std::string> names;
  for (int i = 0; i < list.Count(); ++i) names.push_back(list.Items(i).Name());
  return names;
}

std::vector<int> Numbers(const TMailBox& mailbox) {
  std::vector<int> numbers;
  for (int i = 0; i < mailbox.Count(); ++i) {
    numbers.push_back(dynamic_cast<TmsImapMessage&>(mailbox.Items(i)).MsgNo());
  }
  return numbers;
}

TmsImapMessage& AddMessage(TMailBox& mailbox, int msg_no) {
  TmsImapMessage& message = TmsImapMessage::Create(mailbox);
  message.SetMsgNo(msg_no);
  return message;
}

TEST(MailboxList, FindOrCreateIsCaseSensitiveAndCreatesLocalMailboxes) {
  TMailboxList list;
  TMailBox& inbox = list.FindOrCreate("INBOX");
  EXPECT_EQ(&list.FindOrCreate("INBOX"), &inbox);
  EXPECT_EQ(list.Find("Inbox"), nullptr);
  TMailBox& other = list.FindOrCreate("Inbox");
  EXPECT_NE(&other, &inbox);
  EXPECT_EQ(Names(list), (std::vector<std::string>{"INBOX", "Inbox"}));
  EXPECT_TRUE(other.LocalStored());
  EXPECT_EQ(other.Flags(), "\\Seen \\Answered \\Flagged \\Deleted \\Draft");
  EXPECT_EQ(other.Caption(), "Inbox");
  EXPECT_EQ(other.AllMailboxes(), &list);
}

TEST(MailboxList, CreatingAnExistingNameFailsAndLeavesNothingBehind) {
  TMailboxList list;
  list.CreateMailbox("Work");
  try {
    list.CreateMailbox("Work");
    FAIL();
  } catch (const EImapError& error) {
    EXPECT_STREQ(error.what(), "Can not rename mailbox  to Work. Work already exists!");
  }
  EXPECT_EQ(Names(list), std::vector<std::string>{"Work"});
}

TEST(MailboxList, DeleteRemoveByNameAndClear) {
  TMailboxList list;
  for (const char* name : {"a", "b", "c", "d"}) list.CreateMailbox(name);
  list.Delete(1);
  list.RemoveByName("c");
  list.RemoveByName("absent");
  EXPECT_EQ(Names(list), (std::vector<std::string>{"a", "d"}));
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
}

struct RenameRow {
  const char* name;
  const char* delimiter;
  const char* from;
  const char* to;
  std::vector<std::string> before;
  std::vector<std::string> after;
};

class Rename : public ::testing::TestWithParam<RenameRow> {};

TEST_P(Rename, RenamesTheMailboxAndItsChildren) {
  const RenameRow& row = GetParam();
  TMailboxList list;
  for (const std::string& name : row.before) list.CreateMailbox(name).SetDelimiter(row.delimiter);
  list.Find(row.from)->SetName(row.to);
  EXPECT_EQ(Names(list), row.after);
  EXPECT_EQ(list.Find(row.to)->Caption(), row.to);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Rename,
    ::testing::Values(
        RenameRow{"children_follow", "/", "Work", "Jobs",
                  {"Work", "Work/2024", "Work/2024/Q1", "Workshop"},
                  {"Jobs", "Jobs/2024", "Jobs/2024/Q1", "Workshop"}},
        RenameRow{"inbox_alone", "/", "INBOX", "Old", {"INBOX", "INBOX/x"}, {"Old", "INBOX/x"}},
        RenameRow{"inbox_any_case", "/", "inbox", "Old", {"inbox", "inbox/x"}, {"Old", "inbox/x"}},
        RenameRow{"empty_delimiter_prefix", "", "Work", "Jobs", {"Work", "Workshop"},
                  {"Jobs", "Jobsshop"}},
        RenameRow{"delimiter_already_at_end", "/", "Work/", "Jobs", {"Work/", "Work/a"},
                  {"Jobs", "Jobs/a"}},
        RenameRow{"new_name_under_old", "/", "A", "A/B", {"A", "A/x"}, {"A/B", "A/B/x"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MailboxList, RenameErrors) {
  TMailboxList list;
  list.SetOfficeLocation("imap.example.org");
  list.SetUserName("ann");
  TMailBox& work = list.CreateMailbox("Work");
  list.CreateMailbox("Jobs");
  try {
    work.SetName("Jobs");
    FAIL();
  } catch (const EImapError& error) {
    EXPECT_STREQ(error.what(), "Can not rename mailbox Work to Jobs. Jobs already exists!");
  }
  EXPECT_EQ(work.Name(), "Work");

  TMailboxList other;
  other.SetOfficeLocation("other.example.org");
  other.SetUserName("bob");
  try {
    other.Rename("X", work);
    FAIL();
  } catch (const EImapError& error) {
    EXPECT_STREQ(error.what(),
                 "Mailbox Work is not owned by other.example.org:bob. So can not rename it!");
  }
}

TEST(Mailbox, DestroyingAMessageLeavesTheMailboxDestroyingTheMailboxFreesMessages) {
  TMailboxList list;
  TMailBox& inbox = list.CreateMailbox("INBOX");
  for (int i = 1; i <= 3; ++i) AddMessage(inbox, i);
  inbox.Remove(&inbox.Items(1));
  EXPECT_EQ(Numbers(inbox), (std::vector<int>{1, 3}));
  list.Delete(0);  // frees the two remaining messages (checked by ASan builds)
  EXPECT_EQ(list.Count(), 0);
}

TEST(ImapMessage, CreatedInStepWithItsMailbox) {
  TMailboxList list;
  TMailBox& inbox = list.CreateMailbox("INBOX");
  TmsImapMessage& message = TmsImapMessage::Create(inbox);
  EXPECT_EQ(message.State(), TImapMessageState::kInStep);
  EXPECT_EQ(message.Mailbox(), &inbox);
  EXPECT_EQ(message.OriginalMailbox(), "INBOX");
  EXPECT_EQ(message.AllMailboxes(), &list);
  EXPECT_EQ(message.OwnerList(), &inbox);
}

TEST(ImapMessage, OriginalMailboxMovesTheMessage) {
  TMailboxList list;
  TMailBox& inbox = list.CreateMailbox("INBOX");
  TmsImapMessage& first = AddMessage(inbox, 1);
  AddMessage(inbox, 2);
  EXPECT_EQ(first.SetOriginalMailbox("Archive"), nullptr);
  TMailBox* archive = list.Find("Archive");
  ASSERT_NE(archive, nullptr);
  EXPECT_EQ(Numbers(inbox), std::vector<int>{2});
  EXPECT_EQ(archive->Count(), 1);
  EXPECT_EQ(first.Mailbox(), archive);
  EXPECT_EQ(first.State(), TImapMessageState::kLocalCopy);

  std::unique_ptr<TmsImapMessage> out = first.SetOriginalMailbox("");
  ASSERT_EQ(out.get(), &first);
  EXPECT_EQ(archive->Count(), 0);
  EXPECT_EQ(out->Mailbox(), nullptr);
  EXPECT_EQ(out->OriginalMailbox(), "");
}

TEST(ImapMessage, UnownedMessageCannotJoinAMailbox) {
  TMailboxList list;
  TmsImapMessage loose;
  EXPECT_THROW((void)loose.SetMailbox(&list.CreateMailbox("INBOX")), std::logic_error);
}

TEST(Mailbox, LookupByNumberSkipsLocalCopiesAndOtherMailboxes) {
  TMailboxList list;
  TMailBox& inbox = list.CreateMailbox("INBOX");
  TmsImapMessage& copy = AddMessage(inbox, 4);
  copy.SetState(TImapMessageState::kLocalCopy);
  TmsImapMessage& real = AddMessage(inbox, 4);
  TmsImapMessage& later = AddMessage(inbox, 4);
  EXPECT_EQ(inbox.FindServerMessage(4, "INBOX"), &real);
  real.SetState(TImapMessageState::kExpunged);  // expunged ones still match by number
  EXPECT_EQ(inbox.FindServerMessage(4, "INBOX"), &real);
  real.SetMsgNo(0);
  EXPECT_EQ(inbox.FindServerMessage(4, "INBOX"), &later);
  EXPECT_EQ(inbox.FindServerMessage(4, "Other"), nullptr);
  EXPECT_EQ(inbox.FindServerMessage(5, "INBOX"), nullptr);
}

TEST(Mailbox, AssignMakesLocalCopies) {
  TMailboxList list;
  TMailBox& source = list.CreateMailbox("INBOX");
  source.SetFlags("(\\Seen)");
  source.SetSubscribed(true);
  source.SetOptions(TMailBoxFlag{TMailBoxOption::Marked});
  source.SetMailBoxType(TMailBoxType::mtInbox);
  TmsImapMessage& original = AddMessage(source, 3);
  original.SetSize(310);
  original.SetInternalDate("08-Dec-2026 20:00:01 +0000");
  original.SetServerFlags(TMessageFlagSet{TMessageFlag::mesSeen});
  original.SetSubject("Hello");

  TMailBox& target = list.CreateMailbox("Copy");
  AddMessage(target, 99);
  target.Assign(source);
  ASSERT_EQ(target.Count(), 1);
  auto& copy = dynamic_cast<TmsImapMessage&>(target.Items(0));
  EXPECT_EQ(copy.State(), TImapMessageState::kLocalCopy);
  EXPECT_EQ(copy.Size(), 310);
  EXPECT_EQ(copy.InternalDate(), "08-Dec-2026 20:00:01 +0000");
  EXPECT_EQ(copy.ServerFlags(), TMessageFlagSet{TMessageFlag::mesSeen});
  EXPECT_EQ(copy.Subject(), "Hello");
  EXPECT_EQ(copy.OriginalMailbox(), "Copy");
  EXPECT_EQ(target.Flags(), "(\\Seen)");
  EXPECT_TRUE(target.Subscribed());
  EXPECT_EQ(target.Options(), TMailBoxFlag{TMailBoxOption::Marked});
  EXPECT_EQ(target.MailBoxType(), TMailBoxType::mtInbox);
  EXPECT_EQ(source.Count(), 1);
  target.Assign(target);  // onto itself: nothing lost
  EXPECT_EQ(target.Count(), 1);
}

TEST(Mailbox, SaveAndLoadMessagesUnderOfficeLocation) {
  const std::filesystem::path root =
      std::filesystem::temp_directory_path() / ("imap_mailbox_test_" + std::to_string(getpid()));
  std::filesystem::create_directories(root / "Work" / "2024");
  TMailboxList list;
  list.SetOfficeLocation(root.string());
  TMailBox& work = list.CreateMailbox("Work/2024");
  TmsImapMessage& message = AddMessage(work, 7);
  message.Sender().SetAddress("ann@example.org");
  message.Recipients().AddAddress("bob@example.net", "");
  message.SetSubject("Saved");
  message.Body().push_back("Line one");
  work.SaveMessages();
  EXPECT_EQ(work.MessageFileName(message), root.string() + "/Work/2024/7");
  EXPECT_TRUE(std::filesystem::exists(root / "Work" / "2024" / "7"));

  message.Clear();
  work.LoadMessages();
  EXPECT_EQ(message.Subject(), "Saved");
  EXPECT_EQ(message.Sender().Address(), "ann@example.org");
  std::filesystem::remove_all(root);
}

TEST(Mailbox, MovesBetweenListsAndLeavesAList) {
  TMailboxList first;
  TMailboxList second;
  TMailBox& box = first.CreateMailbox("Box");
  EXPECT_EQ(box.SetAllMailboxes(&second), nullptr);
  EXPECT_EQ(first.Count(), 0);
  EXPECT_EQ(second.Find("Box"), &box);
  std::unique_ptr<TMailBox> out = box.SetAllMailboxes(nullptr);
  EXPECT_EQ(out.get(), &box);
  EXPECT_EQ(second.Count(), 0);
  EXPECT_EQ(out->AllMailboxes(), nullptr);
}

}  // namespace
}  // namespace quillon
