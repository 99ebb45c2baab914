// The printed forms of the report sheets: captions, frames, scales and empty
// boxes. The report page paints the values with their text baseline
// at fixed positions, so every caption here sits left of or above the place where
// its value lands, and every box is sized for a value in a ~19 px font (the marks
// and ranges in a ~13 px one).
#include "reports/sheetforms.h"

#include "reports/layout.h"
#include "reports/reportpage.h"

#include <QDebug>
#include <QFont>
#include <QFontMetricsF>
#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <QVector>

#include <cmath>

namespace reports {

namespace {

constexpr int PageW = PageWidth;
constexpr int PageH = PageHeight;

QColor mix(const QColor &a, const QColor &b, double t)
{
    return QColor::fromRgbF(a.redF() * (1 - t) + b.redF() * t, a.greenF() * (1 - t) + b.greenF() * t,
                            a.blueF() * (1 - t) + b.blueF() * t);
}

// Painter with the house style of the forms: one accent colour, light tints of it,
// dark grey ink for captions and thin rules.
class Form
{
public:
    Form(QPainter &painter, const QColor &accent)
        : p(painter), accent(accent), tint(mix(accent, Qt::white, 0.93)),
          tintStrong(mix(accent, Qt::white, 0.82)), rule(mix(accent, Qt::white, 0.6))
    {
        p.save();
        p.setRenderHint(QPainter::Antialiasing);
        p.setRenderHint(QPainter::TextAntialiasing);
    }
    ~Form() { p.restore(); }
    Form(const Form &) = delete;
    Form &operator=(const Form &) = delete;

    void setFont(int px, bool bold = false)
    {
        QFont f = reportFont(px);
        f.setBold(bold);
        p.setFont(f);
    }

    int width(const QString &s) { return qRound(QFontMetricsF(p.font()).horizontalAdvance(s)); }

    // Caption text with its baseline at y: left-aligned at x, right-aligned ending at x,
    // or centred on x.
    void text(int x, int y, const QString &s, int px = 14, const QColor &c = ink, bool bold = false)
    {
        setFont(px, bold);
        p.setPen(c);
        p.drawText(x, y, s);
    }
    void textR(int x, int y, const QString &s, int px = 14, const QColor &c = ink, bool bold = false)
    {
        setFont(px, bold);
        p.setPen(c);
        p.drawText(x - width(s), y, s);
    }
    void textC(int x, int y, const QString &s, int px = 14, const QColor &c = ink, bool bold = false)
    {
        setFont(px, bold);
        p.setPen(c);
        p.drawText(x - width(s) / 2, y, s);
    }

    void hline(int x1, int x2, int y, const QColor &c, qreal w = 1, Qt::PenStyle st = Qt::SolidLine)
    {
        p.setPen(QPen(c, w, st));
        p.drawLine(QPointF(x1, y + 0.5), QPointF(x2, y + 0.5));
    }
    void vline(int x, int y1, int y2, const QColor &c, qreal w = 1, Qt::PenStyle st = Qt::SolidLine)
    {
        p.setPen(QPen(c, w, st));
        p.drawLine(QPointF(x + 0.5, y1), QPointF(x + 0.5, y2));
    }
    void fill(const QRect &r, const QColor &c) { p.fillRect(r, c); }

    // A section: thin accent frame with a tinted title strip of 24 units.
    void section(const QRect &r, const QString &title, const QString &note = QString(), int stripWidth = 0)
    {
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawRect(r);
        fill(QRect(r.left(), r.top(), stripWidth > 0 ? stripWidth : r.width(), 24), tintStrong);
        fill(QRect(r.left(), r.top(), 5, 24), accent);
        text(r.left() + 14, r.top() + 17, title, 14, mix(accent, Qt::black, 0.35), true);
        if (!note.isEmpty()) {
            setFont(14, true);
            const int w = width(title);
            text(r.left() + 22 + w, r.top() + 17, note, 11, muted);
        }
        p.setPen(QPen(rule, 1));
        p.setBrush(Qt::NoBrush);
        p.drawRect(QRectF(r).adjusted(0.5, 0.5, -0.5, -0.5));
    }

    // Background of a value: the value is drawn from x with its baseline at y.
    void field(int x, int y, int w, int h = 24)
    {
        const QRect r(x - 5, y - h + 6, w, h);
        fill(r, tint);
        hline(r.left(), r.right(), y + 5, rule);
    }

    // Check box for a "√" drawn with its baseline at (x, y).
    void tick(int x, int y, int size = 17)
    {
        p.setPen(QPen(mix(accent, Qt::white, 0.35), 1));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(x - 3.5, y - size + 2.5, size, size));
    }

    // Tick box followed by its word.
    void option(int x, int y, const QString &word)
    {
        tick(x, y);
        text(x + 17, y - 1, word, 12, ink);
    }

