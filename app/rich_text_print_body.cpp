#include "app/rich_text_print_body.h"

#include <QAbstractTextDocumentLayout>
#include <QPalette>
#include <QScrollBar>
#include <QTextDocument>
#include <QTextEdit>
#include <QTextLayout>
#include <stdexcept>

#include "app/qt_print_canvas.h"

namespace quillon {
namespace {

// Lengths in a document without a paint device are in pixels of Qt's
// default resolution.
constexpr double kDocumentUnitsPerInch = 96.0;
constexpr double kPointsPerInch = 72.0;

double DocumentUnitsToPoints(double units) {
  return units * kPointsPerInch / kDocumentUnitsPerInch;
}

std::uint32_t Rgb(const QColor& colour) {
  return (static_cast<std::uint32_t>(colour.red()) << 16) |
         (static_cast<std::uint32_t>(colour.green()) << 8) |
         static_cast<std::uint32_t>(colour.blue());
}

PrintFont PrintFontOf(const QFont& font, std::uint32_t colour) {
  PrintFont print_font;
  print_font.name = QStringToAnsi(font.family());
  print_font.size = font.pointSizeF() > 0
                        ? font.pointSizeF()
                        : DocumentUnitsToPoints(font.pixelSize());
  print_font.bold = font.bold();
  print_font.italic = font.italic();
  print_font.underline = font.underline();
  print_font.strike_out = font.strikeOut();
  print_font.colour = colour;
  return print_font;
}

}  // namespace

RichTextPrintBody::RichTextPrintBody(const QTextEdit& control)
    : document_(control.document()->clone()),
      text_colour_(Rgb(control.palette().color(QPalette::Text))) {
  document_->setTextWidth(WrapWidth(control));
  document_->documentLayout()->documentSize();  // lays the whole text out
  IndexLines();
}

RichTextPrintBody::~RichTextPrintBody() = default;

double RichTextPrintBody::WrapWidth(const QTextEdit& control) {
  switch (control.lineWrapMode()) {
    case QTextEdit::NoWrap:
      return -1;
    case QTextEdit::FixedPixelWidth:
      return control.lineWrapColumnOrWidth();
    case QTextEdit::FixedColumnWidth:
    case QTextEdit::WidgetWidth:
      break;
  }
  // A hidden control has not laid its viewport out after a resize: its own
  // width inside the frame is what its text will wrap at.
  if (control.isVisible()) return control.viewport()->width();
  return control.contentsRect().width();
}

void RichTextPrintBody::IndexLines() {
  for (QTextBlock block = document_->begin(); block.isValid();
       block = block.next()) {
    const int count = block.layout() ? block.layout()->lineCount() : 0;
    for (int i = 0; i < count; ++i) lines_.push_back({block, i});
  }
}

const RichTextPrintBody::LaidOutLine& RichTextPrintBody::At(int line) const {
  if (line < 0 || line >= LineCount()) {
    throw std::out_of_range("body line " + std::to_string(line));
  }
  return lines_[static_cast<std::size_t>(line)];
}

QTextLine RichTextPrintBody::LayoutLine(const LaidOutLine& line) const {
  return line.block.layout()->lineAt(line.line_in_block);
}

int RichTextPrintBody::LineCount() const {
  return static_cast<int>(lines_.size());
}

std::string RichTextPrintBody::LineText(int line) const {
  const LaidOutLine& laid_out = At(line);
  const QTextLine text_line = LayoutLine(laid_out);
  return QStringToAnsi(laid_out.block.text().mid(text_line.textStart(),
                                                 text_line.textLength()));
}

PrintFont RichTextPrintBody::CharacterFont(int line, int column) const {
  const LaidOutLine& laid_out = At(line);
  const int in_block = LayoutLine(laid_out).textStart() + column;
  const int position = laid_out.block.position() + in_block;
  for (auto it = laid_out.block.begin(); !it.atEnd(); ++it) {
    const QTextFragment fragment = it.fragment();
    if (position >= fragment.position() &&
        position < fragment.position() + fragment.length()) {
      return FontOf(fragment.charFormat());
    }
  }
  return FontOf(laid_out.block.charFormat());
}

PrintFont RichTextPrintBody::FontOf(const QTextCharFormat& format) const {
  const QFont font = format.font().resolve(document_->defaultFont());
  const QBrush foreground = format.foreground();
  const std::uint32_t colour = foreground.style() == Qt::NoBrush
                                   ? text_colour_
                                   : Rgb(foreground.color());
  return PrintFontOf(font, colour);
}

PrintFont RichTextPrintBody::ControlFont() const {
  return PrintFontOf(document_->defaultFont(), text_colour_);
}

double RichTextPrintBody::LeftIndent(int line) const {
  const QTextBlockFormat format = At(line).block.blockFormat();
  return DocumentUnitsToPoints(format.leftMargin() +
                               format.indent() * document_->indentWidth());
}

double RichTextPrintBody::FirstLineIndent(int line) const {
  return DocumentUnitsToPoints(At(line).block.blockFormat().textIndent());
}

ParagraphAlignment RichTextPrintBody::Alignment(int line) const {
  const Qt::Alignment alignment = At(line).block.blockFormat().alignment();
  if (alignment & (Qt::AlignRight | Qt::AlignTrailing)) {
    return ParagraphAlignment::kRight;
  }
  if (alignment & Qt::AlignHCenter) return ParagraphAlignment::kCentre;
  return ParagraphAlignment::kLeft;
}

}  // namespace quillon
