// Answer handling of the protocol test console: gathering the bytes read from
// the analyzer port into whole frames and turning one frame into the line the
// console shows. Widget-free so that tests can drive it byte by byte.
#pragma once

#include "analyzer/answergatherer.h"

#include <QByteArray>
#include <QList>
#include <QString>

// Interpretation of one complete answer, as the console shows it.
struct ConsoleReading
{
    enum Part { NoRecord, Person, Whole, Segment, Impedance };

    Part part = NoRecord;
    QString text;      // the line of the information view
    QByteArray record; // decoded '#'-separated text of a data record
};

// Interprets the lower-case hex text of one answer: state and acknowledgement
// codes first, then the four data records by their answer code.
ConsoleReading interpretConsoleAnswer(const QByteArray &hex);
