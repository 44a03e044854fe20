#include "app/receive_status.h"

#include <unistd.h>

#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTextEdit>
#include <QVBoxLayout>
#include <cstdio>
#include <filesystem>

#include "app/animate.h"
#include "app/message_box.h"
#include "app/receive_status_words.h"
#include "rules/run_state.h"
#include "platform/code_pages.h"
#include "platform/data_dir.h"
#include "platform/ini_file.h"
#include "platform/message_pump.h"
#include "store/account_record.h"
#include "store/rule_record.h"
#include "store/user_record.h"

namespace quillon {

namespace {

constexpr int kLeft = 200;
constexpr int kTop = 108;
constexpr int kWidth = 437;
constexpr int kHeight = 97;
constexpr int kHiddenTextTop = 2000;

QString ToQt(const std::string& text) {
  return QString::fromStdString(Cp1252ToUtf8(text));
}

// Passes every application event to the window's restore hook.
class RestoreFilter : public QObject {
 public:
  explicit RestoreFilter(TReceiveStatus& window) : window_(window) {}
  bool eventFilter(QObject*, QEvent* event) override {
    return window_.RestoreHook(event);
  }

 private:
  TReceiveStatus& window_;
};

template <typename Widget>
Widget* Named(Widget* widget, const char* name) {
  widget->setObjectName(name);
  return widget;
}

}  // namespace

TReceiveStatus::TReceiveStatus(std::vector<std::string> arguments,
                               QWidget* parent)
    : QWidget(parent),
      FormPlacement1(this, DataDirectory() + kPlacementFileName,
                     kPlacementSection),
      arguments_(std::move(arguments)) {
  setObjectName("ReceiveStatus");
  CreateComponents();
  ConnectMailComponents();
  LoadWordTable();
  // Left and Top place the window's frame, as the placement files do.
  move(kLeft, kTop);
  resize(kWidth, kHeight);
  FormPlacement1.RestorePlacement();
  TerminateApplication = [](int exit_code) { QCoreApplication::exit(exit_code); };
  Starta.OnTimer = [this] { StartaTimer(); };
  Halta.OnTimer = [this] { HaltaTimer(); };
  FormCreate();
}

TReceiveStatus::~TReceiveStatus() {
  if (restore_filter_ != nullptr && qApp != nullptr) {
    qApp->removeEventFilter(restore_filter_.get());
  }
}

void TReceiveStatus::CreateComponents() {
  Panel1 = Named(new QFrame(this), "Panel1");
  Label1 = Named(new QLabel(Panel1), "Label1");
  Label2 = Named(new QLabel(Panel1), "Label2");
  Label3 = Named(new QLabel(Panel1), "Label3");
  Label4 = Named(new QLabel(Panel1), "Label4");
  Label5 = Named(new QLabel(Panel1), "Label5");
  Progress = Named(new QProgressBar(Panel1), "Progress");
  Progress->setRange(0, 100);
  Progress->setValue(0);
  Progress->setTextVisible(false);
  Progress->setFixedSize(110, 14);
  Label6 = Named(new QLabel(Panel1), "Label6");
  Animate1 = Named(new TAnimate(Panel1), "Animate1");
  Animate1->setFixedSize(32, 32);

  auto* grid = new QGridLayout(Panel1);
  grid->setContentsMargins(8, 4, 4, 2);
  grid->setHorizontalSpacing(6);
  grid->setVerticalSpacing(2);
  grid->addWidget(Label1, 0, 0);
  grid->addWidget(Label2, 0, 1, 1, 2);
  grid->addWidget(Label3, 1, 0);
  grid->addWidget(Label4, 1, 1, 1, 2);
  grid->addWidget(Label5, 2, 0);
  grid->addWidget(Progress, 2, 1);
  // The transfer text takes the row's whole width, below the animation:
  // "Transferred 100584 of 201164 bytes..." needs it.
  grid->addWidget(Label6, 2, 2, 1, 2);
  grid->addWidget(Animate1, 0, 3, 2, 1, Qt::AlignRight | Qt::AlignVCenter);
  // The transfer text after the bar gets the room that is left.
  grid->setColumnStretch(2, 1);

  StatusBar1 = Named(new QStatusBar(this), "StatusBar1");
  StatusBar1->setSizeGripEnabled(false);
  status_text_ = Named(new QLabel(StatusBar1), "StatusText");
  StatusBar1->addWidget(status_text_, 1);
  Panel2 = CreateStatusPanel();
  StatusBar1->addPermanentWidget(Panel2);

  MessageText = Named(new QTextEdit(this), "MessageText");
  MessageText->setVisible(false);

  // Long texts are cut at the window's edge; they never widen the window.
  for (QLabel* label : {Label2, Label4, Label6, status_text_}) {
    label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  }

  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  column->addWidget(Panel1, 1);
  column->addWidget(StatusBar1);
}

QFrame* TReceiveStatus::CreateStatusPanel() {
  auto* panel = Named(new QFrame(StatusBar1), "Panel2");
  Button2 = Named(new QPushButton(panel), "Button2");
  Button3 = Named(new QPushButton(panel), "Button3");
  Button1 = Named(new QPushButton(panel), "Button1");
  Button1->setDefault(true);
  auto* row = new QHBoxLayout(panel);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(2);
  for (QPushButton* button : {Button2, Button3, Button1}) {
    button->setFocusPolicy(Qt::TabFocus);
    row->addWidget(button);
  }
  connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
  connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
  connect(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });
  return panel;
}

