// Headless PDF archive: `quelmar --export-pdf FIRST-LAST --out DIR [--fitness]`
// writes the report of every existing test number in the range into
// DIR/<TestID>_<UID>_<Name>.pdf, one page per file, without a window.
#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include "reports/reportprint.h"

class QTextStream;

namespace reports {

// "FIRST-LAST" (or one number) with 1 <= FIRST <= LAST.
bool parseArchiveRange(const QString &text, int *first, int *last);

// <TestID>_<UID>_<Name>.pdf with characters unsafe in file names replaced by
// '_', at most 200 bytes in UTF-8 (the user number at most 64), cut between
// characters.
QString archiveFileName(int testId, const QString &uid, const QString &name);

// Runs of test numbers written "101, 105-110".
QString foldRuns(const NumberRuns &runs);

// Runs the export on the open default connection. |arguments| are the
// program's arguments (argv[0] first). Writes one line per file and the
// summary ("N written, M missing: runs; K failed: numbers") to |out|, every
// record that could not be written to |err| (the run goes on); returns the
// exit code (0 written, 1 nothing written or a record failed, 2 bad
// arguments, range or folder). With |workerProgram| (this program's binary)
// parts of the range go to further processes of it, one per core or as
// --jobs N says; without, this process writes every file.
int runPdfArchive(const QStringList &arguments, QTextStream &out, QTextStream &err,
                  const QString &workerProgram = QString());

// Whether the command line asks for the archive (checked before any
// application object exists).
bool wantsPdfArchive(int argc, char *argv[]);

// Whole process of the archive mode: offscreen platform unless one was
// chosen, application object, maindb.db of the working directory, the run.
int pdfArchiveMain(int argc, char *argv[]);

QString pdfArchiveHelp();

} // namespace reports
