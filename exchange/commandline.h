// Data exchange for scheduled jobs: export and backup without a window.
//
//   quelmar --export-bca FILE   body-composition CSV file (a workbook for FILE.xlsx)
//   quelmar --export-fit FILE   fitness CSV file (a workbook for FILE.xlsx)
//   quelmar --backup            copy of maindb.db into ../backup/
//
// The options may be combined; each job works on maindb.db of the working
// directory exactly as its menu action does, prints one line on stdout
// saying what it wrote, and the process ends with a non-zero code and the
// reason on stderr when any job failed.
#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <functional>

class QCommandLineParser;
class QTextStream;

namespace exchange {

// True when the command line names one of the jobs above.
bool isJobCommandLine(int argc, char **argv);

// Runs the jobs with a QCoreApplication (no display needed); returns the
// exit code: 0 all done, 1 a job failed, 2 the command line is wrong.
int runJobCommandLine(int argc, char **argv);

// The first option given more than once (by its name, without dashes);
// empty when none is. A second value would otherwise silently win.
QString repeatedOption(const QCommandLineParser &parser);

// Why output files (option name, path) cannot be written as given: two jobs
// name one file, or a job names the database |databasePath|. Empty when
// they are all distinct.
QString sameFileProblem(const QList<QPair<QString, QString>> &outputs, const QString &databasePath);

// Before the application object of a job without a display: the offscreen
// platform, unless one was chosen.
void useOffscreenUnlessChosen();
// After it: the locale's codec and |out| and |err| in UTF-8, whatever the
// locale says.
void useUtf8Output(QTextStream &out, QTextStream &err);

// The whole process of a headless job that paints (the PDF archive, the
// history page): the offscreen platform unless one was chosen, an
// application object, output in UTF-8 whatever the locale says, the chosen
// database opened only when it may exist (a missing file would be created
// empty), then |job| with the program's arguments; returns its exit code.
using HeadlessJob = std::function<int(const QStringList &arguments, QTextStream &out, QTextStream &err)>;
int runHeadlessJob(int argc, char **argv, const HeadlessJob &job);

// Lines of the program's --help text for the jobs.
QString jobOptionsHelp();

} // namespace exchange
