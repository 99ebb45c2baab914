// Upload of one stored result to the organisation's web service: the record
// read from the database and turned into the JSON object the server expects
// (every member a text), the check of the configured address and the
// request with its headers, the post with its time-out, and how a finished
// reply ended in words for the operator.
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPair>
#include <QSslError>
#include <QString>
#include <QUrl>

class QNetworkAccessManager;
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
    QString statement;   // the statement text, for the log
    QString error;       // database error, empty when the query ran
    UploadRecord record; // its testItem is set even when no row was found
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

// PostAddress of row 0 of Server set to |address| once checkedUploadUrl
// accepts it (the row is created when there is none). False with |why| set
// when the address is refused or cannot be stored.
bool savePostAddress(const QString &address, QString *why);

// How an upload ended: |reason| says why it failed, in Chinese words.
struct UploadOutcome
{
    bool ok = false;
    int httpStatus = 0; // 0 when no HTTP answer came
    QString reason;     // empty on success
};

// The reason of a failed upload from what the reply reported: the network
// error, the HTTP status (0 for none), whether the time-out of |timeoutMs|
// aborted it, the certificate errors of an https address and its host.
UploadOutcome describeReply(QNetworkReply::NetworkError error, int httpStatus, bool timedOut, int timeoutMs,
                            const QList<QSslError::SslError> &sslErrors, const QString &host);

// Words for an HTTP status ("服务器内部错误" for 500); empty for 2xx.
QString httpStatusText(int status);

// Posts |body| to |url|. The reply aborts itself when it has not finished
// after |timeoutMs| and remembers the time-out and any certificate errors
// for replyOutcome.
QNetworkReply *postUpload(QNetworkAccessManager &network, const QUrl &url, const QByteArray &body,
                          int timeoutMs);
// How a finished reply of postUpload ended.
UploadOutcome replyOutcome(QNetworkReply *reply);

// Operator texts of one upload; |subject| names what is sent
// ("体成分数据（测试编号 23）").
QString uploadStartedText(const QString &subject);
QString uploadSucceededText(const QString &subject);
QString uploadFailedText(const QString &subject, const QString &reason);
QString uploadNoRecordText();

} // namespace exchange
