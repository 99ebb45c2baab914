// One report page, painted in page units on any QPainter: the preview widget,
// the printer and the PDF writer all call paintReportPage, so a printed or
// saved page is exactly what the preview shows.
#pragma once

#include <QRect>
#include <QString>

class QPainter;

namespace reports {

constexpr int PageWidth = 960;
constexpr int PageHeight = 1358;

// Paints the report of test |testId| (0: the newest record) in the style
// |sheetTag| ("FITreport" selects the fitness report) on |painter|, whose
// window must already be the 960 x 1358 page.
void paintReportPage(QPainter &painter, const QString &sheetTag, int testId);

// Body-composition report of one sheet style (reports/bcareport.cpp).
void paintBodyCompositionPage(QPainter &painter, const QString &sheetTag, int testId);
// Fitness assessment report (reports/fitnessreport.cpp).
void paintFitnessPage(QPainter &painter, int testId);

// Sets the painter's window to the page and its viewport to the largest
// rectangle of the page's aspect ratio inside |deviceRect|, centred.
void fitPageToRect(QPainter &painter, const QRect &deviceRect);

} // namespace reports
