#include "rules/message_printing.h"

#include <algorithm>
#include <cstdint>

#include "platform/message_pump.h"
#include "platform/text.h"
#include "store/recipients_file.h"

namespace quillon {
namespace {

constexpr double kPointsPerInch = 72.0;
constexpr char kAttachmentSeparator = ';';
constexpr char kWidestLabel[] = "___Subject: ";
constexpr int kLabelGap = 5;  // between a label's end and its value

PrintFont FrameFont(double size, bool bold, bool italic) {
  PrintFont font;
  font.name = kFrameFontName;
  font.size = size;
  font.bold = bold;
  font.italic = italic;
  font.colour = kFrameColour;
  return font;
}

PrintFont PageHeaderFont() { return FrameFont(8, true, true); }
PrintFont LabelMeasureFont() { return FrameFont(14, true, true); }
PrintFont LabelFont() { return FrameFont(13, true, true); }
PrintFont ValueFont() { return FrameFont(13, false, true); }

// One printout: the page position and the page count.
class MessageLayout {
 public:
  MessageLayout(const std::string& printed_at, PrintCanvas& canvas,
                PrintBody& body, PrintProgress& progress)
      : printed_at_(printed_at),
        canvas_(canvas),
        body_(body),
        progress_(progress) {}

  PrintOutcome Print(const PrintedMessageTexts& texts) {
    progress_.PrintStarted(std::max(0, body_.LineCount() - 1));
    try {
      const PrintOutcome outcome = PrintDocument(texts);
      progress_.PrintEnded();
      return outcome;
    } catch (...) {
      AbandonAfterFailure();
      throw;
    }
  }

 private:
  PrintOutcome PrintDocument(const PrintedMessageTexts& texts) {
    canvas_.SetTitle(kPrintTitle);
    width_ = canvas_.PageWidth();
    height_ = canvas_.PageHeight();
    canvas_.BeginDocument();
    document_open_ = true;
    PageHeader();
    y_ = header_height_ + 2;
    HeaderBlock(texts);
    Rule();
    const bool completed = PrintBodyLines();
    if (!completed || progress_.CancelRequested()) {
      document_open_ = false;
      canvas_.AbortDocument();
      return PrintOutcome::kCancelled;
    }
    Footer();
    canvas_.EndDocument();
    document_open_ = false;
    return PrintOutcome::kPrinted;
  }

  // A failing printer must not leave a half document open nor the window up.
  void AbandonAfterFailure() noexcept {
    if (document_open_) {
      document_open_ = false;
      try {
        canvas_.AbortDocument();
      } catch (...) {
        // The first failure is the one reported.
      }
    }
    try {
      progress_.PrintEnded();
    } catch (...) {
    }
  }

  int RuleEnd() const { return width_ - 2 * kPrintLeftMargin; }

  void PageHeader() {
    canvas_.SetFont(PageHeaderFont());
    canvas_.TextOut(kPrintLeftMargin, 2, printed_at_);
    header_height_ = canvas_.TextHeight(printed_at_);
    canvas_.Line(kPrintLeftMargin, header_height_, RuleEnd(), header_height_);
  }

  void Footer() {
    ++page_;
    canvas_.SetFont(PageHeaderFont());
    const int f = height_ - kPrintBottomGap - kFooterRise;
    canvas_.Line(kPrintLeftMargin, f, RuleEnd(), f);
    const std::string number = "< " + std::to_string(page_) + " >";
    const int centre = (width_ + kPrintLeftMargin - kPrintRightMargin) / 2;
    canvas_.TextOut(centre - canvas_.TextWidth(number) / 2, f + 2, number);
    const std::string mark = kProductMark;
    canvas_.TextOut(width_ - canvas_.TextWidth(mark) - kPrintRightMargin, f + 2,
                    mark);
  }

  void HeaderBlock(const PrintedMessageTexts& texts) {
    HeaderLine("To: ", texts.to);
    HeaderLine("From: ", texts.from);
    HeaderLine("Date: ", texts.date);
    HeaderLine("Subject: ", texts.subject);
    if (!Trim(texts.attachments).empty()) AttachmentLines(texts.attachments);
  }

  // The label right-aligned in a column wide enough for the widest label,
  // the value after it.
  void HeaderLine(const std::string& label, const std::string& value) {
    canvas_.SetFont(LabelMeasureFont());
    label_column_ = canvas_.TextWidth(kWidestLabel) + kLabelGap;
    header_line_height_ = canvas_.TextHeight(label);
    canvas_.SetFont(LabelFont());
    canvas_.TextOut(
        kPrintLeftMargin + label_column_ - canvas_.TextWidth(label) - kLabelGap,
        y_, label);
    ValueLine(value);
  }

