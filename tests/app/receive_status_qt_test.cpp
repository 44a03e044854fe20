// The status window in the test process (offscreen): start-up texts, show
// states, the start timer's reading of parameters and account, the close
// timer, placement files, buttons and status texts.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QImage>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTextEdit>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "app/animate.h"
#include "app/message_box.h"
#include "app/receive_status.h"
#include "rules/run_state.h"
#include "platform/code_pages.h"
#include "platform/data_dir.h"
#include "platform/ini_file.h"
#include "store/account_record.h"
#include "store/user_record.h"
#include "tests/app/qt_test_application.h"
#include "tests/support/recording_talker.h"
#include "tests/support/scripted_server.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string Cp1252(const QString& text) {
  return Utf8ToCp1252(text.toStdString());
}

class StatusWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::TestApplication();
    char pattern[] = "/tmp/quillon-window-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    directory_ = pattern;
    SetDataDirectory(directory_);
    CurrentRunState() = RunState{};
    CurrentAccount() = AccountRecord{};
    CurrentUser() = UserRecord{};
    SetMessageBoxFunction(
        [this](const std::string& text, BoxIcon icon, BoxButtons) {
          boxes_.push_back(text);
          icons_.push_back(icon);
          return BoxAnswer::kOk;
        });
  }
  void TearDown() override {
    window_.reset();
    SetMessageBoxFunction(nullptr);
    fs::remove_all(directory_);
  }

  std::string Path(const std::string& name) const {
    return directory_ + "/" + name;
  }
  void WriteFile(const std::string& name, const std::string& bytes) const {
    std::ofstream(Path(name), std::ios::binary) << bytes;
  }
  void WriteAccountAndUser(int account_id, int user_id,
                           const std::string& address) const {
    AccountRecord account;
    account.Id = account_id;
    account.UserId = user_id;
    account.EMailAddress = address;
    WriteFile(kAccountsFileName, std::string(2584, '\0') + account.ToBytes());
    UserRecord user;
    user.Id = user_id;
    user.UserName = "Anna";
    WriteFile(kUsersFileName, std::string(1188, '\0') + user.ToBytes());
  }
  std::string WriteParameters(int account_id) const {
    // A run that gets as far as connecting is refused at once.
    WriteFile("run.ini", "[Login]\nHost=127.0.0.1\nPort=" +
                             std::to_string(refusing_.Port()) +
                             "\n[UserInfo]\nAccount=" +
                             std::to_string(account_id) + "\n");
    return Path("run.ini");
  }

  void Create(std::vector<std::string> arguments, int show_state = 1) {
    window_ = std::make_unique<TReceiveStatus>(std::move(arguments));
    // The test's own pumping stands for the application's loop.
    window_->TerminateApplication = [this](int exit_code) {
      terminations_.push_back(exit_code);
    };
    QObject::connect(window_.get(), &TReceiveStatus::Closed,
                     [this] { closed_ = true; });
    window_->ShowAtStart(show_state);
  }
  // Lets the pump run until the close timer has closed the window.
  bool PumpUntilClosed() {
    const auto deadline = MessagePump::Clock::now() + 30s;
    while (!closed_ && MessagePump::Clock::now() < deadline) {
      CurrentPump().WaitForEvents(deadline);
    }
    return closed_;
  }

  test::RefusingPort refusing_;
  std::string directory_;
  std::unique_ptr<TReceiveStatus> window_;
  bool closed_ = false;
  std::vector<int> terminations_;
  std::vector<std::string> boxes_;
  std::vector<BoxIcon> icons_;
};

