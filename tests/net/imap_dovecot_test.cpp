// TImap4Client against a real Dovecot on loopback, in the retrieval
// driver's order: login (also with a literal password), capability, LSUB
// and LIST, SELECT INBOX, FETCH of real messages with attachments, STORE
// \Deleted, EXPUNGE, LOGOUT, and the mailbox empty afterwards.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "mail/message.h"
#include "net/imap_client.h"
#include "net/net_errors.h"
#include "tests/support/dovecot_server.h"

namespace quillon {
namespace {

using test::DovecotServer;

const char kDriverItems[] = "(FLAGS INTERNALDATE RFC822 ENVELOPE)";

const std::vector<std::string> kFixtures = {
    "attachment_emails_attachment_pdf.eml",
    "attachment_emails_attachment_message_rfc822_inline_image.eml",
    "attachment_emails_attachment_with_encoded_name.eml",
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string FixturePath(const std::string& name) {
  return std::string(QUILLON_CORPUS_DIR) + "/" + name;
}

std::string SmallMessage(const std::string& subject) {
  return "From: late@example.org\r\nTo: joe@example.org\r\nSubject: " + subject +
         "\r\nMessage-ID: <" + subject + "@example.org>\r\n\r\nArrived late.\r\n";
}

class ImapDovecot : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!DovecotServer::Available()) GTEST_SKIP() << "Dovecot is not available";
    dovecot = std::make_unique<DovecotServer>(
        std::vector<DovecotServer::User>{{"joe", "secret"}, {"ann", "pass word"}});
  }
  // The driver's client: SELECT, not EXAMINE.
  void Configure(TImap4Client& client, const std::string& user, const std::string& password) {
    client.SetServer(dovecot->ImapAddress());
    client.SetAllMailboxes(&mailboxes);
    client.SetUserName(user);
    client.SetPassword(password);
    client.SetOpenAsReadOnly(false);
    client.SetTimeOut(20);
  }
  void ConnectAndSelect(TImap4Client& client) {
    client.Connect();
    client.Capability();
    client.Lsub("", "%");
    client.List("", "%");
    ASSERT_TRUE(client.Connected());
    client.SetMailBox("INBOX");
  }

  std::unique_ptr<DovecotServer> dovecot;
  TMailboxList mailboxes;
};

TEST_F(ImapDovecot, DriverSequenceFetchesDeletesAndEmptiesTheInbox) {
  for (const std::string& name : kFixtures) dovecot->Deliver("joe", ReadFile(FixturePath(name)));
  TImap4Client client;
  Configure(client, "joe", "secret");
  std::vector<int> retrieved;
  std::vector<std::string> trace;
  client.OnRetrieved = [&](TagSocket&, int n) { retrieved.push_back(n); };
  client.OnTrace = [&](const std::string& line) { trace.push_back(line); };
  ConnectAndSelect(client);
  EXPECT_TRUE(client.LiteralPlus());  // Dovecot advertises it
  TMailBox* inbox = mailboxes.Find("INBOX");
  ASSERT_NE(inbox, nullptr);
  EXPECT_FALSE(inbox->LocalStored());
  EXPECT_FALSE(inbox->Delimiter().empty());
  EXPECT_EQ(client.ExistsCount(), 3);
  EXPECT_GT(inbox->UIDValidity(), 0);

  client.CurrentMailbox().Clear();
  client.FetchAll(false, kDriverItems);
  EXPECT_EQ(retrieved, (std::vector<int>{1, 2, 3}));
  ASSERT_EQ(inbox->Count(), 3);
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(kFixtures[static_cast<std::size_t>(i)]);
    TmsMessage expected;
    expected.LoadFromFile(FixturePath(kFixtures[static_cast<std::size_t>(i)]));
    auto& fetched = dynamic_cast<TmsImapMessage&>(inbox->Items(i));
    EXPECT_EQ(fetched.MsgNo(), i + 1);
    EXPECT_GT(fetched.Attachments().Count(), 0);
    EXPECT_EQ(fetched.Attachments().Count(), expected.Attachments().Count());
    for (int a = 0; a < expected.Attachments().Count(); ++a) {
      EXPECT_EQ(fetched.Attachments().Items(a).Data().Data(),
                expected.Attachments().Items(a).Data().Data());
    }
    EXPECT_EQ(fetched.Sender().Address(), expected.Sender().Address());
    EXPECT_EQ(fetched.Headers().GetFieldValue("Message-ID"),
              expected.Headers().GetFieldValue("Message-ID"));
    EXPECT_TRUE(fetched.ServerFlags().Contains(TMessageFlag::mesRecent));
    EXPECT_FALSE(fetched.InternalDate().empty());
  }
  client.Expunge();
  EXPECT_EQ(client.ExistsCount(), 0);
  client.Disconnect();
  EXPECT_FALSE(client.Connected());
  EXPECT_EQ(dovecot->CountMessages("joe"), 0);

  // The STORE named exactly the fetched messages.
  bool stored = false;
  for (const std::string& line : trace) {
    if (line.find("STORE 1:3 +FLAGS (\\Deleted)") != std::string::npos) stored = true;
  }
  EXPECT_TRUE(stored);
}

