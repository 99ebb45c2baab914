// Reader of comma-separated text as spreadsheets and our own export write
// it: a field in double quotes may hold commas, line breaks and doubled
// quotes ("" for one quote); records end at "\r\n", "\n" or "\r" outside
// quotes.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace csv {
struct Record
{
    int line = 0; // 1-based line of the text on which the record starts
    QStringList fields;
};

// The records of |text|. Fields are returned as written (quotes removed,
// nothing trimmed); an empty line is a record with one empty field; the
// end of the last line does not start another record. A quote left open
// runs to the end of the text.
QList<Record> parse(const QString &text);
} // namespace csv