    QPainter &p;
    QColor accent, tint, tintStrong, rule;
    static const QColor ink;
    static const QColor muted;
};

const QColor Form::ink(0x33, 0x33, 0x33);
const QColor Form::muted(0x80, 0x80, 0x80);

// Title band: emblem, title, English subtitle, model tag, rules.
void titleBand(Form &f, const QString &title, const QString &english, const QString &model)
{
    f.fill(QRect(0, 0, PageW, 6), f.accent);
    f.p.setPen(QPen(f.accent, 2.5));
    f.p.setBrush(Qt::NoBrush);
    f.p.drawEllipse(QPointF(68, 66), 30, 30);
    f.p.setPen(QPen(f.rule, 1));
    f.p.drawEllipse(QPointF(68, 66), 24, 24);
    f.setFont(26, true);
    f.p.setPen(f.accent);
    f.p.drawText(QRect(38, 36, 60, 60), Qt::AlignCenter, QStringLiteral("质"));

    f.setFont(34, true);
    f.p.setPen(mix(f.accent, Qt::black, 0.3));
    f.p.drawText(QRect(0, 28, PageW, 48), Qt::AlignCenter, title);
    QFont en = reportFont(12);
    en.setLetterSpacing(QFont::AbsoluteSpacing, 1.2);
    f.p.setFont(en);
    f.p.setPen(Form::muted);
    f.p.drawText(QRect(0, 80, PageW, 22), Qt::AlignCenter, english);
    if (!model.isEmpty()) {
        f.setFont(15, true);
        const int w = f.width(model) + 26;
        const QRectF tag(PageW - 30 - w, 50, w, 30);
        f.p.setPen(QPen(f.accent, 1.5));
        f.p.setBrush(f.tint);
        f.p.drawRoundedRect(tag, 4, 4);
        f.p.setPen(f.accent);
        f.p.drawText(tag, Qt::AlignCenter, model);
    }
    f.hline(20, PageW - 20, 116, f.accent, 2);
    f.hline(20, PageW - 20, 121, f.rule, 1);
}

void footer(Form &f, const QString &note)
{
    f.hline(20, PageW - 20, 1341, f.rule, 1);
    f.textC(PageW / 2, 1353, note, 10, Form::muted);
}

// Person header. Row 1 at y1: number/name, sex boxes, and either the unit name or the
// test date; row 2 at y2: age, height, weight and either the unit telephone or the score.
struct HeaderSpec
{
    int y1 = 192, y2 = 225;
    int male = 443, female = 517;
    bool fitness = false;
    int left = 20, right = 940;
};

void personHeader(Form &f, const HeaderSpec &h)
{
    const QRect box(h.left, 152, h.right - h.left, h.y2 - 152 + 16);
    f.fill(box, f.tint);
    f.p.setPen(QPen(f.rule, 1));
    f.p.setBrush(Qt::NoBrush);
    f.p.drawRect(QRectF(box).adjusted(0.5, 0.5, -0.5, -0.5));
    f.hline(box.left() + 8, box.right() - 8, (h.y1 + h.y2) / 2 - 2, Qt::white, 1.5);

    const QColor cap = mix(f.accent, Qt::black, 0.35);
    f.textR(122, h.y1, QStringLiteral("编号/姓名"), 14, cap, true);
    f.field(130, h.y1, 210);
    f.textR(392, h.y1, QStringLiteral("性别"), 14, cap, true);
    f.textR(h.male - 8, h.y1, QStringLiteral("男"), 14, Form::ink);
    f.tick(h.male, h.y1, 20);
    f.textR(h.female - 8, h.y1, QStringLiteral("女"), 14, Form::ink);
    f.tick(h.female, h.y1, 20);

    f.textR(99, h.y2, QStringLiteral("年龄"), 14, cap, true);
    f.field(107, h.y2, 48);
    f.text(154, h.y2, QStringLiteral("岁"), 12, Form::muted);
    f.textR(208, h.y2, QStringLiteral("身高"), 14, cap, true);
    f.field(216, h.y2, 64);
    f.text(280, h.y2, QStringLiteral("cm"), 12, Form::muted);
    f.textR(437, h.y2, QStringLiteral("体重"), 14, cap, true);
    f.field(445, h.y2, 64);
    f.text(509, h.y2, QStringLiteral("kg"), 12, Form::muted);

    if (h.fitness) {
        f.textR(732, h.y1, QStringLiteral("测试日期"), 14, cap, true);
        f.field(740, h.y1, h.right - 740 - 4);
        f.textR(802, h.y2, QStringLiteral("总分"), 14, cap, true);
        f.field(810, h.y2, 58);
        f.text(868, h.y2, QStringLiteral("/ 110"), 12, Form::muted);
    } else {
        f.textR(692, h.y1, QStringLiteral("测试单位"), 14, cap, true);
        f.field(700, h.y1, h.right - 700 - 4);
        f.textR(692, h.y2, QStringLiteral("联系电话"), 14, cap, true);
        f.field(700, h.y2, h.right - 700 - 4);
    }
}

// A caption, a value field and a unit on one baseline.
void valueRow(Form &f, int x, int y, const QString &caption, const QString &unit, int w = 70, int px = 14)
{
    f.textR(x - 8, y, caption, px, Form::ink);
    f.field(x, y, w);
    if (!unit.isEmpty())
        f.text(x + w - 2, y, unit, 11, Form::muted);
}

// ---- composition block (TQ-40, TQ-10, TQ-20, water sheet) ----
struct CompositionSpec
{
    int top;          // section top
    int bottom;       // section bottom
    int rows[4];      // baselines of fat, bone, protein, water (percent and mass)
    int rangeRows[4]; // baselines of their ranges
    int massesY;      // total water, muscle, lean mass, weight
    int icwY, ecwY, edemaX, edemaY;
};

void compositionBlock(Form &f, const CompositionSpec &c)
{
    f.section(QRect(20, c.top, 596, c.bottom - c.top), QStringLiteral("人体成分分析"), QString());
    const int head = c.rows[0] - 24; // column caption baseline
    const QColor cap = mix(f.accent, Qt::black, 0.35);
    f.text(28, head, QStringLiteral("成分"), 12, cap, true);
    f.text(85, head, QStringLiteral("占体重"), 12, cap, true);
    f.text(160, head, QStringLiteral("重量 kg"), 12, cap, true);
    f.text(210, head, QStringLiteral("正常范围 kg"), 12, cap, true);
    f.hline(24, 290, head + 6, f.rule);

    const QString names[4] = {QStringLiteral("脂肪"), QStringLiteral("骨量"), QStringLiteral("蛋白质"),
                              QStringLiteral("水分")};
    for (int i = 0; i < 4; ++i) {
        const int y = c.rows[i];
        const int top = std::min(y, c.rangeRows[i]) - 18;
        const int bottom = std::max(y, c.rangeRows[i]) + 6;
        if (i % 2 == 0)
            f.fill(QRect(24, top, 266, bottom - top), f.tint);
        f.textR(78, y, names[i], 13, Form::ink, true);
    }

    // Nested columns: total water, muscle, lean mass and weight, each a bar of the
    // page height that ends in its value.
    const int colX[4] = {360, 410, 480, 550};
    const int colRight[4] = {406, 474, 544, 612};
    const QString colNames[4] = {QStringLiteral("总水分"), QStringLiteral("肌肉量"),
                                 QStringLiteral("去脂体重"), QStringLiteral("体重")};
    for (int i = 0; i < 4; ++i) {
        const QRect col(colX[i] - 4, head - 14, colRight[i] - colX[i] + 2, c.massesY + 7 - (head - 14));
        f.fill(col, i % 2 ? f.tint : mix(f.accent, Qt::white, 0.88));
        f.text(colX[i], head, colNames[i], 12, cap, true);
        f.field(colX[i], c.massesY, colRight[i] - colX[i] + 2);
    }
    f.hline(356, 612, head + 6, f.rule);
    const QString makeup[4] = {QString(), QStringLiteral("水分+蛋白质"), QStringLiteral("肌肉+骨量"),
                               QStringLiteral("去脂+脂肪")};
    for (int i = 0; i < 4; ++i)
        f.text(colX[i], head + 20, makeup[i], 10, Form::muted);

    // Intra- and extracellular water and the edema index.
    f.text(300, c.icwY - 22, QStringLiteral("细胞内液"), 12, cap, true);
    f.field(300, c.icwY, 54, 20);
    f.text(360, c.ecwY - 22, QStringLiteral("细胞外液"), 12, cap, true);
    f.field(360, c.ecwY, 54, 20);
    f.textR(c.edemaX - 8, c.edemaY, QStringLiteral("水肿指数"), 12, cap, true);
    f.field(c.edemaX, c.edemaY, 70);
}

// ---- bar chart ----
struct BarRow
{
    QString caption;
    QString unit;
    int barY;
    int height;
};

struct ChartSpec
{
    int top, bottom;
    int startX;
    int base;   // length at the reference value
    int step;   // length per 10 %
    int maxLen; // 0: no upper clamp
    int rangeX; // 0: no range column
    QString title, note;
    QVector<BarRow> rows;
    int firstTick = -4, lastTick = 5; // tick range in steps around the reference
    bool percentScale = true;
};

void barChart(Form &f, const ChartSpec &c)
{
    f.section(QRect(20, c.top, 596, c.bottom - c.top), c.title, c.note);
    const int ref = c.startX + c.base;
    const int rowsTop = c.rows.first().barY - 18;
    const int scaleY = rowsTop - 6; // tick number baseline, just above the first row
    const int rowsBottom = c.rows.last().barY + c.rows.last().height + 14;
    const int end = c.startX + (c.maxLen > 0 ? c.maxLen : c.base + c.lastTick * c.step);
    const int rightEdge = c.rangeX > 0 ? c.rangeX - 14 : 612;

    // Standard band and the zone words above the scale.
    f.fill(QRect(ref - c.step, rowsTop, 2 * c.step, rowsBottom - rowsTop),
           mix(QColor(0x3c, 0x9a, 0x5f), Qt::white, 0.88));
    f.textC((c.startX + ref - c.step) / 2, c.top + 17, QStringLiteral("低于标准"), 11, Form::muted);
    f.textC(ref, c.top + 17, QStringLiteral("标准"), 11, QColor(0x2f, 0x7a, 0x4a), true);
    f.textC((ref + c.step + std::min(end, rightEdge)) / 2, c.top + 17, QStringLiteral("高于标准"), 11,
            Form::muted);
    for (int k = c.firstTick; k <= c.lastTick; ++k) {
        const int x = ref + k * c.step;
        if (x < c.startX || x > rightEdge)
            continue;
        f.vline(x, rowsTop, rowsBottom, k == 0 ? mix(QColor(0x2f, 0x7a, 0x4a), Qt::white, 0.4) : f.rule, 1,
                k == 0 ? Qt::SolidLine : Qt::DotLine);
        if (c.percentScale)
            f.textC(x, scaleY, QString::number(100 + 10 * k), 11, Form::muted);
    }
    if (c.percentScale)
        f.text(c.startX - 22, scaleY, QStringLiteral("%"), 11, Form::muted);
    f.vline(c.startX, rowsTop, rowsBottom, f.accent, 1.2);
    if (c.rangeX > 0) {
        f.text(c.rangeX, scaleY, QStringLiteral("标准范围"), 12, mix(f.accent, Qt::black, 0.35), true);
        f.vline(c.rangeX - 8, rowsTop, rowsBottom, f.rule);
    }

    for (int i = 0; i < c.rows.size(); ++i) {
        const BarRow &r = c.rows.at(i);
        if (i > 0) {
            const BarRow &prev = c.rows.at(i - 1);
            const int sep = (prev.barY + prev.height + r.barY) / 2 - 4;
            f.hline(24, 612, sep, mix(f.accent, Qt::white, 0.8), 1);
        }
        const int cy = r.barY + r.height / 2;
        f.textR(c.startX - 10 - (r.unit.isEmpty() ? 0 : 26), cy + 5, r.caption, 13, Form::ink, true);
        if (!r.unit.isEmpty())
            f.textR(c.startX - 8, cy + 5, r.unit, 10, Form::muted);
    }
}

// ---- body type grid (columns x = 700, 790, 878; the mark is a 10 x 10 square at (x, row)) ----
void bodyTypeGrid(Form &f, const int rows[3], int bottom)
{
    const int colX[3] = {700, 790, 878};
    const QString words[3][3] = {
        {QStringLiteral("隐性肥胖型"), QStringLiteral("脂肪过多型"), QStringLiteral("肥胖型")},
        {QStringLiteral("肌肉不足型"), QStringLiteral("健康匀称型"), QStringLiteral("超重型")},
        {QStringLiteral("消瘦型"), QStringLiteral("低脂肪型"), QStringLiteral("运动员型")}};
    const int left = 662, right = 928;
    const int bounds[4] = {rows[0] - 30, (rows[0] + rows[1]) / 2 + 4, (rows[1] + rows[2]) / 2 + 4,
                           rows[2] + 26};
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            const int x0 = c == 0 ? left : (colX[c - 1] + colX[c]) / 2 + 5;
            const int x1 = c == 2 ? right : (colX[c] + colX[c + 1]) / 2 + 5;
            const QRect cell(x0, bounds[r], x1 - x0, bounds[r + 1] - bounds[r]);
            const bool healthy = r == 1 && c == 1;
            f.fill(cell.adjusted(1, 1, -1, -1),
                   healthy ? mix(QColor(0x3c, 0x9a, 0x5f), Qt::white, 0.85)
                           : ((r + c) % 2 ? f.tint : mix(f.accent, Qt::white, 0.88)));
            f.textC(colX[c] + 5, rows[r] - 8, words[r][c], 12, Form::ink, healthy);
            f.p.setPen(QPen(mix(f.accent, Qt::white, 0.3), 1));
            f.p.setBrush(Qt::white);
            f.p.drawRect(QRectF(colX[c] - 1.5, rows[r] - 1.5, 13, 13));
        }
    }
    // Axis words: body fat down the side, weight along the bottom.
    const QColor m = Form::muted;
    const QString fat[3] = {QStringLiteral("高"), QStringLiteral("中"), QStringLiteral("低")};
    for (int r = 0; r < 3; ++r)
        f.textC(648, (bounds[r] + bounds[r + 1]) / 2 + 5, fat[r], 11, m);
    const QString wt[3] = {QStringLiteral("体重偏低"), QStringLiteral("体重标准"),
                           QStringLiteral("体重偏高")};
    for (int c = 0; c < 3; ++c)
        f.textC(colX[c] + 5, std::min(bounds[3] + 13, bottom - 3), wt[c], 10, m);
}

