// The rows of the two result exports, read once for every file format: the
// columns (header text and kind of value) and a reader that walks the stored
// results in file order. The CSV writer and the workbook writer both take
// their rows from here.
#pragma once

#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

#include <functional>

namespace exchange {

struct ExportResult
{
    bool ok = false;
    bool cancelled = false;
    QString path;
    int lines = 0; // data rows written (header not counted)
    QString error; // why it failed, for the operator
};

// Called every few hundred rows and at the end with the rows written and
// the rows expected; returning false cancels (no file is left behind).
using ExportProgress = std::function<bool(qint64 done, qint64 total)>;
// How often a writer calls its ExportProgress: every kProgressEvery rows.
constexpr int kProgressEvery = 256;

enum class ExportTable { BodyComposition, Fitness };

// What a column holds: texts stay texts (user numbers, phones, names),
// numbers are measurements, dates are test dates.
enum class CellKind { Text, Number, Date };

struct ExportColumn
{
    QString header;
    CellKind kind;
};

// The file columns of |table|: 68 for body composition, 18 for fitness.
const QVector<ExportColumn> &exportColumns(ExportTable table);
// The header names of exportColumns, in order.
QStringList exportHeaders(ExportTable table);

// Statements of the export, each ending with the result's TestID (NULL for a
// person without results), which is not a file column.
// Every registered person with his results (persons in register order, each
// person's results in test order; a person without results gives one row).
QString bcaPersonStatement();
// Results that belong to no registered person or whose user number starts
// with "BCA" (any case; analyzer-side numbers), in test order.
QString bcaClosingStatement();
QString fitStatement();

// Walks the rows of one export on the default connection.
class ExportRows
{
public:
    explicit ExportRows(ExportTable table);

    ExportTable table() const { return m_table; }
    int columnCount() const { return m_columns; }
    // The rows the export will give (two counting queries; for progress).
    qint64 expectedRows() const;

    // Moves to the next row; false at the end or on a failed query (error()).
    bool next();
    // The file value of |column|; NULL for an empty field.
    QVariant value(int column) const;
    // The row's TestID, 0 for a person without results.
    int testId() const { return m_testId; }
    // Which part of the body-composition file the row belongs to.
    bool inClosingPart() const { return m_part == 1; }

    QString error() const { return m_error; }

private:
    bool start(const QString &sql);

    ExportTable m_table;
    int m_columns;
    QStringList m_statements;
    int m_part = -1;
    QSqlQuery m_query;
    int m_testId = 0;
    QString m_error;
};

} // namespace exchange
