// Query texts and column headers of the two result lists (body composition
// and fitness); the main window's fitness page uses the fitness list too.
#pragma once

#include <QSqlQueryModel>
#include <QString>
#include <QStringList>

// A read-only list model whose sex column (if any) shows 男/女; every other
// role, and the edit role the dialogs' mappers read, keeps the stored value.
class ResultListModel : public QSqlQueryModel
{
    Q_OBJECT

public:
    explicit ResultListModel(int sexColumn, QObject *parent = nullptr);
    // -1: no sex column. Takes effect with the next query.
    void setSexColumn(int column) { m_sexColumn = column; }
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

private:
    int m_sexColumn;
};

namespace resultlists {
// Column set of the body-composition list (44 columns, column 1 is TestID).
QString resultColumns();
// Column set of the fitness list (16 columns, column 1 is TestID).
QString fitColumns();

// "SELECT <columns> FROM Result order by TestID desc"
QString resultListQuery();
// "SELECT <columns> FROM ResultFIT order by TestID desc"
QString fitListQuery();

// Name searches over the same column sets: one bound value, the LIKE pattern
// of namesearch::prefixPattern() (backslash escapes the wildcards).
QString resultSearchQuery();
QString fitSearchQuery();

// Translated headers, in column order (44 and 16 texts).
QStringList resultHeaders();
QStringList fitHeaders();

// Put the headers back on |model| after its query was replaced.
void applyResultHeaders(QSqlQueryModel *model);
void applyFitHeaders(QSqlQueryModel *model);
} // namespace resultlists

// Set the list query and the translated headers on |model|.
void initializeModelResult(QSqlQueryModel *model);
void initilizeModelFitResult(QSqlQueryModel *model);