void TReceiveStatus::LoadWordTable() {
  MultiLang1.BeginLoading();
  MultiLang1.SetLanguages(kReceiveStatusLanguages);
  MultiLang1.Words() = ReceiveStatusWords();
  MultiLang1.Loaded();
}

void TReceiveStatus::FormCreate() {
  // The program's files are named relative to its own directory.
  (void)::chdir(DataDirectory().c_str());
  // Exceptions that reach the message loop are dropped (the Qt pump does
  // that for the pump's handlers).
  connect(qApp, &QGuiApplication::applicationStateChanged, this,
          [this](Qt::ApplicationState state) {
            if (state == Qt::ApplicationActive) BringStatusToFront();
          });
  Animate1->SetFileName(DataDirectory() + kAnimationFileName);
  RunState& run = CurrentRunState();
  std::vector<const char*> argument_texts;
  for (const auto& argument : arguments_)
    argument_texts.push_back(argument.c_str());
  run.LanguageIndex = LanguageIndexFromArguments(
      static_cast<int>(argument_texts.size()), argument_texts.data());
  // The index is taken as a byte: 256 is language 0.
  MultiLang1.SetActiveLanguage(static_cast<std::uint8_t>(run.LanguageIndex));
  Label4->setText(ToQt(MultiLang1.GetWord("idPreparing")));
  // From here on a Cancel or Skip! counts, also before the run has started.
  run.CancelRequested = false;
  run.SkipRequested = false;
  MessageText->setVisible(false);
  MessageText->move(MessageText->x(), kHiddenTextTop);
  Starta.SetEnabled(true);
}

void TReceiveStatus::ShowAtStart(int show_state) {
  shown_at_start_ =
      show_state == kShowStateNormal || show_state == kShowStateShow;
  if (shown_at_start_) show();
}

void TReceiveStatus::StartaTimer() {
  Starta.SetEnabled(false);
  if (!restore_hook_installed_) {
    restore_filter_ = std::make_unique<RestoreFilter>(*this);
    qApp->installEventFilter(restore_filter_.get());
    restore_hook_installed_ = true;
  }
  std::error_code ignored;
  std::filesystem::create_directory(DataDirectory() + kInFolderName, ignored);
  // The run flags were cleared when the window was made: a Cancel or Skip!
  // pressed since then must still stop the run.
  std::string failure;
  try {
    ReadParametersAndAccount();
  } catch (const std::exception& error) {
    failure = error.what();
  } catch (...) {
    failure = "unknown error";
  }
  DeleteParameterFile();
  Animate1->SetActive(true);
  if (failure.empty()) {
    RunTheRetrieval();
  } else {
    // A run that cannot start because its parameters, account or user
    // could not be read ends as a failed retrieval does.
    exit_code_ = kExitRunFailed;
    ReportRunError(failure);
  }
  Animate1->SetActive(false);
  Halta.SetEnabled(true);
}

void TReceiveStatus::RunTheRetrieval() {
  TReceivedMessageStep step(MessageSource, ReplyMessage, ReplyMail, *this,
                            printer_);
  driver_.ProcessReceivedMessage = [&step] { step.ProcessReceivedMessage(); };
  driver_.Terminate = [this](int exit_code) { Terminate(exit_code); };
  try {
    driver_.RunRetrieval();
    exit_code_ = driver_.ExitCode();
  } catch (const std::exception& error) {
    exit_code_ = kExitRunFailed;
    ReportRunError(error.what());
  } catch (...) {
    exit_code_ = kExitRunFailed;
    ReportRunError("unknown error");
  }
  driver_.ProcessReceivedMessage = nullptr;
}

void TReceiveStatus::Terminate(int exit_code) {
  exit_code_ = exit_code;
  // The window does not close on this way out: a headless run says here
  // what it showed.
  if (!DisplayAvailable()) PrintWindowTexts();
  // The program ends when control is back in the event loop, before the
  // close timer could close the window.
  if (TerminateApplication) TerminateApplication(exit_code);
}

std::string TReceiveStatus::ParameterFileName() const {
  return arguments_.empty() ? std::string() : arguments_[0];
}

