// Overlay printing: only the values of a body-composition record, each at the
// position its Print row gives, for pre-printed sheets (and, over the custom
// sheet's picture, the custom report page).
#pragma once

#include "reports/layout.h"

#include <QList>

class QPainter;
class QPrinter;

namespace reports {

// Draws every item of |layout| for |rec| on |painter| (page units), in
// drawing order, with the extras of the style |tag|.
void paintOverlayItems(QPainter &painter, const PrintLayout &layout, const BcaRecord &rec,
                       const QString &tag);

// Prints one page per element of |testIds| (0: |currentTestId|) on |printer|,
// the 960 x 1358 page fitted into the printable area as the picture printer
// does, so a Print row means the same place whatever the device resolution.
// Returns the number of pages printed (0 when the painter could not start).
int printOverlayPages(QPrinter &printer, const QString &tag, const QList<int> &testIds, int currentTestId);

} // namespace reports
