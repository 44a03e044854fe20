// The body of a printout as a QTextEdit lays it out: the control's wrapped
// lines, each character's QTextCharFormat and each paragraph's format. It
// reads a copy of the control's document, so the control's caret, selection
// and scroll position stay as they are.
#pragma once

#include <QTextBlock>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "rules/message_printing.h"

class QTextCharFormat;
class QTextDocument;
class QTextEdit;
class QTextLine;

namespace quillon {

class RichTextPrintBody : public PrintBody {
 public:
  explicit RichTextPrintBody(const QTextEdit& control);
  ~RichTextPrintBody() override;

  int LineCount() const override;
  std::string LineText(int line) const override;
  PrintFont CharacterFont(int line, int column) const override;
  PrintFont ControlFont() const override;
  double LeftIndent(int line) const override;
  double FirstLineIndent(int line) const override;
  ParagraphAlignment Alignment(int line) const override;

 private:
  struct LaidOutLine {
    QTextBlock block;
    int line_in_block;
  };
  // The width the control wraps its text at.
  static double WrapWidth(const QTextEdit& control);
  void IndexLines();
  const LaidOutLine& At(int line) const;
  QTextLine LayoutLine(const LaidOutLine& line) const;
  PrintFont FontOf(const QTextCharFormat& format) const;

  std::unique_ptr<QTextDocument> document_;
  std::uint32_t text_colour_ = 0;
  std::vector<LaidOutLine> lines_;
};

}  // namespace quillon
