// Helpers of the person registry's table model: the prefix search on the
// name, escaped so that typed quotes and wildcards stand for themselves, and
// finding a person's row again after the model was reselected.
#pragma once

#include <QString>

class QSqlTableModel;

namespace personsearch {
// The text as a LIKE pattern that matches every name beginning with it:
// '\', '%' and '_' are escaped with '\', and '%' is appended.
QString prefixPattern(const QString &text);

// The filter for the person model: "Name like '<pattern>' ESCAPE '\'", the
// pattern as an SQL literal (single quotes doubled, NUL characters dropped),
// so that no typed text can end the literal.
QString nameFilter(const QString &text);

// Row of the person with key |id| in |model| (fetching further rows as
// needed), or -1.
int rowOfId(QSqlTableModel *model, int id);
} // namespace personsearch
