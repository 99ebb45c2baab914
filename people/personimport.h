// Import of people from a comma-separated file: encoding detection and the
// refusal of files that are not text, CSV records with the user-number and
// sex conversions and the checks of year, height and user number, the insert
// of every valid record into Person in one transaction, and the operator's
// summary of it.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include "people/csvreader.h"

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

// Whether |bytes| are text an import can read: no NUL byte, valid in the
// detected encoding, and no control characters other than tab, line feed,
// carriage return and form feed.
bool isText(const QByteArray &bytes);

// Lines of |text|, ended by "\r\n", "\n" or "\r"; the end of the last line
// does not start another one.
QStringList splitLines(const QString &text);

// User number: one leading 'N' or 'n' is removed ("N0012" -> "0012", "NN7" -> "N7").
QString convertUid(const QString &field);
// Sex: "1" for 男/1/M/male, "2" for 女/2/F/female (letters in any case);
// empty for any other text, which refuses the line.
QString convertSex(const QString &field);

// Why a data record was not stored.
enum class SkipReason {
    Incomplete,        // fewer than six fields, or all six blank
    MissingUid,        // no user number
    MissingName,       // no name
    BadSex,            // a sex word that is none of the accepted ones
    BadBirthYear,      // not a four-digit year from 1900 to this year
    BadHeight,         // not a number from 50 to 250 (cm)
    AlreadyRegistered, // the user number is in Person already or earlier in the file
    InsertFailed,      // the database refused the row
};
QString reasonText(SkipReason reason);

struct Skipped
{
    int line = 0; // 1-based file line on which the record starts
    SkipReason reason = SkipReason::Incomplete;
    QString detail; // AlreadyRegistered: who holds the user number
};

struct PersonRow
{
    QString uuid;
    QString uid;
    QString name;
    QString sex;
    QString birthYear;
    QString height;
};

// The person of one data record: every field trimmed, fields beyond the
// sixth ignored, user number and sex converted. Empty (with |reason| set)
// when the record is incomplete or its user number, name, birth year or
// height is not acceptable; |currentYear| bounds the birth year.
std::optional<PersonRow> parseFields(const QStringList &fields, SkipReason *reason = nullptr,
                                     int currentYear = 0);
// parseFields of the first CSV record of |line|.
std::optional<PersonRow> parseLine(const QString &line);

// Whether a first line looks like a person rather than a header: its fifth
// field is a plausible birth year.
bool looksLikeData(const QStringList &fields, int currentYear = 0);

// "INSERT INTO Person (UUID, UID, Name, Sex, BirthYear, Height)VALUES (?, ?, ?, ?, ?, ?)"
QString insertStatement();

struct ImportResult
{
    bool opened = false;  // the file could be read
    QString fileError;    // why it could not
    bool notText = false; // refused as a whole: the file is not text
    TextEncoding encoding = TextEncoding::Utf8;
    int lineCount = 0;                // records in the file, header included
    int imported = 0;                 // people stored (after the commit)
    QList<Skipped> skipped;           // data records not stored, in file order
    bool headerLooksLikeData = false; // the skipped first line held a year in field 5
    QString insertError;              // database error of the last failed insert
    bool cancelled = false;
    int stoppedAtLine = 0; // cancelled: first file line not looked at
    bool commitFailed = false;
    QString commitError;
};

// Called every few lines and once at the end with the number of lines
// looked at and the number of lines of the file; returning false stops the
// import before the next line (the lines done so far are kept).
using Progress = std::function<bool(int done, int total)>;

// Inserts one Person row per valid data record of |records| (the first is
// the header and is skipped) on the default connection, in one transaction.
ImportResult importRecords(const QList<csv::Record> &records, const Progress &progress = {});

// The records of the file |path|, read in its detected encoding; empty when
// the file cannot be read or is not text (|error| then says why, |notText|
// tells the second case apart).
std::optional<QList<csv::Record>> readRecords(const QString &path, TextEncoding *encoding = nullptr,
                                              QString *error = nullptr, bool *notText = nullptr);
// The lines of the file |path| as text (no CSV quoting), for tools that
// look at single lines; empty when the file cannot be read or is not text.
std::optional<QStringList> readLines(const QString &path);

// Reads |path| (detecting its encoding) and imports its records.
ImportResult importFile(const QString &path, const Progress &progress = {});

// Text of the box that closes an import; |information| is true only when at
// least one person was imported and nothing was skipped, failed, left out or
// doubtful.
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
