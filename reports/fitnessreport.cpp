// Fitness assessment report page: header, results grid, radar chart of the
// ability levels, ability bars and training advice over the printed form.
// Positions are page units (960 x 1358) and text baselines.
#include "reports/fitnessreport.h"
#include "app/dbtarget.h"
#include "reports/fitnessscore.h"
#include "reports/layout.h"
#include "reports/reportpage.h"
#include "reports/sheetforms.h"

#include <QDate>
#include <QDebug>
#include <QPainter>
#include <QPainterPath>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <QtMath>

#include <functional>

namespace reports {

namespace {

// Report text font; sizes are page-unit pixels (points x 96 / 72) so the page
// looks the same on screen, paper and PDF at any resolution.
QFont fitFont(int points)
{
    return reportFont(pointsToPixels(points));
}

QString numberText(double value)
{
    return QString::number(value, 'g', 6);
}

// One row of the results grid: the test's value, points and grade word.
struct GridRow
{
    FitItem item;
    int valueX, pointsX, gradeX, y;
};
const GridRow kGrid[] = {
    {FitItem::WOLI, 175, 290, 380, 380}, {FitItem::FHL, 175, 290, 380, 430},
    {FitItem::FYS, 175, 290, 380, 480},  {FitItem::BYDJ, 175, 290, 380, 530},
    {FitItem::TZ, 175, 290, 380, 580},   {FitItem::TQQ, 650, 755, 840, 380},
    {FitItem::YWQZ, 650, 755, 840, 430}, {FitItem::FWC, 650, 755, 840, 480},
    {FitItem::ZT, 650, 755, 840, 530},   {FitItem::TY, 650, 755, 840, 580},
};

// The measured value of a test (0: not measured) and its text.
double testValue(const FitnessRecord &r, FitItem item)
{
    switch (item) {
    case FitItem::WOLI:
        return r.woli;
    case FitItem::FHL:
        return r.fhl;
    case FitItem::FYS:
        return r.fys;
    case FitItem::BYDJ:
        return r.bydj;
    case FitItem::TZ:
        return r.tz;
    case FitItem::TQQ:
        return r.tqq;
    case FitItem::YWQZ:
        return r.ywqz;
    case FitItem::FWC:
        return r.fwc;
    case FitItem::ZT:
        return r.zt;
    case FitItem::TY:
        return r.ty;
    default:
        return 0;
    }
}

// Ability bars: x 156, height 8, width from a grade word.
constexpr int kBarX = 156;
constexpr int kBarHeight = 8;
struct BarRow
{
    int y;
    std::function<int(const FitnessRecord &, const FitnessAssessment &)> width;
};
int byGrade(const FitnessAssessment &a, FitItem item)
{
    return barWidthForGrade(a.grade(item).word);
}
const BarRow kBars[] = {
    {712, [](const FitnessRecord &, const FitnessAssessment &a) { return byGrade(a, FitItem::BMI); }},
    {753, [](const FitnessRecord &, const FitnessAssessment &a) { return byGrade(a, FitItem::WOLI); }},
    {794, [](const FitnessRecord &, const FitnessAssessment &a) { return byGrade(a, FitItem::ZT); }},
    {834, [](const FitnessRecord &r,
             const FitnessAssessment &a) { return byGrade(a, r.isMale() ? FitItem::FWC : FitItem::YWQZ); }},
    {874,
     [](const FitnessRecord &, const FitnessAssessment &a) {
         static const int widths[3] = {83, 153, 223};
         return widths[qBound(0, a.axisLevels[AxisCardio], 2)];
     }},
    {914, [](const FitnessRecord &, const FitnessAssessment &a) { return byGrade(a, FitItem::BYDJ); }},
    {954,
     [](const FitnessRecord &r, const FitnessAssessment &a) {
         qDebug() << "FYS=" << r.fys << " FYSgrade=" << a.grade(FitItem::FYS).word;
         return byGrade(a, FitItem::FYS);
     }},
    {994, [](const FitnessRecord &, const FitnessAssessment &a) { return byGrade(a, FitItem::TQQ); }},
};

// Advice lines at x 50.
constexpr int kAdviceX = 50;
bool failed(const FitnessAssessment &a, FitItem item)
{
    return a.grade(item).word == QStringLiteral("不及格");
}
struct AdviceRow
{
    int y;
    std::function<bool(const FitnessAssessment &)> shown;
    const char *text;
};
const AdviceRow kAdvice[] = {
    {1080, [](const FitnessAssessment &) { return true; },
     "每周应进行不少于三次，每次不少于30分钟的有氧运动，如快走、慢跑等。"},
    {1110, [](const FitnessAssessment &a) { return a.bmi > 26; },
     "您的体型较胖,可采用有氧训练与力量训练交替的方式，跑步机、动感单车、体育舞蹈等方式，"},
    {1140, [](const FitnessAssessment &a) { return failed(a, FitItem::WOLI); },
     "上肢力量较弱，应增加力量练习，如举哑铃、拉橡皮带、使用组合力量训练器械等。"},
    {1170, [](const FitnessAssessment &a) { return failed(a, FitItem::ZT); },
     "下肢力量较弱，应增加力量练习，如负重蹬腿、负重蹲起、使用组合力量训练器械等。"},
    {1200, [](const FitnessAssessment &a) { return failed(a, FitItem::FWC); },
     "耐力较弱，应增加小负荷、持久性力量练习，如小哑铃、橡皮带、组合力量训练器械等。"},
    {1230, [](const FitnessAssessment &a) { return failed(a, FitItem::TZ); },
     "心肺功能较弱，应进行较多的有氧训练，推荐使用跑步机、游泳等方式。"},
    {1260, [](const FitnessAssessment &a) { return failed(a, FitItem::TQQ); },
     "柔韧性较差，应进行适当伸展性练习，如压腿、体操、瑜伽等，使用社区健身路径也是不错的方式。"},
};

// Radar chart.
const QPointF kRadarCentre(740, 835);
// Left edge of the radar's frame on the form, plus a small margin.
constexpr int kRadarFrameLeft = 557;

const char *const kAxisLabels[AxisCount] = {"身体形态", "上肢力量", "下肢力量", "耐力",
                                            "心肺功能", "平衡能力", "反应速度", "柔韧性"};
const char *const kLevelNames[3] = {"较差", "一般", "优秀"};
const QColor kRadarColour(0, 122, 204); // polygon outline (darkened) and points
// The polygon's fill: the colour lightened (150) at 59 % over white; the grid
// where it crosses the fill: light grey under that tint.
const QColor kRadarFill(135, 194, 255);
const QColor kRadarGridOnFill(109, 168, 229);

void paintRadar(QPainter &painter, const FitnessAssessment &a)
{
    qDebug() << "NAILIRadar=" << a.axisLevels[AxisEndurance] << " LUNGRader=" << a.axisLevels[AxisCardio];
    const double cx = kRadarCentre.x();
    const double cy = kRadarCentre.y();

    painter.save();
    painter.setPen(QPen(Qt::lightGray, 2));
    painter.setBrush(Qt::NoBrush);
    for (int d : {100, 200, 300})
        painter.drawEllipse(kRadarCentre, d / 2.0, d / 2.0);
    for (int i = 0; i < AxisCount; ++i) {
        const double angle = qDegreesToRadians(i * 45.0);
        painter.drawLine(kRadarCentre, QPointF(cx - 150 * qSin(angle), cy - 150 * qCos(angle)));
    }

    painter.setFont(fitFont(10));
    painter.setPen(Qt::black);
    // Axis labels around the outer ring: left and upper ones move up and
    // left so that they clear the ring, lower right ones move down.
    for (int i = 0; i < AxisCount; ++i) {
        const double p = qSin(qDegreesToRadians(i * 45.0));
        const double q = qCos(qDegreesToRadians(i * 45.0));
        const int d = qRound(10 * p + 160);
        int x = qRound(cx - p * d);
        int y = qRound(cy - q * d);
        if (x < 741 || y < 836) {
            y = qRound(y + 10 * p);
            if (x < 740)
                x -= 10;
        } else {
            y = qRound(y - 10 * p);
        }
        const QString label = QString::fromUtf8(kAxisLabels[i]);
        // Labels on the left half end at their point instead of starting there.
        const QFontMetrics metrics = painter.fontMetrics();
        if (x < cx - 1) {
            x -= metrics.horizontalAdvance(label);
            // The radar's frame starts at 553: a label that would leave it
            // starts at the frame instead and sits just above its spoke.
            if (x < kRadarFrameLeft) {
                x = kRadarFrameLeft;
                y = qMin(y, qRound(cy - 4));
            }
        } else if (qAbs(x - cx) <= 1) {
            x -= metrics.horizontalAdvance(label) / 2;
            if (y > cy) // the bottom label hangs below the outer ring
                y += metrics.ascent() / 2;
        }
        painter.drawText(QPoint(x, y), label);
    }

    QPainterPath path;
    QVector<QPointF> points;
    for (int i = 0; i < AxisCount; ++i) {
        const double r = 50.0 * (qBound(0, a.axisLevels[size_t(i)], 2) + 1);
        const double angle = qDegreesToRadians(i * 45.0);
        points << QPointF(cx - r * qSin(angle), cy - r * qCos(angle));
    }
    path.addPolygon(QPolygonF(points));
    path.closeSubpath();
    // Opaque fill (a light tint, as a translucent one would look on white),
    // then the grid again over it, then the outline: a page without
    // transparency stays vectors in a print queue.
    painter.setPen(Qt::NoPen);
    painter.setBrush(QBrush(kRadarFill, Qt::SolidPattern));
    painter.drawPath(path);
    painter.setPen(QPen(kRadarGridOnFill, 2));
    painter.setBrush(Qt::NoBrush);
    painter.save();
    painter.setClipPath(path);
    for (int d : {100, 200, 300})
        painter.drawEllipse(kRadarCentre, d / 2.0, d / 2.0);
    for (int i = 0; i < AxisCount; ++i) {
        const double angle = qDegreesToRadians(i * 45.0);
        painter.drawLine(kRadarCentre, QPointF(cx - 150 * qSin(angle), cy - 150 * qCos(angle)));
    }
    painter.restore();
    painter.setPen(QPen(kRadarColour.darker(150), 2.5));
    painter.drawPath(path);
    painter.setPen(Qt::NoPen);
    painter.setBrush(kRadarColour.darker(200));
    for (const QPointF &pt : qAsConst(points))
        painter.drawEllipse(pt, 3.0, 3.0);

    // Level names on top of the polygon, just right of the upward spoke, on a
    // light backing so that the polygon's outline does not run through them.
    const QFontMetrics metrics = painter.fontMetrics();
    for (int i = 0; i < 3; ++i) {
        const QString name = QString::fromUtf8(kLevelNames[i]);
        const int rise = 200 * (i + 1) / 6; // in whole page units
        const QPointF origin(cx + 4, cy - rise - 30);
        const QRectF box(origin.x() - 1, origin.y() - metrics.ascent(), metrics.horizontalAdvance(name) + 2,
                         metrics.ascent() + metrics.descent());
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(232, 242, 250));
        painter.drawRect(box);
        painter.setPen(QColor(60, 60, 60));
        painter.drawText(origin, name);
    }
    painter.restore();
}

} // namespace

