// Printing a message with Qt into a PDF file, read back with pdftotext: the
// header block, the body, the footers of two pages, tabs, per-character
// formats, and a cancelled printout. Also the print window and the body as
// the rich-text control lays it out.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QFont>
#include <QFontMetrics>
#include <QLabel>
#include <QPrinter>
#include <QProgressBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>
#include <QToolButton>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/cups_print_job.h"
#include "app/print_preview_form.h"
#include "app/qt_message_printer.h"
#include "app/rich_text_print_body.h"
#include "platform/date_text.h"
#include "platform/message_pump.h"
#include "tests/app/qt_test_application.h"
#include "tests/support/pdf_text.h"
#include "tests/support/tool_run.h"

namespace quillon {
namespace {

using test::FindWord;
using test::LineWith;
using test::PdfPages;
using test::PdfWord;
using test::PdfWords;

// The application lives from before the first test to after the last and
// is gone before the program's exit handlers run: Qt's print support leaves
// objects that must not outlive it into static destruction.
class PrintTestApplication : public ::testing::Environment {
 public:
  void SetUp() override {
    application_ = std::make_unique<test::QtTestApplication>();
  }
  void TearDown() override { application_.reset(); }

 private:
  std::unique_ptr<test::QtTestApplication> application_;
};

[[maybe_unused]] ::testing::Environment* const print_test_application =
    ::testing::AddGlobalTestEnvironment(new PrintTestApplication);

class PrintQtTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::PdfToolsAvailable()) GTEST_SKIP() << "pdftotext is not installed";
    char pattern[] = "/tmp/quillon-print-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    directory_ = pattern;
    pdf_ = directory_ + "/message.pdf";
    printer_.PrintToPdf(pdf_);
  }
  void TearDown() override {
    // QUILLON_KEEP_PRINT keeps the printed files for a look.
    if (!directory_.empty() && !::getenv("QUILLON_KEEP_PRINT")) {
      std::filesystem::remove_all(directory_);
    }
  }

  PrintRequest Request(const std::vector<std::string>& body) const {
    PrintRequest request;
    request.subject = "Quarterly figures";
    request.from = "<ann@example.org>Ann Smith";
    request.to = "Bob Jones <bob@example.org>";
    request.date = "09/12/2026 03:00:00";
    request.body.assign(body.begin(), body.end());
    return request;
  }

  std::string directory_;
  std::string pdf_;
  QTextEdit message_text_;
  TPreViewForm form_;
  QtMessagePrinter printer_{message_text_, form_};
};

TEST_F(PrintQtTest, HeaderBlockAndBodyArePrinted) {
  printer_.PrintReceivedMessage(Request({"Hello Bob,", "", "the figures are in."}));
  EXPECT_EQ(printer_.LastOutcome(), PrintOutcome::kPrinted);
  const std::vector<std::string> pages = PdfPages(pdf_);
  ASSERT_EQ(pages.size(), 1u);
  const std::string& page = pages[0];
  const std::vector<std::pair<std::string, std::string>> block = {
      {"To:", "Bob Jones <bob@example.org>"},
      {"From:", "<ann@example.org>Ann Smith"},
      {"Date:", "09/12/2026 03:00:00"},
      {"Subject:", "Quarterly figures"}};
  std::size_t previous = 0;
  for (const auto& [label, value] : block) {
    const std::string line = LineWith(page, value);
    ASSERT_FALSE(line.empty()) << value;
    EXPECT_LT(line.find(label), line.find(value)) << line;
    const std::size_t at = page.find(line);
    EXPECT_GT(at, previous) << label << " out of order";
    previous = at;
  }
  // The page header comes first: the time of printing.
  EXPECT_EQ(page.rfind(ShortDateText(NowDateTime()), 0), 0u) << page;
  EXPECT_GT(page.find("Hello Bob,"), previous);
  EXPECT_GT(page.find("the figures are in."), page.find("Hello Bob,"));
  EXPECT_EQ(page.find("Attached:"), std::string::npos);
  EXPECT_FALSE(LineWith(page, "< 1 >").empty());
  EXPECT_FALSE(LineWith(page, "QVN Pro 4.0").empty());
}

