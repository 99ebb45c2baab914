// Import of people from CSV on a real SQLite file: one table of files with a
// row per rule (quoted fields, trimming, year and height checks, user numbers
// registered already or twice in the file, a header that looks like data,
// failed inserts) checking the stored rows and the summary box; files that
// are not text refused whole; the encodings spreadsheets write; cancel
// keeping what was committed.
#include "app/mainwindow.h"
#include "people/personimport.h"
#include "testsupport.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QtTest>

using namespace personimport;
using testsupport::BoxSeen;

namespace {
// The Person rows as "UUID|UID|Name|Sex|BirthYear|Height;...", oldest first.
QString personRows()
{
    return testsupport::scalar(
               "SELECT group_concat(UUID || '|' || UID || '|' || Name || '|' || Sex || '|' || "
               "BirthYear || '|' || Height, ';') FROM (SELECT * FROM Person ORDER BY ID)")
        .toString();
}

const QString kHeader = QStringLiteral("单位,编号,姓名,性别,出生年份,身高\n");
} // namespace

class TestPersonImport : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;

    QString file(const QByteArray &bytes)
    {
        const QString path = m_dir->filePath(QStringLiteral("people.csv"));
        QFile f(path);
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() ? path : QString();
    }
    // Imports |bytes| through the slot, as the operator does, and returns the closing box.
    BoxSeen importThroughSlot(const QByteArray &bytes)
    {
        MainWindow w;
        w.presetImportFile(file(bytes));
        return testsupport::boxOf([&w] { w.usersImport(); });
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(testsupport::startProcessOn(m_dir->filePath(QStringLiteral("maindb.db"))));
    }
    void cleanup() { releaseProcessState(); }

    void importRules_data()
    {
        QTest::addColumn<QString>("setupSql"); // run before the import
        QTest::addColumn<QString>("text");     // the file, header included
        QTest::addColumn<QString>("stored");   // rows as personRows() shows them, ';'-separated
        QTest::addColumn<QString>("summary");  // ';'-separated parts the summary must hold
        const auto add = [](const char *name, const char *setup, const QString &text, const char *stored,
                            const char *summary) {
            QTest::newRow(name) << QString(setup) << text << QString(stored) << QString(summary);
        };
        add("conversions", "",
            kHeader + "U1,N0012,张三,男,2005,165\nU1,n7,李四,女,2001,150\nU1,NN7,王五,F,2002,151.5",
            "U1|0012|张三|1|2005|165;U1|7|李四|2|2001|150;U1|N7|王五|2|2002|151.5",
            "人员数据已插入!;共导入 3 人");
        // The short record starts on line 6: the quoted break took a line.
        add("quoted comma, quote and line break", "",
            kHeader + "U1,1,\"张,三\",男,2005,165\nU1,2,\"王\"\"小\"\"明\",男,2005,166\nU1,3,\"李\n四\",女,"
                      "2005,167\n"
                      "U1,4,钱七,女\n",
            "U1|1|张,三|1|2005|165;U1|2|王\"小\"明|1|2005|166;U1|3|李\n四|2|2005|167",
            "共导入 3 人，跳过 1 行;空行或字段不足六个：1 行（第 6 行）");
        // A quote inside a field is a character, not the start of a quoted field.
        add("stray quote inside a name", "", kHeader + "U1,1,张\"三,男,2005,165\nU1,2,李四,女,2005,160\n",
            "U1|1|张\"三|1|2005|165;U1|2|李四|2|2005|160", "人员数据已插入!;共导入 2 人");
        add("blanks around fields", "", kHeader + " U1 , N5 , 赵六 ,男 , 2005 , 165 \r\n",
            "U1|5|赵六|1|2005|165", "人员数据已插入!;共导入 1 人");
        add("bad birth year", "",
            kHeader +
                QStringLiteral("U1,1,甲,男,85,165\nU1,2,乙,男,1899,165\nU1,3,丙,男,%1,165\nU1,4,丁,男,,165\n"
                               "U1,5,戊,男,二〇〇〇,165\nU1,6,己,男,2000,165\n")
                    .arg(QDate::currentDate().year() + 1),
            "U1|6|己|1|2000|165",
            "共导入 1 人，跳过 5 行;出生年份不是1900年到今年之间的四位年份：5 行（第 2、3、4、5、6 行）");
        add("bad height", "",
            kHeader + "U1,1,甲,男,2000,abc\nU1,2,乙,男,2000,300\nU1,3,丙,男,2000,\nU1,4,丁,男,2000,49\n"
                      "U1,5,戊,男,2000,250\nU1,6,己,男,2000,50\n",
            "U1|5|戊|1|2000|250;U1|6|己|1|2000|50",
            "共导入 2 人，跳过 4 行;身高不是50到250之间的数字：4 行（第 2、3、4、5 行）");
        add("no user number or name", "",
            kHeader + "U1,,甲,男,2000,170\nU1,N,乙,男,2000,170\nU1,3,,男,2000,170\n,,,,,\n\n", "",
            "共导入 0 人，跳过 5 行;没有用户编号：2 行（第 2、3 行）;没有姓名：1 行（第 4 "
            "行）;空行或字段不足六个：2 行（第 5、6 行）");
        add("registered already or twice in the file",
            "INSERT INTO Person (UUID, UID, Name, Sex, BirthYear, Height) VALUES ('U0', '10', '旧人', '1', "
            "'1990', '170')",
            kHeader + "U1,N10,新人,男,2000,170\nU1,11,甲,男,2000,170\nU1,n11,乙,女,2000,160\n",
            "U0|10|旧人|1|1990|170;U1|11|甲|1|2000|170",
            "共导入 1 人，跳过 2 行;已登记：2 行（第 2、4 行）;第 2 行：用户编号 10 已登记给 旧人（序号 1）;"
            "第 4 行：用户编号 11 在第 3 行已用于 甲");
        // Sex words of spreadsheets and other programs; anything else is refused by line.
        add("sex words", "",
            kHeader +
                "U1,1,甲,M,2000,170\nU1,2,乙,Female,2000,160\nU1,3,丙,male,2000,170\nU1,4,丁,f,2000,160\n"
                "U1,5,戊,0,2000,170\nU1,6,己,男性,2000,170\nU1,7,庚,2,2000,160\n",
            "U1|1|甲|1|2000|170;U1|2|乙|2|2000|160;U1|3|丙|1|2000|170;U1|4|丁|2|2000|160;U1|7|庚|2|2000|160",
            "共导入 5 人，跳过 2 行;性别不是男/女、1/2、M/F 或 male/female：2 行（第 6、7 行）");
        add("first line looks like a person", "", "U1,1,甲,男,2000,170\nU1,2,乙,女,2001,160\n",
            "U1|2|乙|2|2001|160", "共导入 1 人;第 1 行按标题行跳过，但它看起来像人员数据");
        add("insert refused by the database",
            "CREATE TRIGGER no_x BEFORE INSERT ON Person WHEN new.Name LIKE 'x%' BEGIN SELECT RAISE(ABORT, "
            "'name "
            "refused'); END",
            kHeader + "U1,1,甲,男,2000,170\nU1,2,x1,男,2000,170\nU1,3,乙,男,2000,170\n",
            "U1|1|甲|1|2000|170;U1|3|乙|1|2000|170",
            "共导入 2 人，跳过 1 行;写入数据库失败：1 行（第 3 行）;name refused");
        add("header only", "", kHeader, "", "文件中只有标题行，没有人员数据。");
    }
    void importRules()
    {
        QFETCH(QString, setupSql);
        QFETCH(QString, text);
        QFETCH(QString, stored);
        QFETCH(QString, summary);
        QVERIFY(setupSql.isEmpty() || QSqlQuery().exec(setupSql));
        const BoxSeen box = importThroughSlot(text.toUtf8());
        QCOMPARE(personRows(), stored);
        QVERIFY(box.seen);
        QCOMPARE(box.icon, summary.startsWith(QStringLiteral("人员数据已插入!")) ? QMessageBox::Information
                                                                                 : QMessageBox::Warning);
        for (const QString &part : summary.split(QLatin1Char(';')))
            QVERIFY2(box.text.contains(part), qPrintable(box.text));
    }
    void notTextIsRefusedWhole_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QByteArray random(200 * 1024, '\0');
        QRandomGenerator gen(15);
        for (char &c : random)
            c = char(gen.bounded(256));
        QTest::newRow("random bytes") << random;
        QTest::newRow("control bytes") << QByteArray("\x01\x02\x1b[0m\x7f\x03,\x04\n").repeated(100);
        QTest::newRow("NUL in a CSV") << (kHeader + QStringLiteral("U1,1,甲,男,2000,170\n"))
                                             .toUtf8()
                                             .replace("甲", QByteArray("\0", 1));
        QTest::newRow("invalid in UTF-8 and GB18030")
            << (kHeader.toUtf8() + QByteArray("U1,1,\x81\x20\xff,\xfe,2000,170\n"));
    }
    void notTextIsRefusedWhole()
    {
        QFETCH(QByteArray, bytes);
        QVERIFY(importFile(file(bytes)).notText);
        const BoxSeen box = importThroughSlot(bytes);
        QCOMPARE(box.icon, QMessageBox::Warning);
        QVERIFY2(box.text.contains(QStringLiteral("不是文本文件")), qPrintable(box.text));
        QCOMPARE(testsupport::count(QStringLiteral("SELECT count(*) FROM Person")), 0);
    }
    void sameRowsFromEveryEncoding()
    {
        const QString text =
            kHeader + QStringLiteral("U1,N0012,张三,男,2005,165\r\nU1,n13,欧阳娜娜,女,2006,158\r\n");
        const struct
        {
            QByteArray bytes;
            TextEncoding encoding;
        } files[] = {
            {text.toUtf8(), TextEncoding::Utf8},
            {"\xEF\xBB\xBF" + text.toUtf8(), TextEncoding::Utf8Bom},
            {QTextCodec::codecForName("GB18030")->fromUnicode(text), TextEncoding::Gb18030},
            {QTextCodec::codecForName("UTF-16LE")->fromUnicode(QChar(0xFEFF) + text),
             TextEncoding::Utf16LeBom},
        };
        for (const auto &f : files) {
            QVERIFY(QSqlQuery().exec(QStringLiteral("DELETE FROM Person")));
            const ImportResult result = importFile(file(f.bytes));
            QCOMPARE(result.encoding, f.encoding);
            QCOMPARE(personRows(), QStringLiteral("U1|0012|张三|1|2005|165;U1|13|欧阳娜娜|2|2006|158"));
        }
    }
    void cancelKeepsWhatWasCommitted()
    {
        QList<csv::Record> records{{1, {QStringLiteral("header")}}};
        for (int i = 1; i <= 500; ++i)
            records << csv::Record{i + 1,
                                   QStringLiteral("U1,%1,人%1,男,2000,170").arg(i).split(QLatin1Char(','))};
        QList<int> calls;
        // Stop when the second report comes (after the first lines were looked at).
        const ImportResult result = importRecords(records, [&calls](int done, int) {
            calls << done;
            return calls.size() < 2;
        });
        QVERIFY(result.cancelled);
        QCOMPARE(result.stoppedAtLine, calls.last() + 1);
        QCOMPARE(result.imported, calls.last() - 1); // the header is not a person
        // Committed, not left in an open transaction that a rollback would undo.
        QSqlDatabase::database().rollback();
        QCOMPARE(testsupport::count("SELECT count(*) FROM Person"), result.imported);
        QVERIFY(summarize(result).text.contains(
            QStringLiteral("导入已取消：从第 %1 行起未导入").arg(result.stoppedAtLine)));
    }
};

QTEST_MAIN(TestPersonImport)
#include "tst_personimport.moc"