std::optional<FitnessRecord> loadFitnessRecord(int testId)
{
    QSqlQuery q;
    if (testId != 0) {
        q.prepare(dbSql(QStringLiteral("SELECT * FROM ResultFIT WHERE TestID = ?")));
        q.addBindValue(testId);
    } else {
        q.prepare(dbSql(QStringLiteral("SELECT * FROM ResultFIT ORDER BY TestID DESC LIMIT 1")));
    }
    if (!q.exec()) {
        qDebug() << "ResultFIT query failed:" << q.lastError();
        return std::nullopt;
    }
    if (!q.next())
        return std::nullopt;
    if (testId == 0)
        qDebug() << "lastRow: " << q.value(QStringLiteral("TestID")).toInt();
    FitnessRecord r;
    auto text = [&q](const char *column) { return q.value(QLatin1String(column)).toString(); };
    auto real = [&q](const char *column) { return q.value(QLatin1String(column)).toDouble(); };
    auto whole = [&q](const char *column) { return q.value(QLatin1String(column)).toInt(); };
    r.uid = text("UID");
    r.name = text("Name");
    r.sex = text("Sex").trimmed();
    r.birthYear = whole("BirthYear");
    r.testDate = text("TestDate");
    r.height = real("Height");
    r.weight = real("Weight");
    r.woli = real("WOLI");
    r.fhl = whole("FHL");
    r.tqq = real("TQQ");
    r.tz = real("TZ");
    r.ywqz = whole("YWQZ");
    r.fys = whole("FYS");
    r.fwc = whole("FWC");
    r.bydj = real("BYDJ");
    r.zt = real("ZT");
    r.ty = real("TY");
    return r;
}