// Pixels of the first page rendered at a low resolution (pdftoppm, PPM).
std::vector<unsigned char> RenderedPixels(const std::string& pdf) {
  const std::string image = pdf + "-page";
  test::RunShell("pdftoppm -r 60 -f 1 -l 1 -singlefile '" + pdf + "' '" +
                 image + "'");
  std::ifstream in(image + ".ppm", std::ios::binary);
  std::string magic;
  int width = 0, height = 0, depth = 0;
  in >> magic >> width >> height >> depth;
  in.get();
  if (magic != "P6" || width <= 0 || height <= 0) return {};
  std::vector<unsigned char> pixels(static_cast<std::size_t>(width) * height * 3);
  in.read(reinterpret_cast<char*>(pixels.data()),
          static_cast<std::streamsize>(pixels.size()));
  return pixels;
}

TEST_F(PrintQtTest, FrameTextsPrintBlueRulesBlack) {
  printer_.PrintReceivedMessage(Request({"Body text in black"}));
  const std::vector<unsigned char> pixels = RenderedPixels(pdf_);
  ASSERT_FALSE(pixels.empty());
  int blue = 0;
  int black = 0;
  for (std::size_t i = 0; i + 2 < pixels.size(); i += 3) {
    const int r = pixels[i], g = pixels[i + 1], b = pixels[i + 2];
    if (b > 200 && r < 100 && g < 100) ++blue;
    if (r < 80 && g < 80 && b < 80) ++black;
  }
  EXPECT_GT(blue, 20);
  EXPECT_GT(black, 20);
}

TEST_F(PrintQtTest, AttachmentsPrintTheirFileNames) {
  PrintRequest request = Request({"see attached"});
  request.attachments = "C:\\mail\\report.doc;/home/ann/figures.xls";
  printer_.PrintReceivedMessage(request);
  const std::vector<std::string> pages = PdfPages(pdf_);
  ASSERT_EQ(pages.size(), 1u);
  const std::string line = LineWith(pages[0], "Attached:");
  EXPECT_NE(line.find("report.doc"), std::string::npos) << line;
  EXPECT_EQ(pages[0].find("mail"), std::string::npos);
  EXPECT_FALSE(LineWith(pages[0], "figures.xls").empty());
  EXPECT_EQ(pages[0].find("/home/ann"), std::string::npos);
}

TEST_F(PrintQtTest, LongBodyTakesTwoPagesEachWithItsFooter) {
  std::vector<std::string> body;
  constexpr int kLines = 90;
  for (int i = 1; i <= kLines; ++i) body.push_back("Body line " + std::to_string(i));
  printer_.PrintReceivedMessage(Request(body));
  const std::vector<std::string> pages = PdfPages(pdf_);
  ASSERT_EQ(pages.size(), 2u);
  for (int page = 0; page < 2; ++page) {
    const std::string number = "< " + std::to_string(page + 1) + " >";
    EXPECT_FALSE(LineWith(pages[page], number).empty()) << number;
    EXPECT_FALSE(LineWith(pages[page], "QVN Pro 4.0").empty()) << page;
  }
  EXPECT_EQ(pages[0].find("< 2 >"), std::string::npos);
  // Every line once, in order, the first on page 1 and the last on page 2.
  const std::string all = pages[0] + pages[1];
  std::size_t previous = 0;
  for (int i = 1; i <= kLines; ++i) {
    const std::string text = "Body line " + std::to_string(i) + "\n";
    const std::size_t at = all.find("\n" + text);
    ASSERT_NE(at, std::string::npos) << text;
    EXPECT_GE(at, previous) << text;
    previous = at;
  }
  EXPECT_NE(pages[0].find("Body line 1\n"), std::string::npos);
  EXPECT_NE(pages[1].find("Body line 90\n"), std::string::npos);
}