  void ValueLine(const std::string& value) {
    canvas_.SetFont(ValueFont());
    canvas_.TextOut(kPrintLeftMargin + label_column_, y_, value);
    y_ += header_line_height_;
  }

  void AttachmentLines(const std::string& attachments) {
    // Fields are numbered in 16 bits.
    const int count =
        std::min(FieldCount(attachments, kAttachmentSeparator), 0xFFFF);
    HeaderLine("Attached: ", AttachmentEntry(attachments, 1));
    for (int i = 2; i <= count; ++i) {
      ValueLine(AttachmentEntry(attachments, i));
    }
  }

  static std::string AttachmentEntry(const std::string& attachments,
                                     int index) {
    return Trim(AttachmentFileName(GetField(static_cast<std::uint16_t>(index),
                                            attachments,
                                            kAttachmentSeparator)));
  }

  void Rule() {
    canvas_.Line(kPrintLeftMargin, y_, RuleEnd(), y_);
    y_ += kPrintTopGap;
    canvas_.SetFont(body_.ControlFont());
  }

  // False when the printout was cancelled.
  bool PrintBodyLines() {
    const int count = body_.LineCount();
    for (int line = 0; line < count; ++line) {
      progress_.SetPosition(line);
      if (line % 2 == 0) ProcessMessages();
      if (progress_.CancelRequested()) return false;
      if (y_ >= height_ - kPrintTopGap - kPrintBottomGap - kFooterRise) {
        BreakPage();
      }
      BodyLine(line);
    }
    return true;
  }

  void BreakPage() {
    Footer();
    canvas_.NewPage();
    ProcessMessages();
    PageHeader();
    y_ = header_height_ + kPrintTopGap + 2;
    canvas_.SetFont(body_.ControlFont());
  }

  void BodyLine(int line) {
    const std::string text = body_.LineText(line);
    int x = LineStart(line, text);
    for (std::size_t column = 0; column < text.size(); ++column) {
      canvas_.SetFont(body_.CharacterFont(line, static_cast<int>(column)));
      const std::string printed = PrintedCharacter(text[column]);
      canvas_.TextOut(x, y_, printed);
      x += canvas_.TextWidth(printed);
    }
    y_ += canvas_.TextHeight(text.empty() ? std::string(" ") : text);
  }

  static std::string PrintedCharacter(char c) {
    return c == '\t' ? std::string(kTabBlanks, ' ') : std::string(1, c);
  }

  int LineStart(int line, const std::string& text) {
    switch (body_.Alignment(line)) {
      case ParagraphAlignment::kRight:
        return width_ - LineWidth(line, text) - 2 * kPrintRightMargin;
      case ParagraphAlignment::kCentre:
        return width_ / 2 - LineWidth(line, text) / 2;
      case ParagraphAlignment::kLeft:
        break;
    }
    const double left = body_.LeftIndent(line);
    const double indent = left != 0 ? left : body_.FirstLineIndent(line);
    return kPrintLeftMargin + PointsToDeviceUnits(indent);
  }

  // The width the line takes when printed: each character in its own font.
  int LineWidth(int line, const std::string& text) {
    int width = 0;
    for (std::size_t column = 0; column < text.size(); ++column) {
      canvas_.SetFont(body_.CharacterFont(line, static_cast<int>(column)));
      width += canvas_.TextWidth(PrintedCharacter(text[column]));
    }
    return width;
  }

  int PointsToDeviceUnits(double points) const {
    return static_cast<int>(points * canvas_.Resolution() / kPointsPerInch);
  }

  const std::string& printed_at_;
  PrintCanvas& canvas_;
  PrintBody& body_;
  PrintProgress& progress_;
  int width_ = 0;
  int height_ = 0;
  int header_height_ = 0;  // h: the page header's text height
  int y_ = 0;
  int page_ = 0;
  int label_column_ = 0;  // C
  int header_line_height_ = 0;
  bool document_open_ = false;
};

}  // namespace

std::string AttachmentFileName(const std::string& entry) {
  const std::size_t separator = entry.find_last_of("/\\");
  return separator == std::string::npos ? entry : entry.substr(separator + 1);
}

PrintOutcome PrintMessage(const PrintedMessageTexts& texts,
                          const std::string& printed_at, PrintCanvas& canvas,
                          PrintBody& body, PrintProgress& progress) {
  MessageLayout layout(printed_at, canvas, body, progress);
  return layout.Print(texts);
}

}  // namespace quillon
