// Layout of a printed message, drawn on a recording canvas: where the page
// header, the header block, the rule, the body and the footers go, page
// breaks, cancelling and printer failures.
#include "rules/message_printing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "platform/message_pump.h"
#include "rules/message_printer.h"

namespace quillon {
namespace {

constexpr int L = kPrintLeftMargin;
constexpr int R = kPrintRightMargin;
constexpr int T = kPrintTopGap;
constexpr int B = kPrintBottomGap;

// Metrics a test can compute by hand: every character is `size` units wide
// (bold adds one), a text is twice the size high.
int CharWidth(const PrintFont& font) {
  return static_cast<int>(std::lround(font.size)) + (font.bold ? 1 : 0);
}
int Width(const PrintFont& font, const std::string& text) {
  return CharWidth(font) * static_cast<int>(text.size());
}
int Height(const PrintFont& font) {
  return static_cast<int>(std::lround(2 * font.size));
}

struct Drawn {
  enum Kind { kText, kLine, kNewPage, kBegin, kEnd, kAbort } kind;
  int x = 0;
  int y = 0;
  int x2 = 0;
  int y2 = 0;
  std::string text;
  PrintFont font;
};

Drawn Event(Drawn::Kind kind, int x = 0, int y = 0, int x2 = 0, int y2 = 0) {
  Drawn d;
  d.kind = kind;
  d.x = x;
  d.y = y;
  d.x2 = x2;
  d.y2 = y2;
  return d;
}

class RecordingCanvas : public PrintCanvas {
 public:
  int width = 2000;
  int height = 3000;
  int resolution = 144;
  bool fail_on_new_page = false;
  std::string title;
  std::vector<Drawn> drawn;

  void SetTitle(const std::string& text) override { title = text; }
  int PageWidth() const override { return width; }
  int PageHeight() const override { return height; }
  int Resolution() const override { return resolution; }
  void BeginDocument() override { drawn.push_back(Event(Drawn::kBegin)); }
  void NewPage() override {
    if (fail_on_new_page) throw EPrinterError("paper jam");
    drawn.push_back(Event(Drawn::kNewPage));
  }
  void EndDocument() override { drawn.push_back(Event(Drawn::kEnd)); }
  void AbortDocument() override { drawn.push_back(Event(Drawn::kAbort)); }
  void SetFont(const PrintFont& f) override { font_ = f; }
  void TextOut(int x, int y, const std::string& text) override {
    Drawn d = Event(Drawn::kText, x, y);
    d.text = text;
    d.font = font_;
    drawn.push_back(d);
  }
  int TextWidth(const std::string& text) override { return Width(font_, text); }
  int TextHeight(const std::string&) override { return Height(font_); }
  void Line(int x1, int y1, int x2, int y2) override {
    drawn.push_back(Event(Drawn::kLine, x1, y1, x2, y2));
  }

  std::vector<Drawn> Texts() const { return Of(Drawn::kText); }
  std::vector<Drawn> Lines() const { return Of(Drawn::kLine); }
  int Count(Drawn::Kind kind) const { return static_cast<int>(Of(kind).size()); }
  const Drawn& TextNamed(const std::string& text) const {
    for (const Drawn& d : drawn) {
      if (d.kind == Drawn::kText && d.text == text) return d;
    }
    throw std::runtime_error("not drawn: " + text);
  }

 private:
  std::vector<Drawn> Of(Drawn::Kind kind) const {
    std::vector<Drawn> found;
    std::copy_if(drawn.begin(), drawn.end(), std::back_inserter(found),
                 [kind](const Drawn& d) { return d.kind == kind; });
    return found;
  }
  PrintFont font_;
};

struct ScriptedLine {
  ScriptedLine(std::string line_text,
               ParagraphAlignment line_alignment = ParagraphAlignment::kLeft,
               double left = 0, double first_line = 0,
               std::vector<PrintFont> character_fonts = {})
      : text(std::move(line_text)),
        alignment(line_alignment),
        left_indent(left),
        first_line_indent(first_line),
        fonts(std::move(character_fonts)) {}

  std::string text;
  ParagraphAlignment alignment;
  double left_indent;
  double first_line_indent;
  std::vector<PrintFont> fonts;  // per character; the control's when empty
};

PrintFont BodyFont(double size = 10) {
  PrintFont font;
  font.name = "Courier";
  font.size = size;
  return font;
}

class ScriptedBody : public PrintBody {
 public:
  std::vector<ScriptedLine> lines;

