#include "app/cups_print_job.h"

#include <QProcess>
#include <QStringList>

#include "app/qt_print_canvas.h"
#include "rules/message_printer.h"

namespace quillon {
namespace {

constexpr int kSubmitLimitMs = 60'000;
constexpr char kSpoolerClient[] = "lp";

std::string SpoolerAnswer(QProcess& lp) {
  const QString answer =
      QString::fromLocal8Bit(lp.readAllStandardError()).trimmed();
  return answer.isEmpty() ? std::string("no answer")
                          : QStringToAnsi(answer);
}

}  // namespace

void SubmitPrintJob(const QString& printer, const QString& file,
                    const QString& title, const QString& media) {
  QStringList arguments = {QStringLiteral("-d"), printer, QStringLiteral("-t"),
                           title};
  if (!media.isEmpty()) {
    arguments << QStringLiteral("-o") << QStringLiteral("media=") + media;
  }
  arguments << QStringLiteral("--") << file;
  QProcess lp;
  lp.start(QString::fromLatin1(kSpoolerClient), arguments);
  if (!lp.waitForStarted(kSubmitLimitMs)) {
    throw EPrinterError("The print spooler cannot be reached (lp: " +
                        QStringToAnsi(lp.errorString()) + ")");
  }
  if (!lp.waitForFinished(kSubmitLimitMs)) {
    lp.kill();
    lp.waitForFinished();
    throw EPrinterError("The print spooler did not take the document in time");
  }
  if (lp.exitStatus() != QProcess::NormalExit || lp.exitCode() != 0) {
    throw EPrinterError("The printer \"" + QStringToAnsi(printer) +
                        "\" refused the document: " + SpoolerAnswer(lp));
  }
}

}  // namespace quillon