void paintFitnessRecord(QPainter &painter, const FitnessRecord &r)
{
    // An unknown age grades only what needs no age group.
    const std::optional<int> age = ageAtTest(r.birthYear, r.testDate, QDate::currentDate().year());
    const FitnessAssessment a = assessFitness(r, age.value_or(-1));

    painter.save();
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setPen(Qt::black);
    painter.setFont(fitFont(14));

    // Header.
    drawFittedText(painter, QPointF(130, 192), r.uid + QLatin1Char('/') + r.name, idNameWidth);
    if (r.isMale()) {
        qDebug() << "Pring Male positon";
        painter.drawText(QPoint(442, 192), QStringLiteral("√"));
    } else {
        qDebug() << "Pring Female positon";
        painter.drawText(QPoint(516, 192), QStringLiteral("√"));
    }
    painter.drawText(QPoint(740, 192), r.testDate);
    // A missing birth year, height or weight leaves its box blank; the
    // grading still reads them as stored.
    painter.drawText(QPoint(107, 235), age ? QString::number(*age) : QString());
    painter.drawText(QPoint(216, 235), formatMeasured(r.height));
    painter.drawText(QPoint(445, 235), formatMeasured(r.weight));
    painter.drawText(QPoint(810, 235), QString::number(a.total));

    // Results grid: a test not measured (value 0) is left out.
    for (const GridRow &row : kGrid) {
        const double value = testValue(r, row.item);
        if (value == 0)
            continue;
        const FitnessGrade &g = a.grade(row.item);
        painter.drawText(QPoint(row.valueX, row.y), numberText(value));
        painter.drawText(QPoint(row.pointsX, row.y), QString::number(g.points));
        painter.drawText(QPoint(row.gradeX, row.y), g.word);
    }

    paintRadar(painter, a);

    painter.setPen(Qt::NoPen);
    painter.setBrush(QBrush(Qt::black, Qt::SolidPattern));
    for (const BarRow &bar : kBars)
        painter.drawRect(kBarX, bar.y, std::max(bar.width(r, a), 10), kBarHeight);

    painter.setPen(Qt::black);
    painter.setFont(fitFont(14));
    for (const AdviceRow &advice : kAdvice) {
        if (advice.shown(a))
            painter.drawText(QPoint(kAdviceX, advice.y), QString::fromUtf8(advice.text));
    }
    painter.restore();
}

void paintFitnessPage(QPainter &painter, int testId)
{
    paintFormBackground(painter, SheetForm::Fitness, QStringLiteral(":/image/Adult-report.jpg"));
    const std::optional<FitnessRecord> record = loadFitnessRecord(testId);
    if (!record) {
        qDebug() << "no ResultFIT record for testID" << testId;
        return;
    }
    paintFitnessRecord(painter, *record);
}

} // namespace reports