  void AddLines(const std::vector<std::string>& texts) {
    for (const std::string& text : texts) lines.emplace_back(text);
  }
  int LineCount() const override { return static_cast<int>(lines.size()); }
  std::string LineText(int line) const override { return At(line).text; }
  PrintFont CharacterFont(int line, int column) const override {
    const ScriptedLine& l = At(line);
    if (l.fonts.empty()) return BodyFont();
    return l.fonts.at(static_cast<std::size_t>(column));
  }
  PrintFont ControlFont() const override { return BodyFont(); }
  double LeftIndent(int line) const override { return At(line).left_indent; }
  double FirstLineIndent(int line) const override {
    return At(line).first_line_indent;
  }
  ParagraphAlignment Alignment(int line) const override {
    return At(line).alignment;
  }

 private:
  const ScriptedLine& At(int line) const {
    return lines.at(static_cast<std::size_t>(line));
  }
};

class RecordingProgress : public PrintProgress {
 public:
  int maximum = -2;
  std::vector<int> positions;
  int cancel_at = -1;  // position at which the user presses Cancel
  bool cancelled = false;
  int started = 0;
  int ended = 0;

  void PrintStarted(int max) override {
    ++started;
    maximum = max;
    cancelled = false;
  }
  void SetPosition(int position) override {
    positions.push_back(position);
    if (position == cancel_at) cancelled = true;
  }
  bool CancelRequested() const override { return cancelled; }
  void PrintEnded() override { ++ended; }
};

PrintFont Frame(double size, bool bold, bool italic) {
  PrintFont font;
  font.name = kFrameFontName;
  font.size = size;
  font.bold = bold;
  font.italic = italic;
  font.colour = kFrameColour;
  return font;
}

constexpr char kPrintedAt[] = "09/12/2026 04:50:00";

class MessagePrintingTest : public ::testing::Test {
 protected:
  PrintOutcome Print() {
    return PrintMessage(texts_, kPrintedAt, canvas_, body_, progress_);
  }
  // h: the page header's height.
  int HeaderHeight() const { return Height(Frame(8, true, true)); }
  // C: the label column.
  int LabelColumn() const {
    return Width(Frame(14, true, true), "___Subject: ") + 5;
  }
  int HeaderLineHeight() const { return Height(Frame(14, true, true)); }
  int BreakLimit() const { return canvas_.height - T - B - 10; }

