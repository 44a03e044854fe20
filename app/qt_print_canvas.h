// The printer canvas of the message layout on a QPrinter: a QPainter in the
// printer's device units, fonts in points, text placed by the top of its
// cell as the layout expects. A document for a printer is drawn into a spool
// file and submitted when it ends; an aborted one is dropped unsent.
#pragma once

#include <QColor>
#include <QFont>
#include <QPainter>
#include <memory>
#include <string>

#include "rules/message_printing.h"

class QPrinter;
class QTemporaryFile;

namespace quillon {

class QtPrintCanvas : public PrintCanvas {
 public:
  explicit QtPrintCanvas(QPrinter& printer);
  ~QtPrintCanvas() override;
  QtPrintCanvas(const QtPrintCanvas&) = delete;
  QtPrintCanvas& operator=(const QtPrintCanvas&) = delete;

  void SetTitle(const std::string& title) override;
  int PageWidth() const override;
  int PageHeight() const override;
  int Resolution() const override;
  void BeginDocument() override;
  void NewPage() override;
  void EndDocument() override;
  void AbortDocument() override;
  void SetFont(const PrintFont& font) override;
  void TextOut(int x, int y, const std::string& text) override;
  int TextWidth(const std::string& text) override;
  int TextHeight(const std::string& text) override;
  void Line(int x1, int y1, int x2, int y2) override;

 private:
  // A PDF file of an aborted document must not stay behind.
  void RemovePartialPdf() const;
  void OpenSpoolFile();
  void SubmitSpoolFile();
  void DropSpoolFile();

  QPrinter& printer_;
  std::unique_ptr<QTemporaryFile> spool_;
  QPainter painter_;
  QFont font_;
  QColor text_colour_;
};

// 8-bit (Windows-1252) texts to Qt and back, one byte a character.
QString AnsiToQString(const std::string& text);
std::string QStringToAnsi(const QString& text);

}  // namespace quillon