// ---- weight control block (values at x = 815, "+" at x = 800) ----
void controlBlock(Form &f, const int ys[4])
{
    const QString names[4] = {QStringLiteral("目标体重"), QStringLiteral("体重控制"),
                              QStringLiteral("脂肪控制"), QStringLiteral("肌肉控制")};
    for (int i = 0; i < 4; ++i) {
        f.textR(780, ys[i], names[i], 13, Form::ink, true);
        f.field(800, ys[i], 82);
        f.text(884, ys[i], QStringLiteral("kg"), 11, Form::muted);
    }
    f.text(652, ys[3] + 20, QStringLiteral("“+”为需增加，“-”为需减少"), 10, Form::muted);
}

// ---- level grids ----
struct LevelSpec
{
    int bmiY1, bmiY2;
    int bmiX[3];
    int pbfY, pbfX[3];
    int whrY, whrX[3];
    int proteinY, proteinX[2];
    int fatY, fatX[3];
    int boneY, boneX[2];
    int bmrX, bmrY;
};

void levelGrid(Form &f, const LevelSpec &l)
{
    const QColor cap = mix(f.accent, Qt::black, 0.35);
    f.text(640, l.bmiY1 - 24, QStringLiteral("体质指数 BMI"), 13, cap, true);
    const QString bmi1[3] = {QStringLiteral("偏瘦"), QStringLiteral("正常"), QStringLiteral("超重")};
    const QString bmi2[3] = {QStringLiteral("轻度肥胖"), QStringLiteral("中度肥胖"),
                             QStringLiteral("重度肥胖")};
    for (int i = 0; i < 3; ++i) {
        f.option(l.bmiX[i], l.bmiY1, bmi1[i]);
        f.option(l.bmiX[i], l.bmiY2, bmi2[i]);
    }
    auto row = [&](int y, const QString &name, const int *xs, int n, const QString *words) {
        f.textR(std::min(xs[0], 712) - 8, y - 1, name, 13, Form::ink, true);
        for (int i = 0; i < n; ++i)
            f.option(xs[i], y, words[i]);
    };
    const QString low3[3] = {QStringLiteral("偏低"), QStringLiteral("标准"), QStringLiteral("偏高")};
    row(l.pbfY, QStringLiteral("体脂率"), l.pbfX, 3, low3);
    row(l.whrY, QStringLiteral("腰臀比"), l.whrX, 3, low3);
    f.hline(640, 928, (l.whrY + l.proteinY) / 2 - 12, f.rule, 1, Qt::DashLine);
    f.text(640, std::min(l.proteinY, l.fatY) - 22, QStringLiteral("营养评价"), 13, cap, true);
    const QString protein[2] = {QStringLiteral("正常"), QStringLiteral("不足")};
    const QString fat[3] = {QStringLiteral("不足"), QStringLiteral("正常"), QStringLiteral("过量")};
    row(l.proteinY, QStringLiteral("蛋白质"), l.proteinX, 2, protein);
    row(l.fatY, QStringLiteral("脂肪"), l.fatX, 3, fat);
    row(l.boneY, QStringLiteral("无机盐"), l.boneX, 2, protein);
    f.hline(640, 928, l.bmrY - 28, f.rule, 1, Qt::DashLine);
    valueRow(f, l.bmrX, l.bmrY, QStringLiteral("基础代谢率"), QStringLiteral("kcal"), 80, 13);
}

// ---- visceral fat bar: track, standard zone, caption ----
void vfiTrack(Form &f, int x, int y, int standardEnd, int trackEnd, const QString &caption, int captionY)
{
    f.text(x, captionY, caption, 13, Form::ink, true);
    f.fill(QRect(x, y - 3, standardEnd - x, 12), mix(QColor(0x3c, 0x9a, 0x5f), Qt::white, 0.85));
    f.fill(QRect(standardEnd, y - 3, trackEnd - standardEnd, 12),
           mix(QColor(0xd9, 0x7a, 0x2b), Qt::white, 0.85));
    f.vline(x, y - 6, y + 12, f.accent, 1.2);
}

// Fatty-liver line: the page writes caption and value itself ("脂肪肝风险度 n %").
void liverField(Form &f, int x, int y, int w = 190)
{
    f.fill(QRect(x - 6, y - 15, w, 21), f.tint);
    f.fill(QRect(x - 6, y - 15, 3, 21), f.accent);
}

// ---- simple body outline for the segment figure ----
void bodyFigure(Form &f, double cx, double top, double h)
{
    const double s = h / 200.0;
    QPainterPath body;
    body.addEllipse(QPointF(cx, top + 14 * s), 12 * s, 14 * s);
    QPainterPath torso;
    torso.addRoundedRect(QRectF(cx - 24 * s, top + 32 * s, 48 * s, 72 * s), 10 * s, 10 * s);
    QPainterPath arms;
    arms.addRoundedRect(QRectF(cx - 40 * s, top + 34 * s, 13 * s, 66 * s), 6 * s, 6 * s);
    arms.addRoundedRect(QRectF(cx + 27 * s, top + 34 * s, 13 * s, 66 * s), 6 * s, 6 * s);
    QPainterPath legs;
    legs.addRoundedRect(QRectF(cx - 22 * s, top + 106 * s, 19 * s, 92 * s), 7 * s, 7 * s);
    legs.addRoundedRect(QRectF(cx + 3 * s, top + 106 * s, 19 * s, 92 * s), 7 * s, 7 * s);
    f.p.setPen(QPen(mix(f.accent, Qt::white, 0.45), 1.2));
    f.p.setBrush(mix(f.accent, Qt::white, 0.86));
    for (const QPainterPath &part : {body, torso, arms, legs})
        f.p.drawPath(part);
}

// A segment group: its name above, then one labelled row per value at (x, ys[i]).
void segmentGroup(Form &f, int x, const QString &name, const QVector<int> &ys, const QStringList &labels,
                  int w = 70)
{
    const int top = ys.first() - 32;
    const int bottom = ys.last() + 6;
    f.fill(QRect(x - 46, top + 16, w + 46, bottom - top - 16), f.tint);
    f.text(x - 44, top + 12, name, 12, mix(f.accent, Qt::black, 0.35), true);
    for (int i = 0; i < ys.size(); ++i)
        f.textR(x - 6, ys[i] - 1, labels.at(i), 11, Form::muted);
}

// Segment value with its name to the left on the same baseline.
void segmentValue(Form &f, int x, int y, const QString &name)
{
    f.textR(x - 8, y - 1, name, 12, Form::ink);
    f.field(x, y, 60, 22);
}

// ---- impedance table (TQ-40) ----
void impedanceTable(Form &f, const QRect &frame)
{
    f.section(frame, QStringLiteral("生物电阻抗"), QStringLiteral("单位 Ω"));
    const int colX[5] = {695, 750, 795, 840, 890};
    const QString seg[5] = {QStringLiteral("右臂"), QStringLiteral("左臂"), QStringLiteral("躯干"),
                            QStringLiteral("右腿"), QStringLiteral("左腿")};
    const int rowY[5] = {1205, 1230, 1255, 1280, 1305};
    const QString freq[5] = {QStringLiteral("5 kHz"), QStringLiteral("50 kHz"), QStringLiteral("100 kHz"),
                             QStringLiteral("250 kHz"), QStringLiteral("500 kHz")};
    const QColor cap = mix(f.accent, Qt::black, 0.35);
    for (int c = 0; c < 5; ++c)
        f.text(colX[c], rowY[0] - 27, seg[c], 12, cap, true);
    f.hline(frame.left() + 6, frame.right() - 6, rowY[0] - 21, f.rule);
    for (int r = 0; r < 5; ++r) {
        if (r % 2 == 0)
            f.fill(QRect(frame.left() + 6, rowY[r] - 18, frame.width() - 12, 24), f.tint);
        f.textR(688, rowY[r] - 1, freq[r], 11, Form::muted);
    }
    for (int c = 1; c < 5; ++c)
        f.vline(colX[c] - 5, rowY[0] - 18, rowY[4] + 6, mix(f.accent, Qt::white, 0.85));
}

void notesBox(Form &f, const QRect &r, const QString &title, const QStringList &lines)
{
    f.section(r, title);
    int y = r.top() + 48;
    for (const QString &l : lines) {
        f.fill(QRect(r.left() + 14, y - 8, 4, 4), f.accent);
        f.text(r.left() + 26, y, l, 12, Form::ink);
        y += 22;
    }
}

void signatureLine(Form &f, int x, int y, const QString &caption, int w)
{
    f.text(x, y, caption, 12, Form::ink);
    f.setFont(12);
    const int cw = f.width(caption);
    f.hline(x + cw + 4, x + cw + w, y + 3, Form::muted);
}

