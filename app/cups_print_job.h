// Hands a finished print file to the CUPS spooler as one job. The program
// renders each printout into a spool file of its own and submits it only
// when the document is complete, so that a cancelled printout never becomes
// a job and a job the spooler refuses is reported.
#pragma once

#include <QString>

namespace quillon {

// Submits `file` to `printer` with `lp` (the spooler reached as CUPS
// clients reach it, CUPS_SERVER included). Throws EPrinterError with the
// spooler's answer when the job is not accepted.
void SubmitPrintJob(const QString& printer, const QString& file,
                    const QString& title, const QString& media);

}  // namespace quillon