TEST_F(StatusWindowTest, CreationPreparesTheWindowBeforeAnyWork) {
  Create({WriteParameters(1)});
  EXPECT_EQ(window_->windowTitle(), "Corvane - Receiving messages...");
  EXPECT_EQ(window_->Label1->text(), "Retrieving messages for");
  EXPECT_EQ(window_->Label4->text(), "Preparing retrieval...");
  EXPECT_EQ(window_->Label3->text(), "Message:");
  EXPECT_EQ(window_->Label5->text(), "Progress:");
  EXPECT_EQ(window_->Button2->text(), "&Minimize");
  EXPECT_EQ(window_->Button3->text(), "Skip!");
  EXPECT_EQ(window_->Button1->text(), "Cancel");
  EXPECT_TRUE(window_->Button1->isDefault());
  EXPECT_EQ(window_->Progress->minimum(), 0);
  EXPECT_EQ(window_->Progress->maximum(), 100);
  EXPECT_FALSE(window_->MessageText->isVisible());
  EXPECT_EQ(window_->MessageText->y(), 2000);
  EXPECT_TRUE(window_->Starta.Enabled());
  EXPECT_FALSE(window_->Halta.Enabled());
  EXPECT_EQ(window_->Starta.Interval(), 10ms);
  EXPECT_EQ(window_->Halta.Interval(), 200ms);
  EXPECT_EQ(window_->Animate1->FileName(), DataDirectory() + "working.avi");
  EXPECT_EQ(window_->pos(), QPoint(200, 108));
  EXPECT_EQ(window_->size(), QSize(437, 97));
  EXPECT_TRUE(fs::exists(Path("run.ini")));  // nothing read yet
}

struct ShowCase {
  const char* name;
  int show_state;
  bool shown;
};

class ShowStateTest : public StatusWindowTest,
                      public ::testing::WithParamInterface<ShowCase> {};

