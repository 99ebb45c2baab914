// Database backup: a consistent copy of the open database taken by the
// database itself (SQLite: VACUUM INTO; a PostgreSQL server: pg_dump's custom
// archive), under a name stamped with the local date and time.
#pragma once

#include <QDateTime>
#include <QString>

namespace exchange {

// "<folder>maindb" + "yyyyMMddhhmmss" + ".db" (".dump" on a server); |folder| ends with a '/'.
QString backupTarget(const QDateTime &when, const QString &folder = QStringLiteral("../backup/"));

struct BackupResult
{
    bool ok = false;
    QString target;
    QString error; // why it failed, for the operator
};

// Copies the database of the default connection to |target|. The copy is
// read through a connection of its own, so queries the program still has
// open on the default connection neither block it nor end up in it half
// done. Fails without touching anything when |target| exists or its folder
// is missing; a copy that fails on the way leaves no file.
// On a server pg_dump writes the archive; without pg_dump it fails saying so.
BackupResult backupDatabase(const QString &target);

// The pg_dump program: QUELMAR_PG_DUMP, else PATH, else the newest
// /usr/lib/postgresql/<version>/bin; empty when there is none.
QString findPgDump();

} // namespace exchange
