// Moving one PC's data into a shared database: the people and results of
// an SQLite file are added to another database under new test numbers.
#pragma once

#include <QSqlDatabase>
#include <QString>

namespace exchange {

struct CopyResult
{
    bool ok = false;
    bool refused = false; // copied before and not asked again: nothing done
    QString error;        // why nothing was copied
    QString fingerprint;  // identity of the copied data
    QString earlier;      // refused: when and from where it was copied before
    int peopleCopied = 0;
    int peopleKept = 0; // already registered under the same user number
    int results = 0;    // body-composition results
    int fitness = 0;    // fitness results
};

// Identity of the data of |source|: a SHA-256 over the rows of Person,
// Result and ResultFIT in key order, whatever the file's pages look like.
// Empty with |error| set when a table cannot be read.
QString dataFingerprint(QSqlDatabase source, QString *error);

// Copies from |source| into |target|, both open, in one transaction of
// |target| (all or nothing):
//  - Person rows, but for one whose user number (UID, not empty) |target|
//    registers already: that person is kept as it is there, not doubled;
//  - every Result and ResultFIT row, all columns but TestID, which |target|
//    assigns anew.
// The fingerprint is recorded in |target| (table CopiedFile, made when
// missing); data copied before is refused unless |again|. |label| names the
// source in that record.
CopyResult copyDatabase(QSqlDatabase source, QSqlDatabase target, const QString &label, bool again);

} // namespace exchange