const QString Disclaimer = QStringLiteral("本报告仅供健康评估参考，不作为医学诊断依据");

QStringList bcaNotes()
{
    return {QStringLiteral("测试前 2 小时勿进食，测试前排空大小便。"),
            QStringLiteral("测试时赤足站立，双手握紧电极，保持静止。"),
            QStringLiteral("同一人多次测试宜在相同时段进行，便于比较。"),
            QStringLiteral("带心脏起搏器等植入式电子设备者请勿测试。")};
}

// Score and body age in a tinted panel of the right column (values at x = 850).
void scorePanel(Form &f, int top, int bottom, int scoreY, int ageY)
{
    const QRect r(624, top, 316, bottom - top);
    f.fill(r, f.tint);
    f.fill(QRect(624, top, 5, bottom - top), f.accent);
    f.p.setPen(QPen(f.rule, 1));
    f.p.setBrush(Qt::NoBrush);
    f.p.drawRect(QRectF(r).adjusted(0.5, 0.5, -0.5, -0.5));
    valueRow(f, 850, scoreY, QStringLiteral("身体成分评分"), QStringLiteral("分"), 62, 14);
    valueRow(f, 850, ageY, QStringLiteral("身体年龄"), QStringLiteral("岁"), 62, 14);
}

QVector<BarRow> standardBars(const int ys[8], int h = 6)
{
    return {{QStringLiteral("体重"), QStringLiteral("kg"), ys[0], h},
            {QStringLiteral("肌肉量"), QStringLiteral("kg"), ys[1], h},
            {QStringLiteral("体脂率"), QStringLiteral("%"), ys[2], h},
            {QStringLiteral("骨量"), QStringLiteral("kg"), ys[3], h},
            {QStringLiteral("水分"), QStringLiteral("kg"), ys[4], h},
            {QStringLiteral("骨骼肌"), QStringLiteral("kg"), ys[5], h},
            {QStringLiteral("BMI"), QString(), ys[6], h},
            {QStringLiteral("腰臀比"), QString(), ys[7], h}};
}

// How the weight splits up, for the free corner of the composition block.
void weightMakeup(Form &f, const QRect &r)
{
    f.fill(r, f.tint);
    f.text(r.left() + 10, r.top() + 22, QStringLiteral("体重构成"), 12, mix(f.accent, Qt::black, 0.35), true);
    f.text(r.left() + 10, r.top() + 44, QStringLiteral("体重 = 去脂体重 + 脂肪"), 10, Form::muted);
    f.text(r.left() + 10, r.top() + 62, QStringLiteral("去脂体重 = 肌肉 + 骨量"), 10, Form::muted);
    f.text(r.left() + 10, r.top() + 80, QStringLiteral("肌肉 ≈ 水分 + 蛋白质"), 10, Form::muted);
}

// TQ-10 and TQ-20 share everything but the level grid, the control rows, the
// visceral-fat block and the segment values.
struct Q1020
{
    QString model;
    QColor accent;
    int male, female;
    int controlRows[4];
    LevelSpec level;
    int levelBottom;
};

void q1020Common(Form &f, const Q1020 &q)
{
    titleBand(f, QStringLiteral("人体成分分析报告"), QStringLiteral("BODY COMPOSITION ANALYSIS REPORT"),
              q.model);
    HeaderSpec h;
    h.male = q.male;
    h.female = q.female;
    personHeader(f, h);
    scorePanel(f, 248, 344, 270, 328);

    CompositionSpec comp{248, 538, {310, 340, 360, 410}, {310, 340, 360, 410}, 420, 525, 525, 480, 512};
    compositionBlock(f, comp);
    weightMakeup(f, QRect(30, 440, 236, 88));
    const int bars[8] = {600, 635, 670, 705, 740, 770, 805, 840};
    ChartSpec chart{
        546, 866, 126, 165, 35, 350, 512, QStringLiteral("肌肉脂肪分析"), QString(), standardBars(bars)};
    barChart(f, chart);

    const int bottom = q.controlRows[3] + 30;
    f.section(QRect(624, 352, 316, bottom - 352), QStringLiteral("体型判定"),
              QStringLiteral("纵：体脂  横：体重"));
    const int rows[3] = {450, 523, 600};
    bodyTypeGrid(f, rows, 662);
    f.hline(640, 930, 666, f.rule);
    controlBlock(f, q.controlRows);

    f.section(QRect(624, bottom + 8, 316, q.levelBottom - bottom - 8), QStringLiteral("综合评估"), QString());
    levelGrid(f, q.level);
}

// Two panels of segment values, each value with its segment name to its left.
void segmentPanels(Form &f, int top, int bottom, const QString &first, const QString &second,
                   const int a[5][2], const int b[5][2])
{
    f.section(QRect(20, top, 596, bottom - top), QStringLiteral("节段分析"), QStringLiteral("单位 kg"));
    const QString names[5] = {QStringLiteral("右上肢"), QStringLiteral("左上肢"), QStringLiteral("躯干"),
                              QStringLiteral("右下肢"), QStringLiteral("左下肢")};
    const QColor cap = mix(f.accent, Qt::black, 0.35);
    f.text(30, top + 46, first, 13, cap, true);
    f.text(330, top + 46, second, 13, cap, true);
    f.vline(318, top + 30, bottom - 8, f.rule);
    for (int i = 0; i < 5; ++i) {
        segmentValue(f, a[i][0], a[i][1], names[i]);
        segmentValue(f, b[i][0], b[i][1], names[i]);
    }
}

void signatures(Form &f, int y)
{
    signatureLine(f, 30, y, QStringLiteral("测试人员："), 150);
    signatureLine(f, 250, y, QStringLiteral("审核："), 130);
    signatureLine(f, 440, y, QStringLiteral("日期："), 120);
}

void paintQ40(QPainter &painter)
{
    Form f(painter, QColor(0x1f, 0x4e, 0x79));
    titleBand(f, QStringLiteral("人体成分分析报告"), QStringLiteral("BODY COMPOSITION ANALYSIS REPORT"),
              QStringLiteral("TQ-40"));
    personHeader(f, HeaderSpec{});

    // Score and body age on their own line under the header.
    f.fill(QRect(20, 250, 596, 38), f.tint);
    valueRow(f, 185, 270, QStringLiteral("身体成分评分"), QStringLiteral("分"), 60, 13);
    valueRow(f, 528, 278, QStringLiteral("身体年龄"), QStringLiteral("岁"), 60, 13);

    CompositionSpec comp{298, 548, {378, 403, 431, 475}, {378, 403, 431, 470}, 470, 525, 525, 480, 512};
    compositionBlock(f, comp);

    const int bars[8] = {658, 690, 723, 758, 793, 828, 858, 894};
    ChartSpec chart{
        558, 916, 126, 165, 35, 350, 512, QStringLiteral("肌肉脂肪分析"), QString(), standardBars(bars)};
    barChart(f, chart);

    f.section(QRect(624, 250, 316, 420), QStringLiteral("体型判定"), QStringLiteral("纵：体脂  横：体重"));
    const int rows[3] = {312, 386, 464};
    bodyTypeGrid(f, rows, 524);
    f.hline(640, 930, 526, f.rule);
    const int ctl[4] = {550, 580, 610, 644};
    controlBlock(f, ctl);

    f.section(QRect(624, 676, 316, 438), QStringLiteral("综合评估"), QString());
    LevelSpec l{750,
                775,
                {638, 729, 824},
                811,
                {729, 779, 841},
                906,
                {704, 780, 842},
                997,
                {729, 789},
                1025,
                {727, 790, 855},
                1057,
                {729, 789},
                810,
                1095};
    levelGrid(f, l);

    impedanceTable(f, QRect(624, 1122, 316, 214));

    // Muscle and visceral fat.
    f.section(QRect(20, 924, 596, 166), QStringLiteral("肌肉与内脏脂肪"), QString());
    valueRow(f, 135, 965, QStringLiteral("躯干脂肪"), QStringLiteral("kg"), 70, 13);
    valueRow(f, 430, 965, QStringLiteral("骨骼肌量"), QStringLiteral("kg"), 70, 13);
    f.option(352, 989, QStringLiteral("偏低"));
    f.option(410, 989, QStringLiteral("标准"));
    f.option(471, 989, QStringLiteral("偏高"));
    vfiTrack(f, 29, 1032, 109, 320, QStringLiteral("内脏脂肪指数（<10 为标准）"), 1012);
    liverField(f, 29, 1060, 230);

    const QColor cap = mix(f.accent, Qt::black, 0.35);
    f.text(330, 1016, QStringLiteral("肌肉均衡"), 12, cap, true);
    f.text(404, 1016, QStringLiteral("上肢 / 下肢"), 10, Form::muted);
    const QString lv[3] = {QStringLiteral("较弱"), QStringLiteral("标准"), QStringLiteral("发达")};
    const int lvY[3] = {1040, 1060, 1080};
    for (int i = 0; i < 3; ++i) {
        f.tick(338, lvY[i], 17);
        f.tick(364, lvY[i], 17);
        f.text(386, lvY[i] - 2, lv[i], 11, Form::ink);
    }
    f.text(470, 1030, QStringLiteral("左右均衡"), 12, cap, true);
    f.option(478, 1052, QStringLiteral("均衡"));
    f.option(478, 1072, QStringLiteral("失衡"));

    // Segments: fat, muscle and bone per segment around a body outline.
    f.section(QRect(20, 1098, 596, 238), QStringLiteral("节段分析"), QStringLiteral("单位 kg"));
    const QStringList fmb = {QStringLiteral("脂肪"), QStringLiteral("肌肉"), QStringLiteral("骨量")};
    bodyFigure(f, 370, 1128, 204);
    segmentGroup(f, 82, QStringLiteral("右上肢"), {1155, 1172, 1187}, fmb);
    segmentGroup(f, 500, QStringLiteral("左上肢"), {1155, 1170, 1185}, fmb);
    segmentGroup(f, 182, QStringLiteral("躯干"), {1215, 1231, 1250}, fmb);
    segmentGroup(f, 82, QStringLiteral("右下肢"), {1291, 1311, 1326}, fmb);
    segmentGroup(f, 500, QStringLiteral("左下肢"), {1298, 1314, 1329}, fmb);
    f.p.setPen(QPen(f.rule, 1, Qt::DotLine));
    f.p.drawLine(QPointF(152, 1160), QPointF(320, 1175));
    f.p.drawLine(QPointF(492 - 46, 1160), QPointF(420, 1175));
    f.p.drawLine(QPointF(252, 1225), QPointF(345, 1225));
    f.p.drawLine(QPointF(152, 1300), QPointF(352, 1290));
    f.p.drawLine(QPointF(454, 1305), QPointF(388, 1290));

    footer(f, Disclaimer);
}