TEST_F(PrintQtTest, MarginsAreInUnitsOfThePrintersResolution) {
  printer_.PrintReceivedMessage(Request({"Leftmost"}));
  QPrinter same_kind(QPrinter::HighResolution);
  same_kind.setOutputFormat(QPrinter::PdfFormat);
  const double printable_left = same_kind.pageLayout().paintRectPoints().left();
  const double left_margin_points =
      kPrintLeftMargin * 72.0 / kPrinterResolution;
  EXPECT_NEAR(FindWord(PdfWords(pdf_), "Leftmost").x_min,
              printable_left + left_margin_points, 0.75);
}

TEST_F(PrintQtTest, TabPrintsAsFiveBlanks) {
  printer_.PrintReceivedMessage(Request({"X\tTabbed", "X     Blanked"}));
  const std::vector<PdfWord> words = PdfWords(pdf_);
  const PdfWord& tabbed = FindWord(words, "Tabbed");
  const PdfWord& blanked = FindWord(words, "Blanked");
  EXPECT_NEAR(tabbed.x_min, blanked.x_min, 0.5);
  EXPECT_GT(blanked.y_min, tabbed.y_min);
}

TEST_F(PrintQtTest, CancelledPrintoutLeavesNoFile) {
  form_.ToolbarButton971->click();  // a Cancel from before does not count
  bool shown_while_printing = false;
  CurrentPump().Post([&] {
    shown_while_printing = form_.isVisible();
    form_.ToolbarButton971->click();
  });
  std::vector<std::string> body(20, "line");
  printer_.PrintReceivedMessage(Request(body));
  EXPECT_EQ(printer_.LastOutcome(), PrintOutcome::kCancelled);
  EXPECT_TRUE(shown_while_printing);
  EXPECT_FALSE(std::filesystem::exists(pdf_));
  EXPECT_FALSE(form_.ToolbarButton971->isEnabled());
  EXPECT_FALSE(form_.isVisible());

  // The next printout can be cancelled again and prints when it is not.
  printer_.PrintReceivedMessage(Request(body));
  EXPECT_EQ(printer_.LastOutcome(), PrintOutcome::kPrinted);
  EXPECT_TRUE(form_.ToolbarButton971->isEnabled());
  EXPECT_TRUE(std::filesystem::exists(pdf_));
}

