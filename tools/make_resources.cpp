// Draws the program's embedded pictures (toolbar icons, state icons, help
// pictures, report sheet backgrounds) into a folder, by default resources/image.
// The output is committed; run this again only to change the pictures.
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QPainterPath>
#include <QTextStream>

#include "reports/sheetforms.h"

namespace {
QString outDir;

bool save(const QImage &img, const QString &name)
{
    QImageWriter writer(outDir + QLatin1Char('/') + name);
    if (name.endsWith(QLatin1String(".jpg"))) {
        // Sheet backgrounds: quality 90 keeps thin rules clean; optimised Huffman tables
        // make the files smaller at no cost.
        writer.setQuality(90);
        writer.setOptimizedWrite(true);
    }
    const bool ok = writer.write(img);
    QTextStream(stdout) << (ok ? "wrote " : "FAILED ") << name << '\n';
    return ok;
}

QImage canvas(int w, int h, const QColor &fill = Qt::transparent)
{
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    img.fill(fill);
    return img;
}

// Round coloured badge with a white glyph text, the toolbar icon style.
QImage badge(const QColor &colour, const QString &glyph, int size = 64)
{
    QImage img = canvas(size, size);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawRoundedRect(QRectF(2, 2, size - 4, size - 4), size / 5.0, size / 5.0);
    p.setPen(Qt::white);
    QFont f(QStringLiteral("Noto Sans CJK SC"));
    f.setPixelSize(int(size * (glyph.size() > 1 ? 0.36 : 0.56)));
    f.setBold(true);
    p.setFont(f);
    p.drawText(QRect(0, 0, size, size), Qt::AlignCenter, glyph);
    return img;
}

QImage stateIcon(bool valid)
{
    QImage img = canvas(32, 32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(valid ? QColor(0x2e, 0x9d, 0x4a) : QColor(0xd3, 0x2f, 0x2f));
    p.drawEllipse(QRectF(2, 2, 28, 28));
    p.setPen(QPen(Qt::white, 3.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    if (valid) {
        QPainterPath tick;
        tick.moveTo(9, 16.5);
        tick.lineTo(14, 21.5);
        tick.lineTo(23, 11);
        p.drawPath(tick);
    } else {
        p.drawLine(QPointF(11, 11), QPointF(21, 21));
        p.drawLine(QPointF(21, 11), QPointF(11, 21));
    }
    return img;
}

// Help picture: a titled panel with numbered steps.
QImage helpPicture(const QString &title, const QStringList &steps)
{
    QImage img = canvas(640, 400, QColor(0xfa, 0xfa, 0xfa));
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(QRect(0, 0, 640, 64), QColor(0x3b, 0x7d, 0xc4));
    QFont f(QStringLiteral("Noto Sans CJK SC"));
    f.setPixelSize(26);
    f.setBold(true);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(QRect(24, 0, 600, 64), Qt::AlignVCenter, title);
    f.setPixelSize(20);
    f.setBold(false);
    p.setFont(f);
    int y = 96;
    for (int i = 0; i < steps.size(); ++i) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x3b, 0x7d, 0xc4));
        p.drawEllipse(QRect(28, y, 32, 32));
        p.setPen(Qt::white);
        p.drawText(QRect(28, y, 32, 32), Qt::AlignCenter, QString::number(i + 1));
        p.setPen(QColor(0x42, 0x42, 0x42));
        p.drawText(QRect(76, y - 4, 540, 40), Qt::AlignVCenter, steps.at(i));
        y += 64;
    }
    return img;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    outDir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("resources/image");
    QDir().mkpath(outDir);

    bool ok = true;
    QImage appIcon = badge(QColor(0x3b, 0x7d, 0xc4), QStringLiteral("体"), 64);
    ok &= save(appIcon.scaled(16, 16, Qt::KeepAspectRatio, Qt::SmoothTransformation),
               QStringLiteral("icon-16.png"));
    ok &= save(badge(QColor(0x60, 0x7d, 0x8b), QStringLiteral("设")), QStringLiteral("icon-config.png"));
    ok &= save(badge(QColor(0x00, 0x96, 0x88), QStringLiteral("调")), QStringLiteral("icon-collect.png"));
    ok &= save(badge(QColor(0xe9, 0x1e, 0x63), QStringLiteral("批")), QStringLiteral("icon-batch.png"));
    ok &= save(badge(QColor(0x3f, 0x51, 0xb5), QStringLiteral("人")), QStringLiteral("icon-usersList.png"));
    ok &= save(badge(QColor(0xff, 0x98, 0x00), QStringLiteral("成")), QStringLiteral("icon-dataList.png"));
    ok &= save(badge(QColor(0x4c, 0xaf, 0x50), QStringLiteral("质")), QStringLiteral("icon-physical.png"));
    ok &= save(badge(QColor(0x79, 0x55, 0x48), QStringLiteral("?")), QStringLiteral("icon-help.png"));
    ok &= save(badge(QColor(0x03, 0xa9, 0xf4), QStringLiteral("↑")), QStringLiteral("icon-upload.png"));
    ok &= save(badge(QColor(0x8b, 0xc3, 0x4a), QStringLiteral("↑")), QStringLiteral("icon-upload2.png"));
    ok &= save(stateIcon(true), QStringLiteral("Valid.png"));
    ok &= save(stateIcon(false), QStringLiteral("Error.png"));

    ok &= save(helpPicture(QStringLiteral("连接体成分分析仪"),
                           {QStringLiteral("打开“连接与设置”，选择分析仪串口"),
                            QStringLiteral("点击“打开串口”"), QStringLiteral("点击工具栏右侧“连接仪器”"),
                            QStringLiteral("状态显示“已连接”后开始测试")}),
               QStringLiteral("help-BCAconnect.png"));
    ok &= save(
        helpPicture(QStringLiteral("实时采集"),
                    {QStringLiteral("在仪器上输入用户编号"), QStringLiteral("受测者站上仪器完成测试"),
                     QStringLiteral("数据自动传入软件并保存"), QStringLiteral("结果显示在“人体成分分析”页")}),
        QStringLiteral("help-dataArea.png"));
    ok &= save(
        helpPicture(QStringLiteral("主控测试"),
                    {QStringLiteral("在人员列表中选择受测者"), QStringLiteral("点击“主控测试”发送人员信息"),
                     QStringLiteral("受测者站上仪器完成测试"), QStringLiteral("点击“结束主控”返回实时采集")}),
        QStringLiteral("help-pcCtrl.png"));
    ok &= save(
        helpPicture(QStringLiteral("批量采集"),
                    {QStringLiteral("仪器中已存有多条测试记录"), QStringLiteral("连接仪器后打开批量采集"),
                     QStringLiteral("软件逐条下载并保存"), QStringLiteral("计数显示已采集条数")}),
        QStringLiteral("demo.png"));

    // The sheet pictures, for anything that still asks for ":/image/...jpg"; the
    // report pages paint the same forms as vectors. diy-report.jpg is the
    // custom sheet's starting picture, which a customer replaces by its own form.
    using reports::SheetForm;
    const struct
    {
        SheetForm form;
        const char *file;
    } forms[] = {{SheetForm::Q40, "Q40-report.jpg"},      {SheetForm::Q10, "Q10-report.jpg"},
                 {SheetForm::Q20, "Q20-report.jpg"},      {SheetForm::Q30, "Q30-report.jpg"},
                 {SheetForm::Water, "water-report.jpg"},  {SheetForm::Custom, "diy-report.jpg"},
                 {SheetForm::Fitness, "Adult-report.jpg"}};
    for (const auto &f : forms)
        ok &= save(reports::sheetFormImage(f.form), QLatin1String(f.file));
    return ok ? 0 : 1;
}
