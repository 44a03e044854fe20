// Printing through a real (private) CUPS scheduler with cups-pdf printers:
// the printer chosen by name or as the default, what reached the PDF, and a
// cancelled printout that sends no job.
//
// libcups reads CUPS_SERVER once, at its first use, and Qt's print support
// uses it from its first printer query on. So this program starts cupsd and
// sets CUPS_SERVER (and a HOME of its own, so that no user lpoptions choose
// the default) before it creates the Qt application, in a test environment,
// and keeps the scheduler for all its tests.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QTextEdit>
#include <QToolButton>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/print_preview_form.h"
#include "app/qt_message_printer.h"
#include "platform/message_pump.h"
#include "tests/app/qt_test_application.h"
#include "tests/support/cups_server.h"
#include "tests/support/pdf_text.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;
using test::CupsServer;

constexpr char kOffice[] = "QuillonOffice";
constexpr char kDefault[] = "QuillonDefault";
constexpr char kClosed[] = "QuillonClosed";  // refuses every job
constexpr auto kJobLimit = std::chrono::seconds(60);

class CupsEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    skip_reason_ = CupsServer::UnavailableReason();
    if (skip_reason_.empty() && !test::PdfToolsAvailable()) {
      skip_reason_ = "pdftotext is not installed (poppler-utils)";
    }
    if (skip_reason_.empty()) StartScheduler();
    application_ = std::make_unique<test::QtTestApplication>();
  }
  void TearDown() override {
    application_.reset();
    cups_.reset();
    if (!home_.empty()) fs::remove_all(home_);
  }

  const std::string& SkipReason() const { return skip_reason_; }
  CupsServer& Cups() { return *cups_; }

 private:
  void StartScheduler() {
    try {
      cups_ = std::make_unique<CupsServer>();
      cups_->AddPdfPrinter(kOffice);
      cups_->AddPdfPrinter(kDefault);
      cups_->SetDefaultPrinter(kDefault);
      cups_->AddPdfPrinter(kClosed);
      cups_->RejectJobs(kClosed);
    } catch (const std::exception& error) {
      skip_reason_ = std::string("cupsd cannot run here: ") + error.what();
      cups_.reset();
      return;
    }
    char pattern[] = "/tmp/quillon-cups-home-XXXXXX";
    if (::mkdtemp(pattern) != nullptr) home_ = pattern;
    ::setenv("HOME", home_.c_str(), 1);
    ::setenv("CUPS_SERVER", cups_->SocketPath().c_str(), 1);
    ::unsetenv("PRINTER");
    ::unsetenv("LPDEST");
  }

  std::string skip_reason_;
  std::string home_;
  std::unique_ptr<CupsServer> cups_;
  std::unique_ptr<test::QtTestApplication> application_;
};

CupsEnvironment* const environment = static_cast<CupsEnvironment*>(
    ::testing::AddGlobalTestEnvironment(new CupsEnvironment));

class PrintCupsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!environment->SkipReason().empty()) {
      GTEST_SKIP() << environment->SkipReason();
    }
    message_text_ = std::make_unique<QTextEdit>();
    form_ = std::make_unique<TPreViewForm>();
    printer_ = std::make_unique<QtMessagePrinter>(*message_text_, *form_);
    since_ = fs::file_time_type::clock::now();
  }
  void TearDown() override {
    for (const fs::path& file : printed_) fs::remove(file);
  }

  static PrintRequest Request(const std::string& subject) {
    PrintRequest request;
    request.subject = subject;
    request.from = "<ann@example.org>Ann Smith";
    request.to = "Bob Jones <bob@example.org>";
    request.date = "09/12/2026 03:00:00";
    request.body = {"Dear Bob,", "", "\tthe figures are in.", "Ann"};
    return request;
  }

  // Jobs of `queue` among the scheduler's jobs.
  static int JobsOn(const std::string& queue) {
    int count = 0;
    for (const std::string& job : environment->Cups().Jobs()) {
      if (job.rfind(queue + "-", 0) == 0) ++count;
    }
    return count;
  }

  static std::string TextOf(const fs::path& pdf) {
    std::string text;
    for (const std::string& page : test::PdfPages(pdf.string())) text += page;
    return text;
  }

  // The text of the PDF printed for the message with this subject (each
  // test prints its own subject).
  std::string PrintedText(const std::string& subject) {
    const fs::path pdf = environment->Cups().WaitForPdf(
        since_, kJobLimit, [&subject](const fs::path& file) {
          return TextOf(file).find("Subject: " + subject) != std::string::npos;
        });
    if (pdf.empty()) return {};
    printed_.push_back(pdf);
    return TextOf(pdf);
  }

  std::unique_ptr<QTextEdit> message_text_;
  std::unique_ptr<TPreViewForm> form_;
  std::unique_ptr<QtMessagePrinter> printer_;
  fs::file_time_type since_;
  std::vector<fs::path> printed_;
};

