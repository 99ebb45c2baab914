// Query texts and column headers of the two result lists (body composition
// and fitness); the main window's fitness page uses the fitness list too.
#pragma once

#include <QString>

class QSqlQueryModel;

namespace resultlists {
// Column set of the body-composition list (44 columns, column 1 is TestID).
QString resultColumns();
// Column set of the fitness list (16 columns, column 1 is TestID).
QString fitColumns();

// "SELECT <columns> FROM Result order by TestID desc"
QString resultListQuery();
// "SELECT <columns> FROM ResultFIT order by TestID desc"
QString fitListQuery();
} // namespace resultlists

// Set the list query and the translated headers on |model|.
void initializeModelResult(QSqlQueryModel *model);
void initilizeModelFitResult(QSqlQueryModel *model);