TEST_P(ShowStateTest, OnlyNormalAndShowShowTheWindow) {
  Create({WriteParameters(1)}, GetParam().show_state);
  EXPECT_EQ(window_->isVisible(), GetParam().shown);
  EXPECT_EQ(window_->ShownAtStart(), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    StartShowStates, ShowStateTest,
    ::testing::Values(ShowCase{"Hide", 0, false}, ShowCase{"Normal", 1, true},
                      ShowCase{"Minimized", 2, false},
                      ShowCase{"Maximized", 3, false},
                      ShowCase{"Show", 5, true},
                      ShowCase{"MinimizedNoActivate", 7, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(StatusWindowTest, LanguageOneShowsTheIcelandicTexts) {
  Create({WriteParameters(1), "1"});
  EXPECT_EQ(CurrentRunState().LanguageIndex, 1);
  EXPECT_EQ(Cp1252(window_->windowTitle()), "S\xE6ki p\xF3st...");
  EXPECT_EQ(Cp1252(window_->Button3->toolTip()),
            "Hoppa yfir p\xF3st sem veri\xF0 er a\xF0 s\xE6kja...");
  EXPECT_EQ(Cp1252(window_->Label4->text()), "Undirb\xFD p\xF3stflutning...");
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(StatusWindowTest, LanguageTwoShowsTheBoxAndKeepsEnglish) {
  Create({WriteParameters(1), "2"});
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0],
            "Value must not be higher than\rnumber of available languages.");
  EXPECT_EQ(window_->Label4->text(), "Preparing retrieval...");
}

TEST_F(StatusWindowTest, LanguageNotANumberOrPastAByteIsEnglish) {
  Create({WriteParameters(1), "x"});
  EXPECT_EQ(window_->Button2->text(), "&Minimize");
  window_.reset();
  Create({WriteParameters(1), "257"});  // taken as a byte: language 1
  EXPECT_EQ(window_->Button2->text(), "&Minnka");
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(StatusWindowTest, StartShowsTheAccountAndTheCloseTimerEndsTheRun) {
  WriteAccountAndUser(4, 9, "anna@example.org");
  const std::string parameters = WriteParameters(4);
  Create({parameters});
  ASSERT_TRUE(PumpUntilClosed());
  EXPECT_EQ(window_->Label2->text(), "anna@example.org");
  EXPECT_FALSE(fs::exists(parameters));
  EXPECT_EQ(CurrentRunState().CurrentAccountId, 4);
  EXPECT_EQ(CurrentRunState().CurrentUserId, 9);
  EXPECT_EQ(CurrentAccount().Id, 4);
  EXPECT_EQ(CurrentUser().UserName, "Anna");
  EXPECT_EQ(CurrentRunState().Pop3.Host, "127.0.0.1");
  EXPECT_TRUE(fs::is_directory(Path("In")));
  EXPECT_FALSE(window_->isVisible());
  EXPECT_FALSE(window_->Animate1->Active());
  EXPECT_EQ(window_->MessageText->y(), window_->height() + 50);
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(StatusWindowTest, ParameterFileIsDeletedAlsoWhenTheAccountCannotBeRead) {
  WriteFile(kAccountsFileName, "");  // not even a header record
  const std::string parameters = WriteParameters(4);
  Create({parameters});
  ASSERT_TRUE(PumpUntilClosed());
  EXPECT_FALSE(fs::exists(parameters));
  ASSERT_EQ(boxes_.size(), 1u);  // the window is visible
  EXPECT_EQ(icons_[0], BoxIcon::kError);
  EXPECT_EQ(boxes_[0].rfind("Error: ", 0), 0u);
  EXPECT_NE(boxes_[0].find("\r\rOccurred during retrieve mail for: "),
            std::string::npos);
}

TEST_F(StatusWindowTest, HiddenWindowShowsNoErrorBox) {
  WriteFile(kAccountsFileName, "");
  Create({WriteParameters(4)}, 7);
  ASSERT_TRUE(PumpUntilClosed());
  EXPECT_TRUE(boxes_.empty());
  EXPECT_FALSE(fs::exists(Path("run.ini")));
}

TEST_F(StatusWindowTest, MissingParameterFileRunsWithTheDefaults) {
  Create({Path("absent.ini")});
  ASSERT_TRUE(PumpUntilClosed());
  EXPECT_EQ(CurrentRunState().CurrentAccountId, -1);
  EXPECT_EQ(CurrentAccount().Id, -1);
  EXPECT_EQ(window_->Label2->text(), "");
  // The lookups created the data files with their header records.
  EXPECT_EQ(fs::file_size(Path(kAccountsFileName)), 2584u);
  EXPECT_EQ(fs::file_size(Path(kUsersFileName)), 1188u);
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(StatusWindowTest, ReceiveIniMovesTheWindowWhenItCloses) {
  WriteFile("Receive.ini", "[Show]\nLeft=10\nTop=20\n");
  Create({WriteParameters(1)});
  ASSERT_TRUE(PumpUntilClosed());
  EXPECT_EQ(window_->pos(), QPoint(10, 20));
  const IniFile placement(Path("qvnstat.ini"));
  EXPECT_EQ(placement.ReadString("RetrieveProgress", "NormPos", ""),
            "10,20,447,117");
  EXPECT_EQ(placement.ReadInteger("RetrieveProgress", "ShowCmd", -9), 1);
  EXPECT_EQ(placement.ReadInteger("RetrieveProgress", "Flags", -9), 0);
  EXPECT_TRUE(placement.ValueExists("RetrieveProgress", "MinMaxPos"));
  EXPECT_TRUE(placement.ValueExists("RetrieveProgress", "Visible"));
}

TEST_F(StatusWindowTest, WithoutReceiveIniTheWindowStaysWhereItIs) {
  Create({WriteParameters(1)});
  window_->move(30, 40);
  ASSERT_TRUE(PumpUntilClosed());
  EXPECT_EQ(window_->pos(), QPoint(30, 40));
}

TEST_F(StatusWindowTest, StoredPlacementIsRestoredAtCreation) {
  WriteFile("qvnstat.ini",
            "[RetrieveProgress]\nFlags=0\nShowCmd=1\n"
            "MinMaxPos=-1,-1,-1,-1\nNormPos=50,60,550,160\nVisible=1\n");
  Create({WriteParameters(1)});
  EXPECT_EQ(window_->pos(), QPoint(50, 60));
  EXPECT_EQ(window_->size(), QSize(500, 100));
}

// A run whose server refuses the connection gets to its normal end with
// the status of an unreachable server; the window then still closes.
TEST_F(StatusWindowTest, RefusedConnectionEndsTheRunWithItsOwnStatus) {
  WriteAccountAndUser(1, 1, "anna@example.org");
  WriteFile("run.ini", "[Login]\nHost=127.0.0.1\nUser=anna\nPassword=pw\nPort=" +
                           std::to_string(refusing_.Port()) +
                           "\n[UserInfo]\nAccount=1\n");
  test::RecordingTalker talker;
  InstallTalker(&talker);
  Create({Path("run.ini")});
  const bool closed = PumpUntilClosed();
  InstallTalker(nullptr);
  ASSERT_TRUE(closed);
  EXPECT_EQ(window_->ExitCode(), kExitConnectionFailed);
  // A normal end ends the application itself.
  EXPECT_EQ(terminations_, (std::vector<int>{kExitConnectionFailed}));
  EXPECT_EQ(talker.commands,
            (std::vector<std::string>{"RecvStart:anna@example.org",
                                      "RecvStop:anna@example.org",
                                      "RecvStop:anna@example.org"}));
  EXPECT_TRUE(boxes_.empty());
}

// A Cancel pressed before the start timer fired stops the run before it
// announces or connects anything.
TEST_F(StatusWindowTest, CancelBeforeTheStartStopsTheRun) {
  WriteAccountAndUser(1, 1, "anna@example.org");
  test::RecordingTalker talker;
  InstallTalker(&talker);
  Create({WriteParameters(1)});
  window_->Button1->click();
  const bool closed = PumpUntilClosed();
  InstallTalker(nullptr);
  ASSERT_TRUE(closed);
  EXPECT_TRUE(talker.commands.empty());
  EXPECT_EQ(window_->ExitCode(), kExitCancelled);
  // An early end leaves the ending to the close timer.
  EXPECT_TRUE(terminations_.empty());
  EXPECT_FALSE(fs::exists(Path("run.ini")));
}

TEST_F(StatusWindowTest, HiddenRunWritesItsErrorToStandardError) {
  WriteFile(kAccountsFileName, "");  // the account cannot be read
  ::testing::internal::CaptureStderr();
  Create({WriteParameters(4)}, 7);
  const bool closed = PumpUntilClosed();
  const std::string errors = ::testing::internal::GetCapturedStderr();
  ASSERT_TRUE(closed);
  EXPECT_TRUE(boxes_.empty());
  EXPECT_NE(errors.find("quillon: Error: "), std::string::npos) << errors;
  EXPECT_EQ(window_->ExitCode(), kExitRunFailed);
}

// Both buttons close a client's connection; its cancel notification sets
// CancelRequested, so Skip! differs from Cancel only in SkipRequested.
TEST_F(StatusWindowTest, CancelAndSkipCancelTheClientsAndSetTheRunFlags) {
  Create({WriteParameters(1)});
  int pop3_cancels = 0;
  int imap_cancels = 0;
  window_->eMail.OnCancel = [&](TagSocket&) {
    ++pop3_cancels;
    window_->eMailCancel();
  };
  window_->IC.OnCancel = [&](TagSocket&) {
    ++imap_cancels;
    window_->ICCancel();
  };
  RunState& run = CurrentRunState();

  window_->Button3->click();
  EXPECT_TRUE(run.SkipRequested);
  EXPECT_TRUE(run.CancelRequested);
  EXPECT_EQ(window_->StatusText(), "Canceled...");
  window_->Button1->click();
  EXPECT_FALSE(run.SkipRequested);
  EXPECT_TRUE(run.CancelRequested);
  EXPECT_EQ(pop3_cancels, 2);
  EXPECT_EQ(imap_cancels, 0);

  // An IMAP4 account: Cancel reaches the IMAP4 client, Skip! still only the
  // POP3 one.
  CurrentAccount().IsImap = true;
  window_->Button1->click();
  EXPECT_EQ(imap_cancels, 1);
  window_->Button3->click();
  EXPECT_EQ(imap_cancels, 1);
  EXPECT_EQ(pop3_cancels, 3);
}

TEST_F(StatusWindowTest, ParametersReachThePop3Client) {
  WriteAccountAndUser(1, 1, "anna@example.org");
  WriteFile("run.ini",
            "[Login]\nHost=127.0.0.1\nUser=anna\nPassword=pw\n"
            "TimeOut=30\nPort=" + std::to_string(refusing_.Port()) +
                "\n[UserInfo]\nAccount=1\n");
  Create({Path("run.ini")});
  ASSERT_TRUE(PumpUntilClosed());
  // The parameter file's port is the port connected to, whatever the
  // service database says of "pop3".
  EXPECT_EQ(window_->eMail.Server(),
            "127.0.0.1:" + std::to_string(refusing_.Port()));
  EXPECT_EQ(window_->eMail.UserName(), "anna");
  EXPECT_EQ(window_->eMail.Password(), "pw");
  EXPECT_EQ(window_->eMail.DefaultPort(), refusing_.Port());
}

TEST_F(StatusWindowTest, MinimizeMinimizesTheWindow) {
  Create({WriteParameters(1)});
  window_->Button2->click();
  EXPECT_TRUE(window_->isMinimized());
}

TEST_F(StatusWindowTest, ClientEventsWriteTheStatusLine) {
  Create({WriteParameters(1)});
  window_->eMailOpen();
  EXPECT_EQ(window_->StatusText(), "Connected...");
  window_->eMailRetrieving(0);
  EXPECT_EQ(window_->StatusText(), "Retrieving message 1...");
  window_->eMailDeleting(3);
  EXPECT_EQ(window_->StatusText(), "Deleting message 3...");
  window_->eMailClosing();
  EXPECT_EQ(window_->StatusText(), "Disconnecting...");
  window_->eMailClosed();
  EXPECT_EQ(window_->StatusText(), "Disconnected...");
  window_->eMailError("[10061] Connection refused");
  window_->ICResponse("* OK IMAP ready");
  EXPECT_EQ(window_->StatusText(), "* OK IMAP ready");
  // A FETCH response shows its first line, not the message it carries.
  window_->ICResponse("* 1 FETCH (RFC822 {20}\r\nSubject: a\r\n\r\nbody)");
  EXPECT_EQ(window_->StatusText(), "* 1 FETCH (RFC822 {20}");
  EXPECT_FALSE(CurrentRunState().CancelRequested);
  window_->ICCancel();
  EXPECT_EQ(window_->StatusText(), "Canceled...");
  EXPECT_TRUE(CurrentRunState().CancelRequested);
  CurrentRunState().CancelRequested = false;
  window_->eMailCancel();
  EXPECT_TRUE(CurrentRunState().CancelRequested);

  window_->MultiLang1.SetActiveLanguage(1);
  window_->eMailOpen();
  EXPECT_EQ(window_->StatusText(), "Tengdur...");
  window_->eMailRetrieving(1);
  EXPECT_EQ(window_->StatusText(), "S\xE6ki p\xF3st 2...");
}

TEST_F(StatusWindowTest, RestoreRequestShowsAWindowStartedHidden) {
  WriteAccountAndUser(1, 1, "anna@example.org");
  Create({WriteParameters(1)}, 7);
  // The restore hook is in place once the start timer ran.
  const auto deadline = MessagePump::Clock::now() + 30s;
  while (window_->Starta.Enabled() && MessagePump::Clock::now() < deadline) {
    CurrentPump().WaitForEvents(deadline);
  }
  ASSERT_FALSE(window_->isVisible());
  TReceiveStatus::RequestRestore();
  CurrentPump().DispatchPending();
  EXPECT_TRUE(window_->isVisible());
  EXPECT_TRUE(window_->ShownAtStart());
  // From then on the hook lets every event pass.
  QEvent again(TReceiveStatus::RestoreRequestEvent());
  EXPECT_FALSE(window_->RestoreHook(&again));
}

// Renders the window as a person sees it during a run, into
// build/screenshots/status-en.png and status-is.png (scripts/screenshot
// copies them into docs/screenshots).
TEST_F(StatusWindowTest, RendersInBothLanguages) {
  const fs::path folder = fs::path(QUILLON_BINARY_DIR) / "screenshots";
  fs::create_directories(folder);
  for (const auto& [language, file] :
       {std::pair{"0", "status-en.png"}, std::pair{"1", "status-is.png"}}) {
    Create({WriteParameters(1), language});
    window_->Label2->setText("anna@example.org");
    window_->Label4->setText("3 / 12");
    window_->Progress->setValue(40);
    const auto& words = window_->MultiLang1;
    const std::string transfer = words.GetWord("idTransferred") + " 4096 " +
                                 words.GetWord("idOf") + " 10240";
    window_->Label6->setText(QString::fromStdString(Cp1252ToUtf8(transfer)));
    window_->eMailRetrieving(2);
    window_->Animate1->SetActive(true);
    const QImage image = window_->grab().toImage();
    ASSERT_EQ(image.size(), window_->size());
    ASSERT_TRUE(image.save(QString::fromStdString((folder / file).string())));
    window_.reset();
  }
}

}  // namespace
}  // namespace quillon
