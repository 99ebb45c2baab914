#include "people/personsearch.h"

#include <QSqlRecord>
#include <QSqlTableModel>
#include <QVariant>

namespace personsearch {
QString prefixPattern(const QString &text)
{
    QString pattern;
    pattern.reserve(text.size() + 2);
    for (const QChar c : text) {
        if (c == QLatin1Char('\\') || c == QLatin1Char('%') || c == QLatin1Char('_'))
            pattern += QLatin1Char('\\');
        pattern += c;
    }
    pattern += QLatin1Char('%');
    return pattern;
}

QString nameFilter(const QString &text)
{
    QString literal = prefixPattern(text);
    // SQLite ends the statement text at a NUL character; a literal cut there
    // would leave the filter open.
    literal.remove(QChar(0));
    literal.replace(QLatin1Char('\''), QStringLiteral("''"));
    return QStringLiteral("Name like '") + literal + QStringLiteral("' ESCAPE '\\'");
}

int rowOfId(QSqlTableModel *model, int id)
{
    if (!model)
        return -1;
    const int idColumn = model->fieldIndex(QStringLiteral("ID"));
    if (idColumn < 0)
        return -1;
    int row = 0;
    for (;;) {
        for (; row < model->rowCount(); ++row) {
            if (model->data(model->index(row, idColumn)).toInt() == id)
                return row;
        }
        if (!model->canFetchMore())
            return -1;
        model->fetchMore();
    }
}
} // namespace personsearch