void paintQ10(QPainter &painter)
{
    Form f(painter, QColor(0x00, 0x5f, 0x6b));
    Q1020 q{QStringLiteral("TQ-10"),
            f.accent,
            443,
            517,
            {700, 735, 770, 800},
            LevelSpec{930,
                      960,
                      {634, 725, 820},
                      990,
                      {725, 775, 837},
                      1080,
                      {701, 777, 839},
                      1190,
                      {727, 787},
                      1215,
                      {727, 789, 854},
                      1250,
                      {727, 787},
                      810,
                      1285},
            1316};
    q1020Common(f, q);

    f.section(QRect(20, 874, 596, 166), QStringLiteral("内脏脂肪"), QString());
    valueRow(f, 270, 955, QStringLiteral("躯干脂肪"), QStringLiteral("kg"), 70, 13);
    liverField(f, 370, 955, 200);
    f.textR(138, 1012, QStringLiteral("内脏脂肪指数"), 13, Form::ink, true);
    vfiTrack(f, 146, 1007, 266, 566, QString(), 0);
    f.text(146, 990, QStringLiteral("绿色区域为标准范围（指数 < 10）"), 10, Form::muted);

    const int muscle[5][2] = {{80, 1150}, {220, 1150}, {142, 1200}, {80, 1250}, {220, 1250}};
    const int fat[5][2] = {{380, 1150}, {540, 1150}, {450, 1200}, {380, 1250}, {540, 1250}};
    segmentPanels(f, 1048, 1282, QStringLiteral("节段肌肉"), QStringLiteral("节段脂肪"), muscle, fat);
    signatures(f, 1320);
    footer(f, Disclaimer);
}

void paintQ20(QPainter &painter)
{
    Form f(painter, QColor(0x34, 0x45, 0x8a));
    Q1020 q{QStringLiteral("TQ-20"),
            f.accent,
            441,
            515,
            {710, 740, 775, 805},
            LevelSpec{933,
                      963,
                      {634, 725, 820},
                      993,
                      {725, 775, 837},
                      1087,
                      {701, 777, 839},
                      1205,
                      {727, 787},
                      1233,
                      {727, 787, 854},
                      1267,
                      {727, 787},
                      810,
                      1300},
            1336};
    q1020Common(f, q);

    f.section(QRect(20, 874, 596, 198), QStringLiteral("内脏脂肪"), QString());
    valueRow(f, 160, 955, QStringLiteral("躯干脂肪"), QStringLiteral("kg"), 70, 13);
    vfiTrack(f, 40, 1022, 124, 400, QStringLiteral("内脏脂肪指数（绿色区域为标准，< 10）"), 1000);
    liverField(f, 40, 1055, 220);

    const int water[5][2] = {{90, 1190}, {245, 1190}, {172, 1250}, {90, 1290}, {245, 1290}};
    const int fat[5][2] = {{365, 1190}, {525, 1190}, {450, 1250}, {365, 1290}, {525, 1290}};
    segmentPanels(f, 1080, 1336, QStringLiteral("节段水分"), QStringLiteral("节段脂肪"), water, fat);
    footer(f, Disclaimer);
}

void paintQ30(QPainter &painter)
{
    Form f(painter, QColor(0x4a, 0x3b, 0x78));
    titleBand(f, QStringLiteral("人体成分分析报告"), QStringLiteral("BODY COMPOSITION ANALYSIS REPORT"),
              QStringLiteral("TQ-30"));
    HeaderSpec h;
    h.male = 442;
    h.female = 516;
    personHeader(f, h);
    f.fill(QRect(20, 246, 920, 38), f.tint);
    f.fill(QRect(20, 246, 5, 38), f.accent);
    valueRow(f, 290, 262, QStringLiteral("身体成分评分"), QStringLiteral("分"), 62, 14);
    valueRow(f, 840, 269, QStringLiteral("身体年龄"), QStringLiteral("岁"), 62, 14);

    // Nested composition: each column is the sum of the rows it spans.
    f.section(QRect(20, 292, 596, 336), QStringLiteral("人体成分分析"), QStringLiteral("单位 kg"));
    const QColor cap = mix(f.accent, Qt::black, 0.35);
    f.text(30, 346, QStringLiteral("体重由水分、蛋白质、无机盐和脂肪组成："), 12, Form::muted);
    f.text(30, 366, QStringLiteral("肌肉量 = 水分 + 蛋白质，去脂体重 = 肌肉量 + 无机盐"), 12, Form::muted);
    const int head = 394;
    f.text(30, head, QStringLiteral("成分"), 12, cap, true);
    f.text(194, head, QStringLiteral("测量值"), 12, cap, true);
    f.text(310, head, QStringLiteral("肌肉量"), 12, cap, true);
    f.text(410, head, QStringLiteral("去脂体重"), 12, cap, true);
    f.text(519, head, QStringLiteral("体重"), 12, cap, true);
    f.hline(24, 612, head + 6, f.rule);
    const int rows[4] = {430, 477, 530, 580};
    const int bounds[5] = {404, 454, 504, 556, 606};
    const QString names[4] = {QStringLiteral("身体水分"), QStringLiteral("蛋白质"), QStringLiteral("无机盐"),
                              QStringLiteral("体脂肪")};
    for (int i = 0; i < 4; ++i) {
        f.fill(QRect(24, bounds[i] + 1, 276, bounds[i + 1] - bounds[i] - 2), i % 2 ? Qt::white : f.tint);
        f.textR(180, rows[i], names[i], 13, Form::ink, true);
        f.field(194, rows[i], 64);
    }
    auto column = [&](int x0, int x1, int y0, int y1, int vx, int vy, double t) {
        f.fill(QRect(x0, y0 + 1, x1 - x0, y1 - y0 - 2), mix(f.accent, Qt::white, t));
        f.field(vx, vy, x1 - vx - 2);
    };
    column(302, 400, bounds[0], bounds[2], 310, 462, 0.9);
    column(402, 508, bounds[0], bounds[3], 410, 480, 0.86);
    column(510, 614, bounds[0], bounds[4], 519, 495, 0.82);

    const int bars[8] = {712, 753, 794, 835, 874, 914, 954, 995};
    ChartSpec chart{636,
                    1020,
                    156,
                    153,
                    35,
                    0,
                    517,
                    QStringLiteral("肌肉脂肪分析"),
                    QString(),
                    {{QStringLiteral("体重"), QStringLiteral("kg"), bars[0], 6},
                     {QStringLiteral("肌肉量"), QStringLiteral("kg"), bars[1], 6},
                     {QStringLiteral("体脂率"), QStringLiteral("%"), bars[2], 6},
                     {QStringLiteral("脂肪量"), QStringLiteral("kg"), bars[3], 6},
                     {QStringLiteral("骨量"), QStringLiteral("kg"), bars[4], 6},
                     {QStringLiteral("水分"), QStringLiteral("kg"), bars[5], 6},
                     {QStringLiteral("BMI"), QString(), bars[6], 6},
                     {QStringLiteral("腰臀比"), QString(), bars[7], 6}}};
    barChart(f, chart);

    f.section(QRect(624, 292, 316, 556), QStringLiteral("体型判定"), QStringLiteral("纵：体脂  横：体重"));
    const int bodyRows[3] = {407, 480, 560};
    bodyTypeGrid(f, bodyRows, 604);
    f.hline(640, 930, 628, f.rule);
    f.text(646, 660, QStringLiteral("体重控制"), 13, cap, true);
    const int ctl[4] = {710, 750, 786, 821};
    controlBlock(f, ctl);

    f.section(QRect(624, 856, 316, 480), QStringLiteral("综合评估"), QString());
    levelGrid(f, LevelSpec{944,
                           972,
                           {634, 724, 822},
                           1002,
                           {724, 775, 840},
                           1096,
                           {701, 777, 840},
                           1195,
                           {727, 788},
                           1222,
                           {727, 790, 857},
                           1254,
                           {727, 790},
                           797,
                           1290});

    f.section(QRect(20, 1028, 596, 116), QStringLiteral("内脏脂肪"), QString());
    vfiTrack(f, 36, 1095, 324, 600, QStringLiteral("内脏脂肪等级（绿色区域为标准，< 10）"), 1074);
    liverField(f, 36, 1125, 220);

    notesBox(f, QRect(20, 1152, 596, 146), QStringLiteral("测试须知"), bcaNotes());
    signatures(f, 1324);
    footer(f, Disclaimer);
}

