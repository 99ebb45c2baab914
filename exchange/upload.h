// Upload of one stored result to the organisation's web service: the record
// read from the database and turned into the JSON object the server expects
// (every member a text), the check of the configured address and the
// request with its headers. The sending itself belongs to the main window.
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QNetworkRequest>
#include <QPair>
#include <QString>
#include <QUrl>

class QSqlRecord;

namespace exchange {

// One result ready to be sent: its identifying texts and the formatted
// members of the JSON object, in the order they are listed. Built from a
// database row; nothing of it is kept in the main window.
struct UploadRecord
{
    QString testItem; // "Fit" or "BCA"
    QString testId;
    QString name;
    QList<QPair<QString, QString>> members; // every member of the object, testItem first

    QString member(const QString &key) const;
    QJsonObject toJson() const;
    // The request body: the indented JSON text, UTF-8.
    QByteArray body() const;
};

// Number formats of the members: one or two decimals, a whole number, and
// the general form with up to six significant digits.
QString oneDecimal(double value);
QString twoDecimals(double value);
QString wholeNumber(int value);
QString general(double value);

// Code of a body-type word; 8 for any other text, empty included.
int bodyTypeCode(const QString &bodyType);

// A ResultFIT row read by column position (0 TestID ... 18 TY).
UploadRecord fitRecordFromRow(const QSqlRecord &row);
// A Result row read by column name.
UploadRecord bcaRecordFromRow(const QSqlRecord &row);

struct RecordLookup
{
    bool found = false;
    QString statement; // the statement text, for the log
    QString error;     // database error, empty when the query ran
    UploadRecord record;
};

// The fitness result |testId| from ResultFIT; 0 means the newest row.
RecordLookup readFitRecord(int testId);
// The body-composition result |testId| from Result; 0 means the newest row
// (the one the body-composition page shows after a measurement).
RecordLookup readBcaRecord(int testId);

// PostAddress of row 0 of Server; empty when there is none.
QString readPostAddress();

// The address as a URL when it is an http or https address with a host;
// otherwise an empty URL and |why| says what is wrong with it.
QUrl checkedUploadUrl(const QString &address, QString *why);

// POST request for |body|: the URL, Content-Type and Content-Length.
QNetworkRequest uploadRequest(const QUrl &url, const QByteArray &body);

// Texts of the instrument-state field after an upload.
QString uploadSucceededText();
QString uploadFailedText();
QString uploadNoRecordText();

} // namespace exchange
