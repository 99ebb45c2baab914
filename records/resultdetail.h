// The values of one stored measurement as the body-composition page shows
// them: 24 texts, each with its cell in the 6 x 8 detail table.
#pragma once

#include <QString>
#include <QVector>

namespace resultdetail {
struct Cell
{
    int row = 0;
    int column = 0;
    QString text;
};

struct Detail
{
    bool ok = false; // false when the query failed; cells is then empty
    int testId = 0;  // the record shown; 0 when none matched
    QString error;
    QVector<Cell> cells; // all 24 values; empty texts and "0.0" when no row matched
};

// Test number 0 stands for the newest stored measurement (highest TestID).
Detail loadDetail(int testId);
} // namespace resultdetail