void paintWater(QPainter &painter)
{
    Form f(painter, QColor(0x0b, 0x62, 0x8c));
    titleBand(f, QStringLiteral("人体水分分析报告"), QStringLiteral("BODY WATER ANALYSIS REPORT"), QString());
    HeaderSpec h;
    h.male = 441;
    h.female = 515;
    personHeader(f, h);
    scorePanel(f, 248, 344, 270, 328);
    CompositionSpec comp{248, 480, {310, 340, 360, 410}, {310, 340, 360, 410}, 420, 465, 465, 485, 450};
    compositionBlock(f, comp);

    notesBox(f, QRect(624, 352, 316, 128), QStringLiteral("指标说明"),
             {QStringLiteral("细胞内液：细胞内所含的水分"), QStringLiteral("细胞外液：血液、组织间液等"),
              QStringLiteral("水肿指数：细胞外液 ÷ 身体总水分")});

    const QColor cap = mix(f.accent, Qt::black, 0.35);
    const QColor green = mix(QColor(0x3c, 0x9a, 0x5f), Qt::white, 0.86);
    // Water bars: 133 units at the reference, 35 per 10 %.
    auto scale = [&](int top, int bottom, int numbersY) {
        f.fill(QRect(293 - 35, top, 70, bottom - top), green);
        for (int k = -3; k <= 8; ++k) {
            const int x = 293 + 35 * k;
            f.vline(x, top, bottom, k == 0 ? mix(QColor(0x2f, 0x7a, 0x4a), Qt::white, 0.4) : f.rule, 1,
                    k == 0 ? Qt::SolidLine : Qt::DotLine);
            if (numbersY > 0)
                f.textC(x, numbersY, QString::number(100 + 10 * k), 11, Form::muted);
        }
        if (numbersY > 0)
            f.text(140, numbersY, QStringLiteral("%"), 11, Form::muted);
        f.vline(160, top, bottom, f.accent, 1.2);
    };
    auto rowCaption = [&](int barY, const QString &name, const QString &unit) {
        f.textR(128, barY + 9, name, 13, Form::ink, true);
        f.textR(154, barY + 9, unit, 10, Form::muted);
    };
    auto zones = [&](int top) {
        f.textC(209, top + 17, QStringLiteral("低于标准"), 11, Form::muted);
        f.textC(293, top + 17, QStringLiteral("标准"), 11, QColor(0x2f, 0x7a, 0x4a), true);
        f.textC(450, top + 17, QStringLiteral("高于标准"), 11, Form::muted);
    };

    f.section(QRect(20, 488, 920, 278), QStringLiteral("水分分析"), QString());
    zones(488);
    scale(546, 672, 528);
    rowCaption(565, QStringLiteral("身体总水分"), QStringLiteral("kg"));
    rowCaption(610, QStringLiteral("细胞内液"), QStringLiteral("kg"));
    rowCaption(655, QStringLiteral("细胞外液"), QStringLiteral("kg"));
    f.hline(24, 660, 588, mix(f.accent, Qt::white, 0.8));
    f.hline(24, 660, 633, mix(f.accent, Qt::white, 0.8));
    // Edema index: 3800 units per unit of the index above 0.275; standard 0.30 to 0.35.
    f.hline(24, 936, 680, f.rule);
    f.text(30, 704, QStringLiteral("水肿评价"), 13, cap, true);
    f.fill(QRect(255, 716, 190, 58), green);
    const double marks[4] = {0.30, 0.35, 0.38, 0.40};
    for (double m : marks) {
        const int x = 160 + int((m - 0.275) * 3800);
        f.vline(x, 716, 774, f.rule, 1, Qt::DotLine);
        f.textC(x, 728, QString::number(m, 'f', 2), 11, Form::muted);
    }
    f.vline(160, 716, 774, f.accent, 1.2);
    rowCaption(750, QStringLiteral("水肿指数"), QString());
    notesBox(f, QRect(676, 520, 256, 150), QStringLiteral("怎样看"),
             {QStringLiteral("条形末端为测量值"), QStringLiteral("绿色区域为标准范围"),
              QStringLiteral("100% 为标准值")});
    f.text(690, 740, QStringLiteral("水肿指数标准范围"), 12, Form::ink);
    f.text(690, 760, QStringLiteral("0.30 – 0.35"), 13, cap, true);

    f.section(QRect(20, 770, 920, 300), QStringLiteral("节段水分"), QStringLiteral("单位 kg"));
    scale(842, 1062, 838);
    const int segY[5] = {860, 905, 950, 1000, 1045};
    const QString segNames[5] = {QStringLiteral("右上肢"), QStringLiteral("左上肢"), QStringLiteral("躯干"),
                                 QStringLiteral("右下肢"), QStringLiteral("左下肢")};
    for (int i = 0; i < 5; ++i) {
        rowCaption(segY[i], segNames[i], QStringLiteral("kg"));
        if (i > 0)
            f.hline(24, 936, (segY[i - 1] + segY[i]) / 2 + 2, mix(f.accent, Qt::white, 0.8));
    }
    f.vline(676, 830, 1066, f.rule);
    f.text(690, 880, QStringLiteral("左侧条形：节段水分"), 12, Form::ink);
    f.text(690, 902, QStringLiteral("括号内：细胞内液 : 细胞外液"), 12, Form::ink);
    f.text(690, 924, QStringLiteral("单位 kg"), 12, Form::muted);

    // Segmental edema gauge: height 1950 units per unit of the index above 0.28.
    // The gauge values rise to y = 1090, so the title strip stops left of the first gauge.
    f.section(QRect(20, 1078, 920, 258), QStringLiteral("节段水肿"), QString(), 150);
    const int gx[5] = {200, 285, 370, 455, 540};
    auto gy = [](double e) { return 1314 - int((e - 0.28) * 1950); };
    f.fill(QRect(186, gy(0.35), 400, gy(0.30) - gy(0.35)), green);
    const double g[5] = {0.30, 0.32, 0.34, 0.36, 0.38};
    for (double m : g) {
        f.hline(186, 586, gy(m), f.rule, 1, Qt::DotLine);
        f.textR(180, gy(m) + 4, QString::number(m, 'f', 2), 11, Form::muted);
    }
    f.hline(186, 586, 1314, f.accent, 1.2);
    for (int i = 0; i < 5; ++i) {
        f.vline(gx[i] + 15, 1112, 1314, mix(f.accent, Qt::white, 0.7));
        f.textC(gx[i] + 15, 1331, segNames[i], 12, Form::ink, true);
    }
    f.vline(676, 1110, 1330, f.rule);
    f.text(690, 1140, QStringLiteral("圆点位置为节段水肿指数"), 12, Form::ink);
    f.text(690, 1162, QStringLiteral("绿色区域为标准范围 0.30 – 0.35"), 12, Form::ink);
    f.text(690, 1184, QStringLiteral("高于标准提示该部位可能水肿"), 12, Form::ink);
    signatureLine(f, 690, 1300, QStringLiteral("测试人员："), 150);
    footer(f, Disclaimer);
}