TEST_F(ImapDovecot, PasswordWithBlankLogsInThroughALiteral) {
  dovecot->Deliver("ann", SmallMessage("for-ann"));
  TImap4Client client;
  Configure(client, "ann", "pass word");
  std::vector<std::string> trace;
  client.OnTrace = [&](const std::string& line) { trace.push_back(line); };
  ConnectAndSelect(client);
  EXPECT_EQ(client.ExistsCount(), 1);
  EXPECT_EQ(client.CapabilityText().find("LITERAL+") != std::string::npos, client.LiteralPlus());
  bool continuation = false;
  for (const std::string& line : trace) {
    if (line.rfind("S: + ", 0) == 0) continuation = true;
    EXPECT_EQ(line.find("pass word"), std::string::npos) << "password in the trace";
  }
  EXPECT_TRUE(continuation);
  client.Disconnect();
  EXPECT_EQ(dovecot->CountMessages("ann"), 1);  // EXAMINE/SELECT alone deletes nothing
}

TEST_F(ImapDovecot, WrongPasswordIsANoResponse) {
  TImap4Client client;
  Configure(client, "joe", "wrong");
  try {
    client.Connect();
    FAIL() << "logged in";
  } catch (const EImapError& error) {
    EXPECT_EQ(std::string(error.what()).rfind("NO response : NO ", 0), 0u) << error.what();
  }
  client.Disconnect();
}

TEST_F(ImapDovecot, MessageArrivingDuringTheFetchStaysOnTheServer) {
  dovecot->Deliver("joe", SmallMessage("first"));
  dovecot->Deliver("joe", SmallMessage("second"));
  TImap4Client client;
  Configure(client, "joe", "secret");
  bool delivered_late = false;
  client.OnRetrieved = [&](TagSocket&, int) {
    if (!delivered_late) dovecot->Deliver("joe", SmallMessage("late"));
    delivered_late = true;
  };
  ConnectAndSelect(client);
  ASSERT_EQ(client.ExistsCount(), 2);
  client.CurrentMailbox().Clear();
  client.FetchAll(false, kDriverItems);
  EXPECT_EQ(client.DeliveredNumbers(), (std::vector<int>{1, 2}));
  // Dovecot announced the late message before the STORE, so "1:*" would
  // have marked it too.
  EXPECT_EQ(client.ExistsCount(), 3);
  client.Expunge();
  // Dovecot has told the client about the late message by now.
  EXPECT_EQ(client.ExistsCount(), 1);
  client.Disconnect();
  ASSERT_EQ(dovecot->CountMessages("joe"), 1);

  // The next run finds it.
  TImap4Client next;
  Configure(next, "joe", "secret");
  ConnectAndSelect(next);
  next.CurrentMailbox().Clear();
  next.Fetch("1:*", kDriverItems);
  ASSERT_EQ(next.CurrentMailbox().Count(), 1);
  EXPECT_EQ(next.CurrentMailbox().Items(0).Subject(), "late");
  next.Disconnect();
}

}  // namespace
}  // namespace quillon