TEST_F(PrintCupsTest, StartsOnTheDefaultPrinter) {
  EXPECT_EQ(printer_->SelectedPrinter(), kDefault);
}

TEST_F(PrintCupsTest, PrinterNamedByTheRuleGetsTheJobThenTheSelectionReturns) {
  const int office_jobs = JobsOn(kOffice);
  const int default_jobs = JobsOn(kDefault);
  PrintRequest request = Request("Printed by name");
  request.use_default_printer = false;
  request.printer_name = kOffice;
  printer_->PrintReceivedMessage(request);

  EXPECT_EQ(JobsOn(kOffice), office_jobs + 1);
  EXPECT_EQ(JobsOn(kDefault), default_jobs);
  EXPECT_EQ(printer_->SelectedPrinter(), kDefault);
  const std::string text = PrintedText("Printed by name");
  ASSERT_FALSE(text.empty()) << "no PDF in " << CupsServer::PdfDirectory()
                             << "\n" << environment->Cups().LogText();
  EXPECT_NE(text.find("To: Bob Jones <bob@example.org>"), std::string::npos) << text;
  EXPECT_NE(text.find("From: <ann@example.org>Ann Smith"), std::string::npos);
  EXPECT_NE(text.find("Subject: Printed by name"), std::string::npos);
  EXPECT_NE(text.find("Dear Bob,"), std::string::npos);
  EXPECT_NE(text.find("the figures are in."), std::string::npos);
  EXPECT_NE(text.find("< 1 >"), std::string::npos);
  EXPECT_NE(text.find("QVN Pro 4.0"), std::string::npos);
}

TEST_F(PrintCupsTest, NameIsComparedExactly) {
  const int office_jobs = JobsOn(kOffice);
  const int default_jobs = JobsOn(kDefault);
  PrintRequest request = Request("Name in other case");
  request.use_default_printer = false;
  request.printer_name = "quillonoffice";
  printer_->PrintReceivedMessage(request);
  // Not found: the selected printer prints.
  EXPECT_EQ(JobsOn(kOffice), office_jobs);
  EXPECT_EQ(JobsOn(kDefault), default_jobs + 1);
  EXPECT_FALSE(PrintedText("Name in other case").empty());
}

TEST_F(PrintCupsTest, DefaultPrinterChosenAndKeptAfterwards) {
  printer_->SelectPrinter(kOffice);
  const int office_jobs = JobsOn(kOffice);
  const int default_jobs = JobsOn(kDefault);
  printer_->PrintReceivedMessage(Request("Printed on the default"));
  EXPECT_EQ(JobsOn(kDefault), default_jobs + 1);
  EXPECT_EQ(JobsOn(kOffice), office_jobs);
  EXPECT_EQ(printer_->SelectedPrinter(), kDefault);
  EXPECT_FALSE(PrintedText("Printed on the default").empty());
}

TEST_F(PrintCupsTest, CancelledPrintoutSendsNoJob) {
  const std::vector<std::string> jobs_before = environment->Cups().Jobs();
  CurrentPump().Post([this] { form_->ToolbarButton971->click(); });
  printer_->PrintReceivedMessage(Request("Cancelled"));
  EXPECT_EQ(printer_->LastOutcome(), PrintOutcome::kCancelled);
  EXPECT_EQ(environment->Cups().Jobs(), jobs_before);
  ASSERT_TRUE(environment->Cups().WaitUntilIdle(kJobLimit));
  for (const fs::path& file : CupsServer::PdfsSince(since_)) {
    EXPECT_EQ(TextOf(file).find("Subject: Cancelled"), std::string::npos);
  }
}

TEST_F(PrintCupsTest, RefusedDocumentIsAPrinterError) {
  PrintRequest request = Request("Refused");
  request.use_default_printer = false;
  request.printer_name = kClosed;
  try {
    printer_->PrintReceivedMessage(request);
    ADD_FAILURE() << "a refused document counted as printed";
  } catch (const EPrinterError& error) {
    EXPECT_NE(std::string(error.what()).find(kClosed), std::string::npos)
        << error.what();
  }
  EXPECT_EQ(JobsOn(kClosed), 0);
  EXPECT_EQ(printer_->SelectedPrinter(), kDefault);
  EXPECT_FALSE(form_->isVisible());
}

}  // namespace
}  // namespace quillon