void paintFitness(QPainter &painter)
{
    Form f(painter, QColor(0x2b, 0x6a, 0x45));
    titleBand(f, QStringLiteral("国民体质测定评估报告"), QStringLiteral("PHYSICAL FITNESS ASSESSMENT REPORT"),
              QStringLiteral("成年人"));
    HeaderSpec h;
    h.y1 = 192;
    h.y2 = 235;
    h.male = 442;
    h.female = 516;
    h.fitness = true;
    h.left = 14;
    h.right = 946;
    personHeader(f, h);

    const QColor cap = mix(f.accent, Qt::black, 0.35);
    f.section(QRect(14, 262, 932, 346), QStringLiteral("测试成绩"), QString());
    const int cols[2][3] = {{175, 290, 380}, {650, 755, 840}};
    const int capRight[2] = {165, 640};
    const int capLeft[2] = {26, 478};
    for (int c = 0; c < 2; ++c) {
        f.text(capLeft[c], 328, QStringLiteral("测试项目"), 12, cap, true);
        f.text(cols[c][0], 328, QStringLiteral("成绩"), 12, cap, true);
        f.text(cols[c][1], 328, QStringLiteral("得分"), 12, cap, true);
        f.text(cols[c][2], 328, QStringLiteral("评定"), 12, cap, true);
    }
    f.hline(18, 942, 338, f.rule);
    const QString left[5] = {QStringLiteral("握力 (kg)"), QStringLiteral("肺活量 (ml)"),
                             QStringLiteral("选择反应时 (ms)"), QStringLiteral("闭眼单脚站立 (s)"),
                             QStringLiteral("台阶试验 (指数)")};
    const QString right[5] = {QStringLiteral("坐位体前屈 (cm)"), QStringLiteral("仰卧起坐 (次)"),
                              QStringLiteral("俯卧撑 (次)"), QStringLiteral("纵跳 (cm)"),
                              QStringLiteral("立定跳远 (cm)")};
    for (int r = 0; r < 5; ++r) {
        const int y = 380 + 50 * r;
        if (r % 2 == 0)
            f.fill(QRect(18, y - 30, 924, 48), f.tint);
        f.textR(capRight[0], y, left[r], 13, Form::ink, true);
        f.textR(capRight[1], y, right[r], 13, Form::ink, true);
        for (int c = 0; c < 2; ++c) {
            f.hline(cols[c][0] - 4, cols[c][0] + 80, y + 6, f.rule);
            f.hline(cols[c][1] - 4, cols[c][1] + 40, y + 6, f.rule);
            f.hline(cols[c][2] - 4, cols[c][2] + 66, y + 6, f.rule);
        }
    }
    f.vline(462, 310, 602, f.rule);

    // Ability bars: width by grade, 83 fail, 153 pass, 193 good, 350 excellent.
    f.section(QRect(14, 616, 531, 406), QStringLiteral("能力评定"), QString());
    const int bandX[5] = {156, 239, 309, 349, 506};
    const QString bandWords[4] = {QStringLiteral("不及格"), QStringLiteral("及格"), QStringLiteral("良好"),
                                  QStringLiteral("优秀")};
    const QColor bandTint[4] = {
        mix(QColor(0xc6, 0x4b, 0x3c), Qt::white, 0.9), mix(QColor(0xd9, 0xa4, 0x2b), Qt::white, 0.88),
        mix(QColor(0x3c, 0x8a, 0x9a), Qt::white, 0.88), mix(QColor(0x3c, 0x9a, 0x5f), Qt::white, 0.86)};
    for (int i = 0; i < 4; ++i) {
        f.fill(QRect(bandX[i], 694, bandX[i + 1] - bandX[i], 320), bandTint[i]);
        f.textC((bandX[i] + bandX[i + 1]) / 2, 684, bandWords[i], 12, Form::ink, true);
        f.vline(bandX[i + 1], 694, 1014, f.rule, 1, Qt::DotLine);
    }
    f.vline(156, 694, 1014, f.accent, 1.2);
    const QString abil[8] = {QStringLiteral("身体形态"), QStringLiteral("上肢力量"),
                             QStringLiteral("下肢力量"), QStringLiteral("耐力"),
                             QStringLiteral("心肺功能"), QStringLiteral("平衡能力"),
                             QStringLiteral("反应速度"), QStringLiteral("柔韧性")};
    const int abilY[8] = {712, 753, 794, 834, 874, 914, 954, 994};
    for (int i = 0; i < 8; ++i) {
        f.textR(146, abilY[i] + 9, abil[i], 13, Form::ink, true);
        if (i > 0)
            f.hline(18, 540, (abilY[i - 1] + abilY[i]) / 2 + 4, mix(f.accent, Qt::white, 0.8));
    }

    f.section(QRect(553, 616, 393, 406), QStringLiteral("能力雷达图"), QString());

    f.section(QRect(14, 1030, 932, 252), QStringLiteral("运动建议"), QString());
    for (int y = 1080; y <= 1260; y += 30) {
        f.fill(QRect(34, y - 9, 5, 5), mix(f.accent, Qt::white, 0.5));
        f.hline(46, 930, y + 8, mix(f.accent, Qt::white, 0.8), 1, Qt::DotLine);
    }

    signatureLine(f, 30, 1318, QStringLiteral("测试人员："), 150);
    signatureLine(f, 270, 1318, QStringLiteral("审核："), 130);
    signatureLine(f, 500, 1318, QStringLiteral("测试单位（盖章）："), 170);
    footer(f, QStringLiteral("评分标准依据成年人体质测定标准；本报告仅供健身指导参考"));
}

