#include "people/csvreader.h"

namespace csv {
QList<Record> parse(const QString &text)
{
    QList<Record> records;
    const int n = text.size();
    int line = 1;
    int i = 0;
    while (i < n) {
        Record record;
        record.line = line;
        QString field;
        bool inQuotes = false;
        bool fieldStarted = false; // a quote opens a quoted field only as its first character
        bool recordEnded = false;
        while (i < n && !recordEnded) {
            const QChar c = text.at(i++);
            if (inQuotes) {
                if (c == QLatin1Char('"')) {
                    if (i < n && text.at(i) == QLatin1Char('"')) {
                        field += c; // doubled quote
                        ++i;
                    } else {
                        inQuotes = false;
                    }
                } else {
                    if (c == QLatin1Char('\n') ||
                        (c == QLatin1Char('\r') && !(i < n && text.at(i) == QLatin1Char('\n'))))
                        ++line;
                    field += c;
                }
            } else if (c == QLatin1Char('"') && !fieldStarted) {
                inQuotes = true;
                fieldStarted = true;
            } else if (c == QLatin1Char(',')) {
                record.fields << field;
                field.clear();
                fieldStarted = false;
            } else if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
                if (c == QLatin1Char('\r') && i < n && text.at(i) == QLatin1Char('\n'))
                    ++i;
                ++line;
                recordEnded = true;
            } else {
                field += c;
                fieldStarted = true;
            }
        }
        record.fields << field;
        records << record;
    }
    return records;
}
} // namespace csv
