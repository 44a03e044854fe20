// The printed form of a received message: a page header with the time of
// printing, the "To:", "From:", "Date:", "Subject:" (and "Attached:") block,
// a rule, the body character by character in each character's own format,
// and a footer with the page number and the product mark on every page.
// The layout talks to a printer canvas, a rich-text body and a progress
// window through the small interfaces below, so it runs without any GUI.
#pragma once

#include <cstdint>
#include <string>

namespace quillon {

// Layout, in printer device units.
inline constexpr int kPrintLeftMargin = 120;   // L
inline constexpr int kPrintRightMargin = 60;   // R
inline constexpr int kPrintTopGap = 80;        // T
inline constexpr int kPrintBottomGap = 80;     // B
inline constexpr int kFooterRise = 10;         // footer rule above B
inline constexpr int kTabBlanks = 5;           // a tab prints as five blanks

inline constexpr char kPrintTitle[] = "QVN's Message printing";
inline constexpr char kProductMark[] = "QVN Pro 4.0";
inline constexpr char kFrameFontName[] = "Times New Roman";
inline constexpr std::uint32_t kFrameColour = 0x0000FF;  // blue, 0xRRGGBB

struct PrintFont {
  std::string name;
  double size = 10;  // points
  bool bold = false;
  bool italic = false;
  bool underline = false;
  bool strike_out = false;
  std::uint32_t colour = 0;  // 0xRRGGBB

  bool operator==(const PrintFont&) const = default;
};

enum class ParagraphAlignment { kLeft, kRight, kCentre };

// A printer's drawing surface for one document. Coordinates are device
// units from the top left of the printable area; text is placed by the top
// of its cell. Failures of the printer are raised as EPrinterError.
class PrintCanvas {
 public:
  virtual ~PrintCanvas() = default;
  virtual void SetTitle(const std::string& title) = 0;
  virtual int PageWidth() const = 0;
  virtual int PageHeight() const = 0;
  virtual int Resolution() const = 0;  // device units per inch
  virtual void BeginDocument() = 0;
  virtual void NewPage() = 0;
  virtual void EndDocument() = 0;
  // Drops the document: nothing of it is printed.
  virtual void AbortDocument() = 0;
  virtual void SetFont(const PrintFont& font) = 0;
  virtual void TextOut(int x, int y, const std::string& text) = 0;
  virtual int TextWidth(const std::string& text) = 0;
  virtual int TextHeight(const std::string& text) = 0;
  virtual void Line(int x1, int y1, int x2, int y2) = 0;
};

// The body as the rich-text control lays it out: its (wrapped) lines, each
// character's format and each line's paragraph format. Texts are 8-bit,
// one byte a character.
class PrintBody {
 public:
  virtual ~PrintBody() = default;
  virtual int LineCount() const = 0;
  virtual std::string LineText(int line) const = 0;
  virtual PrintFont CharacterFont(int line, int column) const = 0;
  // The control's own font.
  virtual PrintFont ControlFont() const = 0;
  // Paragraph indents in points.
  virtual double LeftIndent(int line) const = 0;
  virtual double FirstLineIndent(int line) const = 0;
  virtual ParagraphAlignment Alignment(int line) const = 0;
};

// The print window: shown for the printout, a meter over the body lines and
// a cancel request.
class PrintProgress {
 public:
  virtual ~PrintProgress() = default;
  // Shows the window, the meter at 0 of `maximum`, the cancel request off.
  virtual void PrintStarted(int maximum) = 0;
  virtual void SetPosition(int position) = 0;
  virtual bool CancelRequested() const = 0;
  // Closes the window.
  virtual void PrintEnded() = 0;
};

struct PrintedMessageTexts {
  std::string subject;
  std::string from;
  std::string to;
  std::string date;
  // File names separated by ";"; empty prints no "Attached:" line.
  std::string attachments;
};

enum class PrintOutcome { kPrinted, kCancelled };

// Prints one document: `printed_at` is the time-of-printing text of the page
// headers. Pending messages of the process-wide pump are dispatched while
// printing, so a cancel request can arrive; a cancelled document is aborted.
// A printer failure aborts the document, closes the window and propagates.
PrintOutcome PrintMessage(const PrintedMessageTexts& texts,
                          const std::string& printed_at, PrintCanvas& canvas,
                          PrintBody& body, PrintProgress& progress);

// The file-name part of an attachment entry (after the last "/" or "\").
std::string AttachmentFileName(const std::string& entry);

}  // namespace quillon
