// Storing one downloaded analyzer measurement as a row of table Result on the
// default database connection: who was measured, the unit identifier, the
// parsed lists, the derived indicators and the insert.
#pragma once

#include "records/measurement.h"

#include <QString>

namespace measurementstore {
// The person chosen for PC-control mode; uid "0" means collection mode, in
// which the person comes from the analyzer's person list.
struct PcControlPerson
{
    QString uid = QStringLiteral("0");
    QString name;
    QString sex;
    int birthYear = 0;
};

struct SaveOutcome
{
    bool ok = false;
    int testId = 0; // key of the new row when ok
    QString error;  // database error text when not ok
    QString uuid;   // unit identifier bound into the row ("Null" when none)
    bool collectionMode = false;
    QString uid;      // user number bound into the row
    QString bodyType; // body type of this measurement (the previous one when undecidable)
};

// The statement that inserts one measurement; 97 positional placeholders.
QString insertStatement();

// Field |index| of a '#'-separated list; empty when the list is shorter.
QByteArray listField(const QList<QByteArray> &fields, int index);

// Inserts |lists| as one Result row. |previousBodyType| is kept when the
// body type cannot be decided. Missing list fields count as 0 (empty text
// for the user number and the test date).
// A server out of reach fails the save (the record stays with the caller);
// the next call reconnects and stores it once.
SaveOutcome saveMeasurement(const MeasurementLists &lists, const PcControlPerson &pc,
                            const QString &previousBodyType);
} // namespace measurementstore
