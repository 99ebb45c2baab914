// Overlay printing: only the values of a body-composition record, each at the
// position its Print row gives, for pre-printed sheets (and, over the custom
// sheet's picture, the custom report page).
#pragma once

#include "reports/layout.h"

#include <QList>
#include <QRect>

#include <optional>

class QPainter;
class QPrinter;

namespace reports {

// Draws every item of |layout| for |rec| on |painter| (page units), in
// drawing order, with the extras of the style |tag|.
void paintOverlayItems(QPainter &painter, const PrintLayout &layout, const BcaRecord &rec,
                       const QString &tag);

// Room for the user number and name of an overlay: up to |idNameGap| units
// before the nearest item to its right on its line (that item's caption
// stands in the gap); none when no item follows on the line.
inline constexpr int idNameGap = 110;
std::optional<double> idNameRoom(const PrintLayout &layout);

// Where the 960 x 1358 page goes in |printer|'s painter coordinates: the
// whole sheet of paper, not the printable area, so every value lands at the
// paper position of its Print row whatever the printer's margins (values in
// the unprintable margin are still drawn; the printer clips them).
QRect overlayPaperRect(const QPrinter &printer);

// Prints one page per element of |testIds| (0: |currentTestId|) on |printer|,
// the 960 x 1358 page mapped onto the whole paper (overlayPaperRect), so a
// Print row means the same place whatever the device's resolution and margins.
// Returns the number of pages printed (0 when the painter could not start).
int printOverlayPages(QPrinter &printer, const QString &tag, const QList<int> &testIds, int currentTestId);

} // namespace reports