void TReceiveStatus::ReadParametersAndAccount() {
  const IniFile ini(ParameterFileName());
  RunState& run = CurrentRunState();
  ReadRunParameters(
      ini, run, [this] { LookUpAccount(); },
      [&run] { BuildRuleList(run.CurrentUserId); });
  eMail.SetServer(Pop3ServerAddress(run.Pop3));
  eMail.SetUserName(run.Pop3.User);
  eMail.SetPassword(run.Pop3.Password);
  eMail.SetTimeOut(run.Pop3.TimeOut);
  eMail.SetDefaultPort(run.Pop3.Port);
  eMail.SetSecurity(ConnectionSecurity(run.Pop3.Security, eMail.Server(), run.Pop3.Port));
  eMail.SetCAFile(run.Pop3.CAFile);
  ReplyMail.SetCAFile(run.Pop3.CAFile);
  MessageText->move(MessageText->x(), height() + 50);
}

void TReceiveStatus::LookUpAccount() {
  RunState& run = CurrentRunState();
  ReadAccount(run.CurrentAccountId);
  run.CurrentUserId = CurrentAccount().UserId;
  ReadUser(run.CurrentUserId);
  Label2->setText(ToQt(CurrentAccount().EMailAddress));
}

void TReceiveStatus::DeleteParameterFile() {
  const std::string path = ParameterFileName();
  if (!path.empty()) std::remove(path.c_str());
}

void TReceiveStatus::ReportRunError(const std::string& message) {
  if (!isVisible()) {
    // Nobody sees a hidden window: the error goes where its caller looks.
    std::fprintf(stderr, "quillon: Error: %s (during retrieve mail for: %s)\n",
                 Cp1252ToUtf8(message).c_str(),
                 Cp1252ToUtf8(TextOf(*Label2)).c_str());
    std::fflush(stderr);
    return;
  }
  ShowMessageBox("Error: " + message + "\r\r" +
                     "Occurred during retrieve mail for: " + TextOf(*Label2),
                 BoxIcon::kError, BoxButtons::kOk);
}

void TReceiveStatus::HaltaTimer() {
  // Once is enough: the window closes and the program ends.
  Halta.SetEnabled(false);
  close();
}

void TReceiveStatus::closeEvent(QCloseEvent* event) {
  // Nobody can see the window on a headless run: say what it showed.
  if (!DisplayAvailable()) PrintWindowTexts();
  FormClose();
  FormPlacement1.SavePlacement();
  event->accept();
  emit Closed();
  // Closing the main window ends the program, hidden or not.
  QCoreApplication::exit(exit_code_);
}

void TReceiveStatus::PrintWindowTexts() const {
  auto line = [](const QString& text) {
    std::printf("quillon: %s\n", text.trimmed().toUtf8().constData());
  };
  line(windowTitle());
  line(Label1->text() + " " + Label2->text());
  line(Label3->text() + " " + Label4->text());
  if (!status_text_->text().isEmpty()) line(status_text_->text());
  std::fflush(stdout);
}

void TReceiveStatus::FormClose() {
  const IniFile ini(DataDirectory() + kReceiveIniFileName);
  const int left = ini.ReadInteger("Show", "Left", x());
  const int top = ini.ReadInteger("Show", "Top", y());
  move(left, top);
}

void TReceiveStatus::Button1Click() {
  RunState& run = CurrentRunState();
  run.SkipRequested = false;
  run.CancelRequested = true;
  try {
    if (CurrentAccount().IsImap) {
      IC.Cancel();
    } else {
      eMail.Cancel();
    }
  } catch (...) {
    // The run sees the cancel through its flag; a failing close changes
    // nothing about that.
  }
  ProcessMessages();
}

void TReceiveStatus::Button2Click() {
  // The application is this one window.
  showMinimized();
}

void TReceiveStatus::Button3Click() {
  RunState& run = CurrentRunState();
  run.SkipRequested = true;
  run.CancelRequested = false;
  // Skip! stops the current download by closing the POP3 connection, also
  // in an IMAP4 run, where it only reaches the idle POP3 client.
  try {
    eMail.Cancel();
  } catch (...) {
  }
  ProcessMessages();
}

