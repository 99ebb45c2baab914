// Setting up a database for the program and moving a PC's data into it,
// from the command line, without a window:
//
//   quelmar --init-database URL              tables and configuration rows in an empty database
//   quelmar --copy-database FROM TO [--again]  people and results of the file FROM into TO
//
// URL, TO: postgresql://user@host:port/dbname or sqlite:PATH; FROM: an SQLite
// file (sqlite:PATH or a plain path). Each prints what it did on stdout and
// ends non-zero with the reason on stderr when it refused or failed.
#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QStringList>

namespace exchange {

// The program's schema script for a Qt driver ("QPSQL" or "QSQLITE"), as
// shipped in db/ and embedded in the program; empty for another driver.
QString schemaScript(const QString &driverName);

// The statements of an SQL script: split at semicolons outside quotes and
// comments, trimmed, empty ones left out.
QStringList sqlStatements(const QString &script);

// The program's tables that |db| already holds, in the order of requiredTables().
QStringList programTablesIn(const QSqlDatabase &db);

struct SchemaResult
{
    bool ok = false;
    QString error;  // why nothing was created
    int tables = 0; // tables created
    int rows = 0;   // configuration rows inserted
};

// Runs |script| on |db| in one transaction: everything or nothing. Refuses a
// database that holds any of the program's tables already.
SchemaResult createSchema(QSqlDatabase db, const QString &script);

// True when the command line asks for --init-database or --copy-database.
bool wantsDatabaseTool(int argc, char **argv);

// Whole process for those two; returns the exit code: 0 done, 1 refused or
// failed, 2 the command line is wrong.
int runDatabaseTool(int argc, char **argv);

QString databaseToolHelp();

} // namespace exchange
