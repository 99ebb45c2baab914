#include "reports/historypage.h"

#include "app/database.h"
#include "app/dbtarget.h"
#include "app/globals.h"
#include "exchange/commandline.h"
#include "reports/historyplot.h"
#include "reports/reportpage.h"
#include "reports/reportprint.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDate>
#include <QDebug>
#include <QFileInfo>
#include <QPainter>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTextCodec>
#include <QTextStream>
#include <QVariant>

#include <cstring>

namespace history {

namespace {

constexpr double kLeft = 40;
constexpr double kWidth = 880;
const QColor kGrey(110, 110, 110);
const QColor kRule(170, 170, 170);
const QColor kHeaderFill(238, 242, 248);

QFont pageFont(int pixels, bool bold = false)
{
    QFont font(QStringLiteral("WenQuanYi Micro Hei"));
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

QString dayText(const QDateTime &when, const QString &fallback)
{
    return when.isValid() ? when.date().toString(QStringLiteral("yyyy-MM-dd")) : fallback;
}

QString sexText(const QString &sex)
{
    if (sex == QLatin1String("1"))
        return QObject::tr("男");
    if (sex == QLatin1String("2"))
        return QObject::tr("女");
    return sex.isEmpty() ? QStringLiteral("—") : sex;
}

// "3 次（2023-01-05 至 2024-02-10）" for the dates of a series, oldest first.
QString spanText(const QStringList &dates)
{
    if (dates.isEmpty())
        return QObject::tr("0 次");
    if (dates.size() == 1)
        return QObject::tr("1 次（%1）").arg(dates.first());
    return QObject::tr("%1 次（%2 至 %3）").arg(dates.size()).arg(dates.first(), dates.last());
}

void drawCaption(QPainter &p, double y, const QString &text)
{
    p.setFont(pageFont(16, true));
    p.setPen(Qt::black);
    p.drawText(QPointF(kLeft, y), text);
}

void drawHeader(QPainter &p, const PersonHistory &h, const QString &unitName)
{
    p.setPen(Qt::black);
    p.setFont(pageFont(30, true));
    p.drawText(QRectF(0, 30, reports::PageWidth, 50), Qt::AlignCenter, QObject::tr("个人历史报告"));

    p.setFont(pageFont(13));
    p.setPen(kGrey);
    if (!unitName.isEmpty())
        p.drawText(QPointF(kLeft, 104), QObject::tr("单位：%1").arg(unitName));
    p.drawText(QRectF(kLeft, 90, kWidth, 18), Qt::AlignRight | Qt::AlignVCenter,
               QObject::tr("打印日期：%1").arg(QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"))));

    const QRectF box(kLeft, 114, kWidth, 80);
    p.setPen(QPen(kRule, 1));
    p.setBrush(kHeaderFill);
    p.drawRect(box);
    p.setBrush(Qt::NoBrush);
    p.setPen(Qt::black);
    p.setFont(pageFont(15));
    const PersonInfo &who = h.person;
    const QString height =
        who.height > 0 ? QObject::tr("%1 cm").arg(who.height, 0, 'g', 4) : QStringLiteral("—");
    const QString birth = who.birthYear > 0 ? QString::number(who.birthYear) : QStringLiteral("—");
    p.drawText(QPointF(kLeft + 16, 145),
               QObject::tr("姓名：%1      用户编号：%2      性别：%3      出生年份：%4      身高：%5")
                   .arg(who.name, who.uid, sexText(who.sex), birth, height));
    QStringList bcaDates;
    for (const BcaTest &t : h.bca)
        bcaDates << dayText(t.when, t.dateText);
    QStringList fitDates;
    for (const FitnessTest &t : h.fitness)
        fitDates << dayText(t.when, t.record.testDate);
    const QString bca = spanText(bcaDates);
    const QString fit = spanText(fitDates);
    p.drawText(QPointF(kLeft + 16, 178), QObject::tr("体成分测试：%1      体质测试：%2").arg(bca, fit));
}

// A table cell's text: the value in black, then the change in its verdict colour.
void drawValueCell(QPainter &p, const QRectF &cell, const QString &value, const Change &change)
{
    p.setPen(Qt::black);
    const QFontMetricsF metrics(p.font());
    const double valueWidth = metrics.horizontalAdvance(value);
    const QString delta = change.valid ? QStringLiteral(" (%1)").arg(formatChange(change)) : QString();
    const double total = valueWidth + metrics.horizontalAdvance(delta);
    const double x = cell.center().x() - total / 2;
    const double baseline = cell.center().y() + (metrics.ascent() - metrics.descent()) / 2;
    p.drawText(QPointF(x, baseline), value);
    if (!delta.isEmpty()) {
        p.setPen(verdictColour(change.verdict));
        p.drawText(QPointF(x + valueWidth, baseline), delta);
    }
}

void drawTableFrame(QPainter &p, double top, const QVector<double> &widths, int rows, double headerHeight,
                    double rowHeight)
{
    const double bottom = top + headerHeight + rows * rowHeight;
    p.setPen(Qt::NoPen);
    p.setBrush(kHeaderFill);
    p.drawRect(QRectF(kLeft, top, kWidth, headerHeight));
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(kRule, 1));
    p.drawRect(QRectF(kLeft, top, kWidth, bottom - top));
    for (int r = 0; r <= rows; ++r) {
        const double y = top + headerHeight + r * rowHeight;
        p.drawLine(QPointF(kLeft, y), QPointF(kLeft + kWidth, y));
    }
    double x = kLeft;
    for (int c = 0; c + 1 < widths.size(); ++c) {
        x += widths[c];
        p.drawLine(QPointF(x, top), QPointF(x, bottom));
    }
}

void drawHeaderRow(QPainter &p, double top, double height, const QVector<double> &widths,
                   const QStringList &texts)
{
    p.setPen(Qt::black);
    double x = kLeft;
    for (int c = 0; c < widths.size(); ++c) {
        p.drawText(QRectF(x, top, widths[c], height), Qt::AlignCenter, texts.value(c));
        x += widths[c];
    }
}

void drawBcaTable(QPainter &p, double top, const PersonHistory &h)
{
    const QVector<double> widths = {150, 150, 150, 150, 130, 150};
    constexpr double headerHeight = 32;
    constexpr double rowHeight = 36;
    const int first = std::max(0, h.bca.size() - kPageTableRows);
    const int rows = h.bca.size() - first;
    drawTableFrame(p, top, widths, rows, headerHeight, rowHeight);
    p.setFont(pageFont(14, true));
    QStringList headers{QObject::tr("测试日期")};
    for (Measure m : kMeasures)
        headers << measureTitle(m);
    headers << QObject::tr("体型");
    drawHeaderRow(p, top, headerHeight, widths, headers);

    p.setFont(pageFont(14));
    for (int i = 0; i < rows; ++i) {
        const BcaTest &t = h.bca[first + i];
        const double y = top + headerHeight + i * rowHeight;
        double x = kLeft;
        p.setPen(Qt::black);
        p.drawText(QRectF(x, y, widths[0], rowHeight), Qt::AlignCenter, dayText(t.when, t.dateText));
        x += widths[0];
        for (int k = 0; k < MeasureCount; ++k) {
            drawValueCell(p, QRectF(x, y, widths[k + 1], rowHeight), formatMeasure(t.values[size_t(k)]),
                          t.sincePrevious[size_t(k)]);
            x += widths[k + 1];
        }
        p.setPen(Qt::black);
        p.drawText(QRectF(x, y, widths[5], rowHeight), Qt::AlignCenter, t.bodyType);
    }
}

void drawFitnessTable(QPainter &p, double top, const PersonHistory &h)
{
    QVector<double> widths = {110, 60};
    QStringList headers{QObject::tr("测试日期"), QObject::tr("总分")};
    for (const FitnessColumn &c : kFitnessColumns) {
        if (c.item == reports::FitItem::BMI)
            continue;
        widths << 71;
        headers << QString::fromUtf8(c.caption).section(QLatin1Char('('), 0, 0);
    }
    constexpr double headerHeight = 32;
    constexpr double rowHeight = 36;
    const int first = std::max(0, h.fitness.size() - kPageTableRows);
    const int rows = h.fitness.size() - first;
    drawTableFrame(p, top, widths, rows, headerHeight, rowHeight);
    p.setFont(pageFont(12, true));
    drawHeaderRow(p, top, headerHeight, widths, headers);
    p.setFont(pageFont(11));
    for (int i = 0; i < rows; ++i) {
        const FitnessTest &t = h.fitness[first + i];
        QStringList cells{dayText(t.when, t.record.testDate), QString::number(t.assessment.total)};
        for (const FitnessColumn &c : kFitnessColumns) {
            if (c.item != reports::FitItem::BMI)
                cells << fitnessCell(t, c.item);
        }
        drawHeaderRow(p, top + headerHeight + i * rowHeight, rowHeight, widths, cells);
    }
}

} // namespace

void paintHistoryPage(QPainter &painter, const PersonHistory &h, const QString &unitName)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.fillRect(QRectF(0, 0, reports::PageWidth, reports::PageHeight), Qt::white);
    drawHeader(painter, h, unitName);

    if (h.isEmpty()) {
        painter.setFont(pageFont(18));
        painter.setPen(Qt::black);
        painter.drawText(QRectF(0, 260, reports::PageWidth, 40), Qt::AlignCenter,
                         QObject::tr("该人员还没有体成分或体质测试记录。"));
        painter.restore();
        return;
    }

    drawCaption(painter, 224, QObject::tr("体成分趋势（浅绿色区域为该人员的正常范围）"));
    const double chartW = 435;
    const double chartH = 236;
    for (int k = 0; k < MeasureCount; ++k) {
        const int row = k / 2; // two charts a row
        const QRectF rect(kLeft + (k % 2) * (chartW + 10), 234 + row * (chartH + 6), chartW, chartH);
        renderPlot(painter, rect, bcaPlotSpec(h, kMeasures[size_t(k)]));
    }
    drawCaption(painter, 744, QObject::tr("体质测试总分趋势（满分110分）"));
    renderPlot(painter, QRectF(kLeft, 754, kWidth, 206), totalScorePlotSpec(h));

    if (!h.bca.isEmpty()) {
        drawCaption(painter, 994,
                    QObject::tr("最近%1次体成分测试（括号内为较上次的变化：绿色向好，红色需注意）")
                        .arg(kPageTableRows));
        drawBcaTable(painter, 1004, h);
    } else {
        drawCaption(painter, 994,
                    QObject::tr("最近%1次体质测试（评分按每次测试时的年龄组）").arg(kPageTableRows));
        drawFitnessTable(painter, 1004, h);
    }
    painter.setFont(pageFont(11));
    painter.setPen(kGrey);
    painter.drawText(QPointF(kLeft, 1346),
                     QObject::tr("正常范围：体重、骨骼肌按性别与身高，体脂率按性别，内脏脂肪指数为1-9。"));
    painter.restore();
}

QString readUnitName()
{
    QSqlQuery q;
    if (q.exec(dbSql(QStringLiteral("SELECT UnitName FROM Unit"))) && q.next())
        return q.value(0).toString();
    return QString();
}

QString historyTitle(const PersonInfo &person)
{
    return QObject::tr("个人历史报告 %1 %2").arg(person.uid, person.name);
}

QString historyFileName(const PersonInfo &person)
{
    static const QRegularExpression unsafe(QStringLiteral("[\\\\/:*?\"<>|\\x00-\\x1f\\x7f\\s]"));
    QString name =
        QStringLiteral("%1_%2_").arg(person.uid.trimmed(), person.name.trimmed()) + QObject::tr("历史报告");
    return name.replace(unsafe, QStringLiteral("_")) + QStringLiteral(".pdf");
}

bool writeHistoryPdf(const QString &path, const PersonHistory &history, QString *error)
{
    const QString unitName = readUnitName();
    return reports::writePagesPdf(
        path, 1, [&](QPainter &painter, int) { paintHistoryPage(painter, history, unitName); }, error,
        historyTitle(history.person));
}

int runHistoryExport(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    QCommandLineParser parser;
    const QCommandLineOption uidOption(QStringLiteral("export-history"), QString(), QStringLiteral("UID"));
    const QCommandLineOption outOption(QStringLiteral("out"), QString(), QStringLiteral("FILE.pdf"));
    parser.addOptions({uidOption, outOption});
    if (!parser.parse(arguments) || !parser.positionalArguments().isEmpty()) {
        err << "quelmar: "
            << (parser.errorText().isEmpty()
                    ? QStringLiteral("unexpected argument: %1").arg(parser.positionalArguments().value(0))
                    : parser.errorText())
            << "\n"
            << historyExportHelp();
        return 2;
    }
    const QString uid = parser.value(uidOption).trimmed();
    const QString path = parser.value(outOption);
    if (uid.isEmpty() || path.isEmpty()) {
        err << "quelmar: --export-history needs a user number and --out FILE.pdf\n" << historyExportHelp();
        return 2;
    }
    if (!dbSetupResult) {
        const DbTarget &target = activeDbTarget();
        if (target.isServer())
            err << "quelmar: cannot reach the database " << target.display()
                << " (无法连接数据库服务器): " << QSqlDatabase::database().lastError().text().trimmed()
                << "\n";
        else
            err << "quelmar: cannot open the database " << target.path << " in "
                << QFileInfo(QStringLiteral(".")).absoluteFilePath() << "\n";
        return 1;
    }
    PersonHistory history;
    QString error;
    if (!loadPersonHistory(uid, &history, &error)) {
        err << "quelmar: cannot read the results of " << uid << ": " << error << "\n";
        return 1;
    }
    if (history.isEmpty()) {
        err << "quelmar: no result for user number " << uid << " (" << QObject::tr("该人员没有测试记录")
            << ")\n";
        return 2;
    }
    if (!writeHistoryPdf(path, history, &error)) {
        err << "quelmar: " << error << "\n";
        return 1;
    }
    out << "export-history: " << QFileInfo(path).absoluteFilePath() << " (" << uid << ", "
        << history.bca.size() << " body-composition tests, " << history.fitness.size() << " fitness tests)\n";
    return 0;
}

bool wantsHistoryExport(int argc, char **argv)
{
    static const char option[] = "--export-history";
    for (int i = 1; i < argc; ++i) {
        const size_t n = std::strlen(option);
        if (std::strncmp(argv[i], option, n) == 0 && (argv[i][n] == '\0' || argv[i][n] == '='))
            return true;
    }
    return false;
}

int historyExportMain(int argc, char **argv)
{
    // Charts are widgets even when only painted: an application on the
    // offscreen platform, so no display is needed.
    return exchange::runHeadlessJob(argc, argv, runHistoryExport);
}

QString historyExportHelp()
{
    return QStringLiteral(
        "\nPerson history (no window, no display needed):\n"
        "  --export-history UID --out FILE.pdf\n"
        "                        write the history page of user number UID (trend charts and\n"
        "                        the last eight tests) to FILE.pdf; exit code 2 when the\n"
        "                        person has no result\n");
}

} // namespace history