void TReceiveStatus::ConnectMailComponents() {
  eMail.OnOpen = [this](TagSocket&) { eMailOpen(); };
  eMail.OnClosing = [this](TagSocket&) { eMailClosing(); };
  eMail.OnClosed = [this](TagSocket&) { eMailClosed(); };
  eMail.OnCancel = [this](TagSocket&) { eMailCancel(); };
  eMail.OnError = [this](TagSocket&, std::string& msg) { eMailError(msg); };
  eMail.OnRetrieving = [this](TagSocket&, int num) { eMailRetrieving(num); };
  eMail.OnDeleting = [this](TagSocket&, int num) { eMailDeleting(num); };
  // Servers that offer it get the next messages' commands ahead of time.
  eMail.SetPipeliningAllowed(true);
  IC.SetAllMailboxes(&MailboxList1);
  IC.SetOpenAsReadOnly(false);
  IC.SetNonSyncLiterals(false);
  IC.OnResponse = [this](TagSocket&, const std::string& text) { ICResponse(text); };
  IC.OnClosed = [this](TagSocket&) { ICClosed(); };
  IC.OnCancel = [this](TagSocket&) { ICCancel(); };
  // An IMAP account's connection failures are told like a POP3 account's:
  // otherwise a hidden run that cannot log in ends without saying why.
  IC.OnError = [this](TagSocket&, std::string& msg) { eMailError(msg); };
  ReplyMail.SetMailMessage(&ReplyMessage);
  // A reply's envelope goes as one group when the server allows it.
  ReplyMail.SetPipeliningAllowed(true);
}

void TReceiveStatus::BringStatusToFront() {
  raise();
  ProcessMessages();
  ProcessMessages();
}

QEvent::Type TReceiveStatus::RestoreRequestEvent() {
  static const auto type =
      static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

void TReceiveStatus::RequestRestore() {
  QCoreApplication::postEvent(qApp, new QEvent(RestoreRequestEvent()));
}

bool TReceiveStatus::RestoreHook(QEvent* event) {
  if (shown_at_start_ || event->type() != RestoreRequestEvent()) return false;
  showNormal();
  shown_at_start_ = true;
  raise();
  activateWindow();
  return true;
}

std::string TReceiveStatus::AccountAddress() const { return TextOf(*Label2); }

void TReceiveStatus::SetMessageCounterText(const std::string& text) {
  Label4->setText(ToQt(text));
}

void TReceiveStatus::SetTransferText(const std::string& text) {
  Label6->setText(ToQt(text));
}

int TReceiveStatus::ProgressValue() const { return Progress->value(); }

void TReceiveStatus::SetProgressValue(int value) { Progress->setValue(value); }

void TReceiveStatus::RepaintProgress() { Progress->repaint(); }

std::string TReceiveStatus::GetWord(const std::string& id) const {
  return MultiLang1.GetWord(id);
}

void TReceiveStatus::eMailProgress(int Perc, int Transferred) {
  driver_.eMailProgress(Perc, Transferred);
}

void TReceiveStatus::eMailUserMessageSave(int Num, TMemoryStream& Contents) {
  driver_.eMailUserMessageSave(Num, Contents);
}

void TReceiveStatus::ICRetrieving(int Num) { driver_.ICRetrieving(Num); }

void TReceiveStatus::ICProgress(int Perc, int Transferred) {
  driver_.ICProgress(Perc, Transferred);
}

void TReceiveStatus::ICRetrieved(int Num) { driver_.ICRetrieved(Num); }

void TReceiveStatus::SetStatusText(const std::string& text) {
  status_text_->setText(ToQt(text));
}

std::string TReceiveStatus::StatusText() const { return TextOf(*status_text_); }

std::string TReceiveStatus::TextOf(const QLabel& label) {
  return Utf8ToCp1252(label.text().toStdString());
}

void TReceiveStatus::eMailOpen() {
  SetStatusText(MultiLang1.GetWord("idConnected") + "...");
}

void TReceiveStatus::eMailClosing() {
  SetStatusText(MultiLang1.GetWord("idDisconnecting") + "...");
}

void TReceiveStatus::eMailClosed() { SetStatusText("Disconnected..."); }

void TReceiveStatus::eMailCancel() {
  CurrentRunState().CancelRequested = true;
  SetStatusText("Canceled...");
}

void TReceiveStatus::eMailError(const std::string& Msg) {
  SetStatusText("Error " + Msg + "...");
  if (!isVisible()) {
    std::fprintf(stderr, "quillon: Error %s\n", Cp1252ToUtf8(Msg).c_str());
    std::fflush(stderr);
  }
}

void TReceiveStatus::eMailRetrieving(int Num) {
  SetStatusText(MultiLang1.GetWord("idRetrieving") + " " +
                std::to_string(Num + 1) + "...");
}

void TReceiveStatus::eMailDeleting(int Num) {
  SetStatusText(MultiLang1.GetWord("idDeleting") + " " + std::to_string(Num) +
                "...");
}

void TReceiveStatus::ICResponse(const std::string& ResponseText) {
  // A FETCH response carries the whole message after its first line; the
  // status line shows the line the server answered with.
  SetStatusText(ResponseText.substr(0, ResponseText.find_first_of("\r\n")));
}

void TReceiveStatus::ICClosed() { SetStatusText("Disconnected..."); }

void TReceiveStatus::ICCancel() {
  CurrentRunState().CancelRequested = true;
  SetStatusText("Canceled...");
}

}  // namespace quillon