TEST_F(PrintQtTest, EachCharacterKeepsItsFont) {
  QPrinter printer(QPrinter::HighResolution);
  printer.setResolution(kPrinterResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(QString::fromStdString(pdf_));
  message_text_.resize(kMessageTextWidth, 200);
  message_text_.setHtml(
      "<p style=\"font-family:'Liberation Sans'\">plain <b>heavy</b> "
      "<span style=\"font-family:'Liberation Mono'\">fixed</span></p>");
  ASSERT_EQ(form_.PrintMessage(printer, message_text_, "s", "f", "t", "d", ""),
            PrintOutcome::kPrinted);
  const std::string fonts = test::RunShell("pdffonts '" + pdf_ + "'").output;
  EXPECT_NE(fonts.find("LiberationSans-Bold "), std::string::npos) << fonts;
  EXPECT_NE(fonts.find("LiberationSans "), std::string::npos) << fonts;
  EXPECT_NE(fonts.find("LiberationMono "), std::string::npos) << fonts;
  const std::vector<PdfWord> words = PdfWords(pdf_);
  EXPECT_LT(FindWord(words, "plain").x_max, FindWord(words, "heavy").x_min);
  EXPECT_LT(FindWord(words, "heavy").x_max, FindWord(words, "fixed").x_min);
}

TEST_F(PrintQtTest, UnwritablePdfIsAPrinterError) {
  const std::string pdf = directory_ + "/no such directory/message.pdf";
  printer_.PrintToPdf(pdf);
  try {
    printer_.PrintReceivedMessage(Request({"line"}));
    ADD_FAILURE() << "printed into " << pdf;
  } catch (const EPrinterError& error) {
    EXPECT_NE(std::string(error.what()).find(pdf), std::string::npos)
        << error.what();
  }
  EXPECT_FALSE(form_.isVisible());
  EXPECT_FALSE(std::filesystem::exists(pdf));
}

TEST_F(PrintQtTest, PrintWindowParts) {
  EXPECT_EQ(form_.windowTitle(), "Print service...");
  EXPECT_TRUE(form_.windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_EQ((form_.windowFlags() & Qt::WindowType_Mask), Qt::Tool);
  EXPECT_EQ(form_.ToolbarButton971->text(), "&Cancel");
  EXPECT_EQ(form_.LMDMeter1->toolTip(),
            "Print or preview in progress...Press [Cancel] to abort printing...");
  EXPECT_EQ(form_.LMDMeter1->format(), "%p%");
  EXPECT_EQ(form_.Label1->text(), "Processing...");
  EXPECT_TRUE(form_.Label1->font().bold());
  EXPECT_EQ(form_.Label1->font().pixelSize(), 19);
  EXPECT_EQ(form_.Label1->font().family(), "Times New Roman");
  EXPECT_FALSE(form_.isVisible());
}

TEST_F(PrintQtTest, MeterRunsOverTheBodyLines) {
  form_.LMDMeter1->setValue(-5);
  std::vector<std::string> body(7, "line");
  printer_.PrintReceivedMessage(Request(body));
  EXPECT_EQ(form_.LMDMeter1->minimum(), 0);
  EXPECT_EQ(form_.LMDMeter1->maximum(), 6);
  EXPECT_EQ(form_.LMDMeter1->value(), 6);
}

// Handing a finished printout to the spooler, with a stand-in `lp` first on
// the PATH that records its arguments and answers as told.
class SubmitPrintJobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quillon-lp-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    directory_ = pattern;
    const char* path = ::getenv("PATH");
    saved_path_ = path != nullptr ? path : "";
    ::setenv("PATH", (directory_ + ":" + saved_path_).c_str(), 1);
  }
  void TearDown() override {
    ::setenv("PATH", saved_path_.c_str(), 1);
    std::filesystem::remove_all(directory_);
  }

  void FakeLp(int exit_code, const std::string& answer) {
    const std::string script = directory_ + "/lp";
    std::ofstream(script) << "#!/bin/sh\n"
                          << "for a in \"$@\"; do echo \"$a\"; done > '"
                          << directory_ << "/arguments'\n"
                          << "echo '" << answer << "' >&2\n"
                          << "exit " << exit_code << "\n";
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
  }

  std::vector<std::string> Arguments() const {
    std::ifstream in(directory_ + "/arguments");
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  std::string directory_;
  std::string saved_path_;
};

TEST_F(SubmitPrintJobTest, AcceptedJobNamesPrinterTitleAndMedia) {
  FakeLp(0, "request id is Office-7 (1 file(s))");
  EXPECT_NO_THROW(SubmitPrintJob("Office", "/tmp/job", "QVN's Message printing", "A4"));
  EXPECT_EQ(Arguments(),
            (std::vector<std::string>{"-d", "Office", "-t", "QVN's Message printing",
                                      "-o", "media=A4", "--", "/tmp/job"}));
}

TEST_F(SubmitPrintJobTest, RefusedJobIsAPrinterErrorWithTheAnswer) {
  FakeLp(1, "lp: The printer or class does not exist.");
  try {
    SubmitPrintJob("Gone", "/tmp/job", "title", "Letter");
    ADD_FAILURE() << "a refused job counted as submitted";
  } catch (const EPrinterError& error) {
    const std::string text = error.what();
    EXPECT_NE(text.find("Gone"), std::string::npos) << text;
    EXPECT_NE(text.find("The printer or class does not exist."), std::string::npos)
        << text;
  }
}

TEST_F(SubmitPrintJobTest, MissingSpoolerClientIsAPrinterError) {
  ::setenv("PATH", directory_.c_str(), 1);  // no lp there
  EXPECT_THROW(SubmitPrintJob("Office", "/tmp/job", "title", "A4"), EPrinterError);
}

// The body as the control lays it out at the printer's 590 pixels.
class RichTextBodyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    control_.resize(kMessageTextWidth, 200);
  }
  QTextEdit control_;
};