  PrintedMessageTexts texts_{"Quarterly figures", "<ann@example.org>Ann",
                             "Bob <bob@example.org>", "09/12/2026 03:00:00",
                             ""};
  RecordingCanvas canvas_;
  ScriptedBody body_;
  RecordingProgress progress_;
};

TEST_F(MessagePrintingTest, PageHeaderCarriesThePrintingTimeAndARule) {
  body_.AddLines({"x"});
  ASSERT_EQ(Print(), PrintOutcome::kPrinted);
  EXPECT_EQ(canvas_.title, "QVN's Message printing");
  const Drawn& stamp = canvas_.TextNamed(kPrintedAt);
  EXPECT_EQ(stamp.x, L);
  EXPECT_EQ(stamp.y, 2);
  EXPECT_EQ(stamp.font, Frame(8, true, true));
  const Drawn rule = canvas_.Lines().front();
  EXPECT_EQ(rule.x, L);
  EXPECT_EQ(rule.y, HeaderHeight());
  EXPECT_EQ(rule.x2, canvas_.width - 2 * L);
  EXPECT_EQ(rule.y2, HeaderHeight());
}

TEST_F(MessagePrintingTest, HeaderBlockInOrderWithLabelsRightAligned) {
  body_.AddLines({"x"});
  Print();
  const std::vector<Drawn> texts = canvas_.Texts();
  // After the page header: label, value for To, From, Date, Subject.
  const std::vector<std::string> expected = {
      "To: ",   texts_.to,      "From: ",    texts_.from,
      "Date: ", texts_.date,    "Subject: ", texts_.subject};
  ASSERT_GE(texts.size(), expected.size() + 1);
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(texts[i + 1].text, expected[i]) << i;
  }
  const int value_x = L + LabelColumn();
  for (std::size_t row = 0; row < 4; ++row) {
    const Drawn& label = texts[1 + 2 * row];
    const Drawn& value = texts[2 + 2 * row];
    const int y = HeaderHeight() + 2 + static_cast<int>(row) * HeaderLineHeight();
    EXPECT_EQ(label.y, y) << label.text;
    EXPECT_EQ(value.y, y) << label.text;
    EXPECT_EQ(label.font, Frame(13, true, true));
    EXPECT_EQ(value.font, Frame(13, false, true));
    EXPECT_EQ(label.x + Width(label.font, label.text) + 5, value_x) << label.text;
    EXPECT_EQ(value.x, value_x);
  }
}

TEST_F(MessagePrintingTest, RuleUnderTheHeaderBlockThenBodyAfterTheTopGap) {
  body_.AddLines({"fg", "hi"});
  Print();
  const int block_end = HeaderHeight() + 2 + 4 * HeaderLineHeight();
  const Drawn rule = canvas_.Lines().at(1);
  EXPECT_EQ(rule.x, L);
  EXPECT_EQ(rule.y, block_end);
  EXPECT_EQ(rule.x2, canvas_.width - 2 * L);
  EXPECT_EQ(rule.y2, block_end);
  const Drawn& f = canvas_.TextNamed("f");
  EXPECT_EQ(f.x, L);
  EXPECT_EQ(f.y, block_end + T);
  const Drawn& h = canvas_.TextNamed("h");
  EXPECT_EQ(h.x, L);
  EXPECT_EQ(h.y, block_end + T + Height(BodyFont()));
  EXPECT_EQ(canvas_.TextNamed("g").x, L + CharWidth(BodyFont()));
}

TEST_F(MessagePrintingTest, EachCharacterPrintsInItsOwnFormat) {
  PrintFont bold = BodyFont(12);
  bold.bold = true;
  PrintFont red = BodyFont(10);
  red.colour = 0xFF0000;
  body_.lines.push_back({"ab", ParagraphAlignment::kLeft, 0, 0, {bold, red}});
  Print();
  const Drawn& a = canvas_.TextNamed("a");
  const Drawn& b = canvas_.TextNamed("b");
  EXPECT_EQ(a.font, bold);
  EXPECT_EQ(b.font, red);
  EXPECT_EQ(b.x, a.x + CharWidth(bold));
}

TEST_F(MessagePrintingTest, TabPrintsAsFiveBlanks) {
  body_.AddLines({"a\tb"});
  Print();
  const Drawn& blanks = canvas_.TextNamed("     ");
  EXPECT_EQ(blanks.x, L + CharWidth(BodyFont()));
  EXPECT_EQ(canvas_.TextNamed("b").x, blanks.x + 5 * CharWidth(BodyFont()));
  for (const Drawn& d : canvas_.Texts()) EXPECT_EQ(d.text.find('\t'), std::string::npos);
}

TEST_F(MessagePrintingTest, OneEmptyBodyLineTakesABlankLineHeight) {
  body_.AddLines({""});
  ASSERT_EQ(Print(), PrintOutcome::kPrinted);
  EXPECT_EQ(progress_.maximum, 0);
  // Page header, four labels and values, footer number and mark: no body.
  EXPECT_EQ(canvas_.Texts().size(), 1u + 8u + 2u);
  EXPECT_EQ(canvas_.Count(Drawn::kNewPage), 0);
  EXPECT_EQ(canvas_.drawn.back().kind, Drawn::kEnd);

  // An empty line between two lines moves the next one down by a blank's
  // height in the current font.
  RecordingCanvas canvas;
  ScriptedBody body;
  body.AddLines({"a", "", "b"});
  PrintMessage(texts_, kPrintedAt, canvas, body, progress_);
  EXPECT_EQ(canvas.TextNamed("b").y - canvas.TextNamed("a").y,
            2 * Height(BodyFont()));
}

TEST_F(MessagePrintingTest, FootersNumberTwoPagesAndCarryTheMark) {
  const int block_end = HeaderHeight() + 2 + 4 * HeaderLineHeight();
  const int line_height = Height(BodyFont());
  // Enough lines to cross the limit once.
  const int per_page = (BreakLimit() - (block_end + T)) / line_height + 1;
  for (int i = 0; i < per_page + 3; ++i) body_.AddLines({"line"});
  ASSERT_EQ(Print(), PrintOutcome::kPrinted);
  EXPECT_EQ(canvas_.Count(Drawn::kNewPage), 1);

  const int f = canvas_.height - B - 10;
  const PrintFont footer_font = Frame(8, true, true);
  const int centre = (canvas_.width + L - R) / 2;
  for (const std::string number : {"< 1 >", "< 2 >"}) {
    const Drawn& d = canvas_.TextNamed(number);
    EXPECT_EQ(d.y, f + 2);
    EXPECT_EQ(d.x, centre - Width(footer_font, number) / 2);
    EXPECT_EQ(d.font, footer_font);
  }
  int marks = 0;
  int footer_rules = 0;
  for (const Drawn& d : canvas_.drawn) {
    if (d.kind == Drawn::kText && d.text == "QVN Pro 4.0") {
      ++marks;
      EXPECT_EQ(d.x, canvas_.width - Width(footer_font, d.text) - R);
      EXPECT_EQ(d.y, f + 2);
    }
    if (d.kind == Drawn::kLine && d.y == f) {
      ++footer_rules;
      EXPECT_EQ(d.x, L);
      EXPECT_EQ(d.x2, canvas_.width - 2 * L);
    }
  }
  EXPECT_EQ(marks, 2);
  EXPECT_EQ(footer_rules, 2);
  EXPECT_EQ(canvas_.Count(Drawn::kText), 1 + 8 + 2 + 1 + 2 + 4 * (per_page + 3));
}

TEST_F(MessagePrintingTest, PageBreaksBeforeALineAtTheLimitOnly) {
  const int block_end = HeaderHeight() + 2 + 4 * HeaderLineHeight();
  const int first_y = block_end + T;
  const int line_height = Height(BodyFont());
  // The third line starts one unit above the limit, the fourth below it.
  canvas_.height = first_y + 2 * line_height + 1 + T + B + 10;
  body_.AddLines({"a", "b", "c", "d"});
  Print();
  const Drawn& c = canvas_.TextNamed("c");
  EXPECT_EQ(c.y, BreakLimit() - 1);
  EXPECT_GT(c.y + line_height, BreakLimit());  // printed whole all the same

  // Footer of page 1, then the new page, its header, then "d".
  std::vector<Drawn::Kind> order;
  std::vector<std::string> texts;
  for (const Drawn& d : canvas_.drawn) {
    if (d.kind == Drawn::kNewPage || (d.kind == Drawn::kText &&
                                      (d.text == "c" || d.text == "d" ||
                                       d.text == "< 1 >" || d.text == kPrintedAt))) {
      texts.push_back(d.kind == Drawn::kNewPage ? "<new page>" : d.text);
    }
  }
  EXPECT_EQ(texts, (std::vector<std::string>{kPrintedAt, "c", "< 1 >",
                                             "<new page>", kPrintedAt, "d"}));
  EXPECT_EQ(canvas_.TextNamed("d").y, HeaderHeight() + T + 2);
  // The body font is back after the page header.
  EXPECT_EQ(canvas_.TextNamed("d").font, BodyFont());
}

TEST_F(MessagePrintingTest, ExactlyAtTheLimitBreaksThePage) {
  const int first_y = HeaderHeight() + 2 + 4 * HeaderLineHeight() + T;
  canvas_.height = first_y + Height(BodyFont()) + T + B + 10;
  body_.AddLines({"a", "b"});
  Print();
  EXPECT_EQ(canvas_.Count(Drawn::kNewPage), 1);
  EXPECT_EQ(canvas_.TextNamed("b").y, HeaderHeight() + T + 2);
}

TEST_F(MessagePrintingTest, ProgressFollowsTheLines) {
  body_.AddLines({"a", "b", "c"});
  Print();
  EXPECT_EQ(progress_.started, 1);
  EXPECT_EQ(progress_.maximum, 2);
  EXPECT_EQ(progress_.positions, (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(progress_.ended, 1);
}

TEST_F(MessagePrintingTest, CancelAbortsTheDocumentWithoutEndingIt) {
  body_.AddLines({"a", "b", "c", "d"});
  progress_.cancel_at = 2;
  EXPECT_EQ(Print(), PrintOutcome::kCancelled);
  EXPECT_EQ(canvas_.Count(Drawn::kAbort), 1);
  EXPECT_EQ(canvas_.Count(Drawn::kEnd), 0);
  EXPECT_THROW(canvas_.TextNamed("c"), std::runtime_error);
  EXPECT_THROW(canvas_.TextNamed("< 1 >"), std::runtime_error);
  EXPECT_EQ(progress_.ended, 1);
}

// The cancel button works through the pump: the printout dispatches pending
// messages while it prints.
class PumpCancelProgress : public RecordingProgress {
 public:
  void SetPosition(int position) override {
    RecordingProgress::SetPosition(position);
    if (position == 1) CurrentPump().Post([this] { cancelled = true; });
  }
};

TEST_F(MessagePrintingTest, CancelRequestArrivesThroughDispatchedMessages) {
  body_.AddLines({"a", "b", "c", "d", "e"});
  PumpCancelProgress progress;
  EXPECT_EQ(PrintMessage(texts_, kPrintedAt, canvas_, body_, progress),
            PrintOutcome::kCancelled);
  // Posted while line 1 was printed, seen at the dispatch before line 2.
  EXPECT_EQ(progress.positions, (std::vector<int>{0, 1, 2}));
  EXPECT_NO_THROW(canvas_.TextNamed("b"));
  EXPECT_THROW(canvas_.TextNamed("c"), std::runtime_error);
  EXPECT_EQ(canvas_.Count(Drawn::kAbort), 1);
}

TEST_F(MessagePrintingTest, PrinterFailureAbortsClosesTheWindowAndPropagates) {
  for (int i = 0; i < 400; ++i) body_.AddLines({"line"});
  canvas_.fail_on_new_page = true;
  EXPECT_THROW(Print(), EPrinterError);
  EXPECT_EQ(canvas_.Count(Drawn::kAbort), 1);
  EXPECT_EQ(canvas_.Count(Drawn::kEnd), 0);
  EXPECT_EQ(progress_.ended, 1);
}

TEST_F(MessagePrintingTest, BlankAttachmentsTextPrintsNoAttachedLine) {
  for (const std::string blank : {"", "   "}) {
    RecordingCanvas canvas;
    texts_.attachments = blank;
    body_.lines.clear();
    body_.AddLines({"x"});
    PrintMessage(texts_, kPrintedAt, canvas, body_, progress_);
    EXPECT_THROW(canvas.TextNamed("Attached: "), std::runtime_error);
    EXPECT_EQ(canvas.Lines().at(1).y,
              HeaderHeight() + 2 + 4 * HeaderLineHeight());
  }
}

TEST_F(MessagePrintingTest, AttachmentsPrintTheirFileNamesOneALine) {
  texts_.attachments = "C:\\mail\\report.doc; /home/ann/figures.xls ;notes.txt";
  body_.AddLines({"x"});
  Print();
  const int first = HeaderHeight() + 2 + 4 * HeaderLineHeight();
  const Drawn& label = canvas_.TextNamed("Attached: ");
  EXPECT_EQ(label.y, first);
  EXPECT_EQ(label.x + Width(label.font, label.text) + 5, L + LabelColumn());
  const std::vector<std::string> names = {"report.doc", "figures.xls",
                                          "notes.txt"};
  for (std::size_t i = 0; i < names.size(); ++i) {
    const Drawn& name = canvas_.TextNamed(names[i]);
    EXPECT_EQ(name.x, L + LabelColumn()) << names[i];
    EXPECT_EQ(name.y, first + static_cast<int>(i) * HeaderLineHeight()) << names[i];
    EXPECT_EQ(name.font, Frame(13, false, true));
  }
  EXPECT_EQ(canvas_.Lines().at(1).y, first + 3 * HeaderLineHeight());
}

TEST_F(MessagePrintingTest, RightAndCentredLinesPlacedByTheirPrintedWidth) {
  PrintFont wide = BodyFont(20);
  body_.lines.push_back({"ab", ParagraphAlignment::kRight, 0, 0, {wide, BodyFont()}});
  body_.lines.push_back({"cde", ParagraphAlignment::kCentre});
  Print();
  const int right_width = CharWidth(wide) + CharWidth(BodyFont());
  EXPECT_EQ(canvas_.TextNamed("a").x, canvas_.width - right_width - 2 * R);
  const int centre_width = 3 * CharWidth(BodyFont());
  EXPECT_EQ(canvas_.TextNamed("c").x, canvas_.width / 2 - centre_width / 2);
}

TEST_F(MessagePrintingTest, IndentsInPointsBecomeDeviceUnits) {
  body_.lines.push_back({"a", ParagraphAlignment::kLeft, 10, 30});
  body_.lines.push_back({"b", ParagraphAlignment::kLeft, 0, 5});
  Print();
  // 144 units an inch: two units a point. The left indent wins when set.
  EXPECT_EQ(canvas_.TextNamed("a").x, L + 20);
  EXPECT_EQ(canvas_.TextNamed("b").x, L + 10);
}

TEST(AttachmentFileNameTest, DropsAnyDirectory) {
  EXPECT_EQ(AttachmentFileName("C:\\a\\b.txt"), "b.txt");
  EXPECT_EQ(AttachmentFileName("/tmp/x/y.pdf"), "y.pdf");
  EXPECT_EQ(AttachmentFileName("plain.txt"), "plain.txt");
  EXPECT_EQ(AttachmentFileName("dir/"), "");
}

}  // namespace
}  // namespace quillon
