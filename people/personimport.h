// Import of people from a comma-separated file: encoding detection, line
// parsing with the user-number and sex conversions, the insert of every data
// line into Person in one transaction, and the operator's summary of it.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace personimport {
// How the bytes of an import file are read.
enum class TextEncoding { Utf8, Utf8Bom, Utf16LeBom, Utf16BeBom, Gb18030 };

// A byte-order mark decides; otherwise text that is valid UTF-8 is UTF-8
// (plain ASCII included) and anything else is GB18030, the encoding
// spreadsheet programs on Chinese Windows save CSV in.
TextEncoding detectEncoding(const QByteArray &bytes);
QString encodingName(TextEncoding encoding);

// The text of |bytes| in the detected encoding, without a byte-order mark.
QString decodeText(const QByteArray &bytes, TextEncoding *detected = nullptr);

// Lines of |text|, ended by "\r\n", "\n" or "\r"; the end of the last line
// does not start another one.
QStringList splitLines(const QString &text);

// User number: one leading 'N' or 'n' is removed ("N0012" -> "0012", "NN7" -> "N7").
QString convertUid(const QString &field);
// Sex: exactly "男" is "1", every other text "2".
QString convertSex(const QString &field);

struct PersonRow
{
    QString uuid;
    QString uid;
    QString name;
    QString sex;
    QString birthYear;
    QString height;
};

// The person of one data line (fields split at ',', not trimmed, fields
// beyond the sixth ignored). Empty when the line has fewer than six fields
// or when all six are blank (an empty spreadsheet row).
std::optional<PersonRow> parseLine(const QString &line);

// "INSERT INTO Person (UUID, UID, Name, Sex, BirthYear, Height)VALUES (?, ?, ?, ?, ?, ?)"
QString insertStatement();

struct ImportResult
{
    bool opened = false; // the file could be read
    QString fileError;   // why it could not
    TextEncoding encoding = TextEncoding::Utf8;
    int lineCount = 0;       // lines in the file, header included
    int imported = 0;        // people stored (after the commit)
    QList<int> skippedLines; // 1-based file lines with fewer than six fields or empty
    QList<int> failedLines;  // 1-based file lines whose insert failed
    QString insertError;     // database error of the last failed insert
    bool cancelled = false;
    int stoppedAtLine = 0; // cancelled: first file line not looked at
    bool commitFailed = false;
    QString commitError;
};

// Called every few lines and once at the end with the number of lines
// looked at and the number of lines of the file; returning false stops the
// import before the next line (the lines done so far are kept).
using Progress = std::function<bool(int done, int total)>;

// Inserts one Person row per data line of |lines| (line 0 is the header and
// is skipped) on the default connection, in one transaction.
ImportResult importLines(const QStringList &lines, const Progress &progress = {});

// The lines of the file |path|, read in its detected encoding; empty when
// the file cannot be read (|error| then says why).
std::optional<QStringList> readLines(const QString &path, TextEncoding *encoding = nullptr,
                                     QString *error = nullptr);

// Reads |path| (detecting its encoding) and imports its lines.
ImportResult importFile(const QString &path, const Progress &progress = {});

// Text of the box that closes an import; |information| is true only when at
// least one person was imported and no line was skipped, failed or left out.
struct Summary
{
    bool information = false;
    QString title;
    QString text;
};
Summary summarize(const ImportResult &result);

// "3、7、9" for the first |limit| numbers, with "等" when there are more.
QString lineList(const QList<int> &lines, int limit = 5);
} // namespace personimport