TEST_F(RichTextBodyTest, LinesAreTheControlsWrappedLines) {
  const QString word = QStringLiteral("wrapping ");
  control_.setPlainText(word.repeated(60) + "\n\nlast");
  const RichTextPrintBody body(control_);
  const QFontMetrics metrics(control_.document()->defaultFont());
  // The long paragraph needs more than one line at this width.
  const int line_width = kMessageTextWidth;
  const int expected_min = metrics.horizontalAdvance(word.repeated(60)) / line_width;
  ASSERT_GE(body.LineCount(), expected_min + 3);
  std::string joined;
  const int paragraph_lines = body.LineCount() - 2;
  for (int i = 0; i < paragraph_lines; ++i) {
    const std::string line = body.LineText(i);
    EXPECT_LE(metrics.horizontalAdvance(QString::fromStdString(line).trimmed()),
              line_width)
        << i;
    joined += line;
  }
  EXPECT_EQ(joined, word.repeated(60).toStdString());
  EXPECT_EQ(body.LineText(paragraph_lines), "");
  EXPECT_EQ(body.LineText(paragraph_lines + 1), "last");
  // The control itself was not touched.
  EXPECT_EQ(control_.textCursor().position(), 0);
}

TEST_F(RichTextBodyTest, PlainTextTakesTheControlsFont) {
  control_.setFont(QFont(QStringLiteral("Liberation Mono"), 11));
  control_.setPlainText(QStringLiteral("ab"));
  const RichTextPrintBody body(control_);
  const PrintFont font = body.ControlFont();
  EXPECT_EQ(font.name, "Liberation Mono");
  EXPECT_DOUBLE_EQ(font.size, 11);
  EXPECT_FALSE(font.bold);
  EXPECT_EQ(font.colour, 0u);  // the palette's text colour
  EXPECT_EQ(body.CharacterFont(0, 1), font);
}

TEST_F(RichTextBodyTest, CharacterFormatsAndParagraphs) {
  control_.setHtml(
      "<p>a<b>b</b><span style=\"color:#ff0000; font-size:20pt\">c</span>"
      "<i>d</i></p>"
      "<p align=\"right\">right</p><p align=\"center\">centre</p>"
      "<p style=\"margin-left:48px\">indented</p>");
  const RichTextPrintBody body(control_);
  ASSERT_EQ(body.LineCount(), 4);
  EXPECT_EQ(body.LineText(0), "abcd");
  const PrintFont plain = body.CharacterFont(0, 0);
  EXPECT_FALSE(plain.bold);
  EXPECT_EQ(plain, body.ControlFont());
  EXPECT_TRUE(body.CharacterFont(0, 1).bold);
  const PrintFont red = body.CharacterFont(0, 2);
  EXPECT_EQ(red.colour, 0xFF0000u);
  EXPECT_DOUBLE_EQ(red.size, 20);
  EXPECT_TRUE(body.CharacterFont(0, 3).italic);
  EXPECT_EQ(body.Alignment(0), ParagraphAlignment::kLeft);
  EXPECT_EQ(body.Alignment(1), ParagraphAlignment::kRight);
  EXPECT_EQ(body.Alignment(2), ParagraphAlignment::kCentre);
  EXPECT_DOUBLE_EQ(body.LeftIndent(3), 36);  // 48 px at 96 an inch
  EXPECT_DOUBLE_EQ(body.LeftIndent(0), 0);
}

}  // namespace
}  // namespace quillon
