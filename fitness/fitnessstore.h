// Storing one fitness result in table ResultFIT on the default database
// connection: one row per person and day, the result's item column filled in.
#pragma once

#include "fitness/fitnesssession.h"

#include <QDate>
#include <QString>

namespace fitnessstore {

// The person a result belongs to; an unregistered user number is stored
// under that number as "-", sex "2", born 1990.
struct PersonInfo
{
    QString uid;
    QString name = QStringLiteral("-");
    QString sex = QStringLiteral("2");
    int birthYear = 1990;
    bool registered = false;
};

struct StoreOutcome
{
    bool ok = false;
    bool inserted = false; // a new day row, else the day row was updated
    int testId = 0;        // the row written
    QString uid;           // the user number of the row
    QString error;         // database error text when not ok
};

// Looks |userId| up in Person (bound, so any text is taken literally).
// On a database error |error| is set and the unregistered defaults come back.
PersonInfo lookupPerson(const QString &userId, QString *error = nullptr);

// Stores |result| for |today|: converts its value into |values| and inserts
// the person's day row or updates its item column.
StoreOutcome storeResult(const fitness::FitResult &result, fitness::FitValues &values,
                         const QDate &today = QDate::currentDate());

} // namespace fitnessstore
