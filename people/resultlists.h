// Widget-free operations of the result list dialogs: name searches with a
// bound pattern, reading test numbers from a selection, and deleting the
// chosen tests of either result table in one transaction.
#pragma once

#include <QList>
#include <QModelIndexList>
#include <QString>

#include "people/namesearch.h"

class QSqlQueryModel;

namespace resultlists {
enum class ResultTable { BodyComposition, Fitness };

// "Result" or "ResultFIT".
QString tableName(ResultTable table);

// The one name pattern of every search.
using namesearch::prefixPattern;

// Which rows a list shows: a null |uid| means everyone's results, a
// non-null one only the results stored under that user number; a null
// |namePrefix| means no name search.
struct ResultFilter
{
    QString uid;
    QString namePrefix;
};

// Sets |model| to the rows of |table| that |filter| selects, newest first,
// in the column set and with the headers of that table's list; the user
// number and the name pattern are bound. The query stays lazy: the model
// fetches rows as the view needs them. Logs the SQL text. Returns false
// when the query failed (the model then shows no rows).
bool selectResults(QSqlQueryModel *model, ResultTable table, const ResultFilter &filter);

// selectResults with a name search over everyone's results.
bool searchByName(QSqlQueryModel *model, ResultTable table, const QString &text);

// A test number typed or mapped into a field: base 10, 0 when it is no number.
int testIdFromText(const QString &text);

// Test numbers of the selected rows: the values of the column-1 indexes.
QList<int> selectedTestIds(const QModelIndexList &indexes);

struct DeleteOutcome
{
    QList<int> deleted;
    QList<int> failed;
    QString error; // text of the last database error, empty when none
};

// Deletes every test number of |testIds| from |table| in one transaction;
// a statement that fails leaves its row and the others still go. When the
// commit fails, nothing is deleted and every number is reported failed.
DeleteOutcome deleteTests(ResultTable table, const QList<int> &testIds);
} // namespace resultlists
