#include "app/print_preview_form.h"

#include <QApplication>
#include <QFont>
#include <QLabel>
#include <QProgressBar>
#include <QTextEdit>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/qt_print_canvas.h"
#include "app/rich_text_print_body.h"
#include "platform/date_text.h"

namespace quillon {
namespace {

constexpr int kProcessingLabelPixels = 19;

}  // namespace

TPreViewForm::TPreViewForm(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint) {
  setWindowTitle(QString::fromLatin1(kPrintWindowCaption));
  setWindowIcon(QApplication::windowIcon());
  CreateComponents();
}

void TPreViewForm::CreateComponents() {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  Toolbar = new QToolBar(this);
  ToolbarButton971 = new QToolButton(Toolbar);
  ToolbarButton971->setText(QStringLiteral("&Cancel"));
  ToolbarButton971->setObjectName(QStringLiteral("ToolbarButton971"));
  connect(ToolbarButton971, &QToolButton::clicked, this,
          [this] { ToolbarButton971Click(); });
  Toolbar->addWidget(ToolbarButton971);
  Label1 = new QLabel(QStringLiteral("Processing..."), Toolbar);
  QFont label_font(QStringLiteral("Times New Roman"));
  label_font.setPixelSize(kProcessingLabelPixels);
  label_font.setBold(true);
  Label1->setFont(label_font);
  Toolbar->addWidget(Label1);
  layout->addWidget(Toolbar);

  LMDMeter1 = new QProgressBar(this);
  LMDMeter1->setObjectName(QStringLiteral("LMDMeter1"));
  LMDMeter1->setFormat(QStringLiteral("%p%"));
  LMDMeter1->setTextVisible(true);
  LMDMeter1->setToolTip(QString::fromLatin1(kPrintMeterHint));
  LMDMeter1->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  layout->addWidget(LMDMeter1, 1);
}

PrintOutcome TPreViewForm::PrintMessage(QPrinter& printer,
                                        const QTextEdit& message_text,
                                        const std::string& subject,
                                        const std::string& from,
                                        const std::string& to,
                                        const std::string& date,
                                        const std::string& attachments) {
  QtPrintCanvas canvas(printer);
  RichTextPrintBody body(message_text);
  const PrintedMessageTexts texts{subject, from, to, date, attachments};
  return quillon::PrintMessage(texts, DateTimeText(NowDateTime()), canvas,
                               body, *this);
}

void TPreViewForm::ToolbarButton971Click() {
  cancel_requested_ = true;
  ToolbarButton971->setEnabled(false);
}

void TPreViewForm::PrintStarted(int maximum) {
  cancel_requested_ = false;
  // A Cancel of an earlier printout disabled the button.
  ToolbarButton971->setEnabled(true);
  LMDMeter1->setRange(0, maximum);
  LMDMeter1->setValue(0);
  show();
  raise();
}

void TPreViewForm::SetPosition(int position) { LMDMeter1->setValue(position); }

void TPreViewForm::PrintEnded() { close(); }

}  // namespace quillon