// The custom sheet carries every item of the layout table; its positions are those of
// the custom sheet's layout row (values in 11 point, the chart ranges in 9 point).
void paintCustom(QPainter &painter)
{
    Form f(painter, QColor(0x3d, 0x55, 0x66));
    titleBand(f, QStringLiteral("人体成分分析报告"), QStringLiteral("BODY COMPOSITION ANALYSIS REPORT"),
              QString());
    const QColor cap = mix(f.accent, Qt::black, 0.35);

    // Header: unit name (90, 140), telephone (90, 170), person line at y = 205.
    const QRect head(20, 124, 920, 92);
    f.fill(head, f.tint);
    f.p.setPen(QPen(f.rule, 1));
    f.p.setBrush(Qt::NoBrush);
    f.p.drawRect(QRectF(head).adjusted(0.5, 0.5, -0.5, -0.5));
    f.hline(28, 932, 184, Qt::white, 1.5);
    valueRow(f, 90, 140, QStringLiteral("测试单位"), QString(), 420, 13);
    valueRow(f, 90, 170, QStringLiteral("联系电话"), QString(), 220, 13);
    valueRow(f, 90, 205, QStringLiteral("编号/姓名"), QString(), 140, 13);
    f.textR(304, 205, QStringLiteral("男"), 13, Form::ink);
    f.tick(330, 205, 18);
    f.textR(386, 205, QStringLiteral("女"), 13, Form::ink);
    f.tick(394, 205, 18);
    valueRow(f, 450, 205, QStringLiteral("年龄"), QStringLiteral("岁"), 56, 13);
    valueRow(f, 560, 205, QStringLiteral("身高"), QStringLiteral("cm"), 66, 13);
    valueRow(f, 700, 205, QStringLiteral("日期"), QString(), 236, 13);
    f.textR(266, 205, QStringLiteral("性别"), 13, cap, true);

    // Composition: masses x = 300, shares x = 400, ranges x = 480, totals x = 620; rows 330..450.
    f.section(QRect(20, 224, 596, 304), QStringLiteral("人体成分分析"), QString());
    f.text(300, 305, QStringLiteral("重量 kg"), 12, cap, true);
    f.text(400, 305, QStringLiteral("占体重"), 12, cap, true);
    f.text(480, 305, QStringLiteral("正常范围 kg"), 12, cap, true);
    f.hline(200, 612, 311, f.rule);
    const QString names[4] = {QStringLiteral("脂肪"), QStringLiteral("骨量"), QStringLiteral("蛋白质"),
                              QStringLiteral("水分")};
    const QString totals[4] = {QStringLiteral("总水分"), QStringLiteral("肌肉量"), QStringLiteral("去脂体重"),
                               QStringLiteral("体重")};
    for (int i = 0; i < 4; ++i) {
        const int y = 330 + 40 * i;
        if (i % 2 == 0)
            f.fill(QRect(200, y - 22, 412, 36), f.tint);
        f.textR(292, y, names[i], 13, Form::ink, true);
    }
    f.fill(QRect(30, 318, 150, 138), f.tint);
    f.text(40, 342, QStringLiteral("体重构成"), 12, cap, true);
    f.text(40, 370, QStringLiteral("体重 = 去脂体重 + 脂肪"), 10, Form::muted);
    f.text(40, 394, QStringLiteral("去脂体重 = 肌肉 + 骨量"), 10, Form::muted);
    f.text(40, 418, QStringLiteral("肌肉 ≈ 水分 + 蛋白质"), 10, Form::muted);
    f.fill(QRect(24, 490, 588, 34), f.tint);
    valueRow(f, 90, 520, QStringLiteral("细胞内液"), QString(), 64, 12);
    valueRow(f, 250, 520, QStringLiteral("细胞外液"), QString(), 64, 12);
    valueRow(f, 420, 520, QStringLiteral("水肿指数"), QString(), 60, 12);
    f.textR(532, 520, QStringLiteral("标准"), 11, Form::muted);

    // Right column: score (830, 300), body age (830, 360), trunk fat (830, 420), skeletal muscle
    // (830, 480) with its level (700, 505; +0/50/100), BMR (830, 540), edema level (640, 540;
    // +0/20/40), fatty-liver line (700, 600).
    f.section(QRect(624, 224, 316, 390), QStringLiteral("综合指标"), QString());
    const int listY[5] = {300, 360, 420, 480, 540};
    const QString listNames[5] = {QStringLiteral("身体成分评分"), QStringLiteral("身体年龄"),
                                  QStringLiteral("躯干脂肪 kg"), QStringLiteral("骨骼肌 kg"),
                                  QStringLiteral("基础代谢 kcal")};
    for (int i = 0; i < 5; ++i)
        valueRow(f, 830, listY[i], listNames[i], QString(), 100, 12);
    f.option(700, 505, QStringLiteral("偏低"));
    f.option(750, 505, QStringLiteral("标准"));
    f.option(800, 505, QStringLiteral("偏高"));
    f.text(640, 522, QStringLiteral("水肿评价"), 11, cap, true);
    f.option(640, 540, QStringLiteral("标准"));
    f.option(640, 560, QStringLiteral("轻度"));
    f.option(640, 580, QStringLiteral("水肿"));
    liverField(f, 700, 600, 232);
    // The composition totals at x = 620 sit at the left edge of this column.
    for (int i = 0; i < 4; ++i) {
        f.textR(612, 330 + 40 * i, totals[i], 12, cap, true);
        f.field(620, 330 + 40 * i, 66);
    }

    // Line chart: bars from x = 150, rows y = 600..880 (bar top), ranges at x = 470.
    const int barY[8] = {600, 640, 680, 720, 760, 800, 840, 880};
    ChartSpec chart{
        532, 900, 150, 130, 26, 250, 470, QStringLiteral("肌肉脂肪分析"), QString(), standardBars(barY)};
    barChart(f, chart);

    // Segments: fat at the anchor, muscle 13 below.
    f.section(QRect(624, 620, 316, 382), QStringLiteral("节段分析"), QStringLiteral("脂肪 / 肌肉 kg"));
    bodyFigure(f, 782, 700, 270);
    auto seg = [&](int x, int y, const QString &name) {
        f.fill(QRect(x - 4, y - 28, 62, 46), f.tint);
        f.text(x - 2, y - 16, name, 11, cap, true);
    };
    seg(650, 760, QStringLiteral("右上肢"));
    seg(840, 760, QStringLiteral("左上肢"));
    seg(745, 840, QStringLiteral("躯干"));
    seg(650, 960, QStringLiteral("右下肢"));
    seg(840, 960, QStringLiteral("左下肢"));

    // Muscle balance: upper (90, 1010 + 0/20/38), lower (250, ...), balance (410, 1010 / 1030).
    f.section(QRect(20, 908, 596, 180), QStringLiteral("肌肉均衡"), QStringLiteral("Muscle Balance"));
    const QString lv[3] = {QStringLiteral("较弱"), QStringLiteral("标准"), QStringLiteral("发达")};
    const int dy[3] = {0, 20, 38};
    f.text(86, 984, QStringLiteral("上肢肌肉"), 12, cap, true);
    f.text(246, 984, QStringLiteral("下肢肌肉"), 12, cap, true);
    f.text(406, 984, QStringLiteral("左右均衡"), 12, cap, true);
    for (int i = 0; i < 3; ++i) {
        f.option(90, 1010 + dy[i], lv[i]);
        f.option(250, 1010 + dy[i], lv[i]);
    }
    f.option(410, 1010, QStringLiteral("均衡"));
    f.option(410, 1030, QStringLiteral("失衡"));

    // Body type at (700, 1060) with columns +0/80/155 and rows +0/60/120.
    f.section(QRect(624, 1010, 316, 196), QStringLiteral("体型判定"), QStringLiteral("纵：体脂  横：体重"));
    {
        const int colX[3] = {700, 780, 855};
        const int rowY[3] = {1060, 1120, 1180};
        const QString words[3][3] = {
            {QStringLiteral("隐性肥胖型"), QStringLiteral("脂肪过多型"), QStringLiteral("肥胖型")},
            {QStringLiteral("肌肉不足型"), QStringLiteral("健康匀称型"), QStringLiteral("超重型")},
            {QStringLiteral("消瘦型"), QStringLiteral("低脂肪型"), QStringLiteral("运动员型")}};
        const QString fat[3] = {QStringLiteral("高"), QStringLiteral("中"), QStringLiteral("低")};
        for (int r = 0; r < 3; ++r) {
            f.textC(650, rowY[r] + 2, fat[r], 11, Form::muted);
            for (int c = 0; c < 3; ++c) {
                const int x0 = c == 0 ? 664 : (colX[c - 1] + colX[c]) / 2 + 5;
                const int x1 = c == 2 ? 932 : (colX[c] + colX[c + 1]) / 2 + 5;
                const bool healthy = r == 1 && c == 1;
                f.fill(QRect(x0 + 1, rowY[r] - 25, x1 - x0 - 2, 42),
                       healthy ? mix(QColor(0x3c, 0x9a, 0x5f), Qt::white, 0.85)
                               : ((r + c) % 2 ? f.tint : mix(f.accent, Qt::white, 0.88)));
                f.textC(colX[c] + 5, rowY[r] - 8, words[r][c], 11, Form::ink, healthy);
                f.p.setPen(QPen(mix(f.accent, Qt::white, 0.3), 1));
                f.p.setBrush(Qt::white);
                f.p.drawRect(QRectF(colX[c] - 1.5, rowY[r] - 1.5, 13, 13));
            }
        }
    }

    // Weight control: target (90, 1150), weight (230, 1150), fat (370, 1150), muscle (510, 1150).
    f.section(QRect(20, 1094, 596, 76), QStringLiteral("体重控制"), QStringLiteral("kg · “+”为需增加"));
    const QString ctl[4] = {QStringLiteral("目标体重"), QStringLiteral("体重控制"),
                            QStringLiteral("脂肪控制"), QStringLiteral("肌肉控制")};
    const int ctlX[4] = {90, 230, 370, 510};
    for (int i = 0; i < 4; ++i) {
        f.text(ctlX[i], 1133, ctl[i], 12, cap, true);
        f.field(ctlX[i], 1150, 90);
    }

    // Level grids: BMI (110, 1224 / 1249; +0/77/155), body fat (110, 1280; +0/45/95),
    // waist-hip (350, 1280; +0/70/115), protein (110, 1314; +52), fat (280, 1314; +0/52/102),
    // minerals (500, 1314; +52).
    f.section(QRect(20, 1178, 596, 158), QStringLiteral("综合评估"), QString());
    auto opts = [&](int x, int y, const QVector<int> &dx, const QStringList &words) {
        for (int i = 0; i < dx.size(); ++i)
            f.option(x + dx[i], y, words.at(i));
    };
    f.textR(102, 1223, QStringLiteral("BMI"), 13, Form::ink, true);
    opts(110, 1224, {0, 77, 155}, {QStringLiteral("偏瘦"), QStringLiteral("正常"), QStringLiteral("超重")});
    opts(110, 1249, {0, 77, 155},
         {QStringLiteral("轻度肥胖"), QStringLiteral("中度肥胖"), QStringLiteral("重度肥胖")});
    f.textR(102, 1279, QStringLiteral("体脂率"), 13, Form::ink, true);
    opts(110, 1280, {0, 45, 95}, {QStringLiteral("偏低"), QStringLiteral("标准"), QStringLiteral("偏高")});
    f.textR(342, 1279, QStringLiteral("腰臀比"), 13, Form::ink, true);
    opts(350, 1280, {0, 70, 115}, {QStringLiteral("偏低"), QStringLiteral("标准"), QStringLiteral("偏高")});
    f.textR(102, 1313, QStringLiteral("蛋白质"), 13, Form::ink, true);
    opts(110, 1314, {0, 52}, {QStringLiteral("正常"), QStringLiteral("不足")});
    f.textR(272, 1313, QStringLiteral("脂肪"), 13, Form::ink, true);
    opts(280, 1314, {0, 52, 102}, {QStringLiteral("不足"), QStringLiteral("正常"), QStringLiteral("过量")});
    f.textR(492, 1313, QStringLiteral("无机盐"), 13, Form::ink, true);
    opts(500, 1314, {0, 52}, {QStringLiteral("正常"), QStringLiteral("不足")});

    // Impedance grid at (690, 1244): columns +0/40/80/120/160, rows +0/22/44/66/88.
    const QRect imp(624, 1212, 316, 124);
    f.p.setPen(QPen(f.rule, 1));
    f.p.setBrush(Qt::NoBrush);
    f.p.drawRect(QRectF(imp).adjusted(0.5, 0.5, -0.5, -0.5));
    const QString segs[5] = {QStringLiteral("右臂"), QStringLiteral("左臂"), QStringLiteral("躯干"),
                             QStringLiteral("右腿"), QStringLiteral("左腿")};
    f.text(632, 1227, QStringLiteral("阻抗 Ω"), 11, cap, true);
    for (int c = 0; c < 5; ++c)
        f.text(690 + 40 * c, 1227, segs[c], 11, cap, true);
    const QString freq[5] = {QStringLiteral("5k"), QStringLiteral("50k"), QStringLiteral("100k"),
                             QStringLiteral("250k"), QStringLiteral("500k")};
    for (int r = 0; r < 5; ++r) {
        if (r % 2 == 0)
            f.fill(QRect(628, 1244 + 22 * r - 15, 308, 20), f.tint);
        f.textR(684, 1244 + 22 * r - 1, freq[r] + QStringLiteral("Hz"), 10, Form::muted);
    }

    footer(f, Disclaimer);
}

} // namespace

void paintSheetForm(QPainter &painter, SheetForm form)
{
    switch (form) {
    case SheetForm::Q40:
        return paintQ40(painter);
    case SheetForm::Q10:
        return paintQ10(painter);
    case SheetForm::Q20:
        return paintQ20(painter);
    case SheetForm::Q30:
        return paintQ30(painter);
    case SheetForm::Water:
        return paintWater(painter);
    case SheetForm::Custom:
        return paintCustom(painter);
    case SheetForm::Fitness:
        return paintFitness(painter);
    }
}

namespace {
FormRendering currentRendering = FormRendering::Vector;
} // namespace

const QImage &pagePicture(const QString &path)
{
    static QHash<QString, QImage> cache;
    static const QImage none;
    auto it = cache.find(path);
    if (it == cache.end()) {
        QImage image(path);
        if (image.isNull()) {
            // Not cached: a picture put in place later is found on the next page.
            qDebug() << "report background missing:" << path;
            return none;
        }
        if (image.size() != QSize(PageW, PageH))
            image = image.scaled(PageW, PageH, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        it = cache.insert(path, image);
    }
    return *it;
}

void setFormRendering(FormRendering rendering)
{
    currentRendering = rendering;
}

FormRendering formRendering()
{
    return currentRendering;
}

void paintFormBackground(QPainter &painter, SheetForm form, const QString &picturePath)
{
    if (currentRendering == FormRendering::Vector)
        paintSheetForm(painter, form);
    else
        painter.drawImage(QPointF(0, 0), pagePicture(picturePath));
}

QImage sheetFormImage(SheetForm form)
{
    QImage image(PageW, PageH, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    paintSheetForm(painter, form);
    return image;
}

} // namespace reports
