// Group statistics from the command line, without a window:
//
//   quelmar --stats FROM TO --out FILE   (FROM, TO as yyyy-MM-dd; FILE .csv or .pdf)
//
// Works on maindb.db of the working directory, prints a summary on stdout
// and ends non-zero with the reason on stderr when it cannot write FILE.
#pragma once

#include <QString>

namespace exchange {

// True when the command line asks for the statistics.
bool isStatsCommandLine(int argc, char **argv);

// Whole process: application object (offscreen, for the PDF's fonts),
// maindb.db of the working directory, the statistics, the file. Returns the
// exit code: 0 written (also when the range holds no result), 1 the database
// or the file failed, 2 the command line is wrong.
int runStatsCommandLine(int argc, char **argv);

QString statsJobHelp();

} // namespace exchange
