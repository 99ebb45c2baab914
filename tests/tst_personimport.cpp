// Import of people from CSV: field conversions, line skipping, the three
// encodings spreadsheets write, the single transaction with cancel, the
// closing summary, and the slot with its boxes on a real SQLite file.
#include "app/mainwindow.h"
#include "people/personimport.h"
#include "testsupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QPointer>
#include <QProgressDialog>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QTimer>
#include <QtTest>

#include <functional>

using namespace personimport;

namespace {
int logCount(const QString &prefix)
{
    int n = 0;
    for (const QString &line : qAsConst(g_log))
        n += line.startsWith(prefix) ? 1 : 0;
    return n;
}

// The Person rows as "UUID|UID|Name|Sex|BirthYear|Height|Phone|Note", oldest first;
// NULL shows as "<null>".
QStringList personRows()
{
    QStringList rows;
    QSqlQuery q;
    if (!q.exec(QStringLiteral("SELECT UUID, UID, Name, Sex, BirthYear, Height, Phone, Note FROM Person "
                               "ORDER BY ID")))
        return {QStringLiteral("query failed")};
    while (q.next()) {
        QStringList fields;
        for (int i = 0; i < 8; ++i)
            fields << (q.isNull(i) ? QStringLiteral("<null>") : q.value(i).toString());
        rows << fields.join(QLatin1Char('|'));
    }
    return rows;
}

int personCount()
{
    return testsupport::scalar(QStringLiteral("SELECT count(*) FROM Person")).toInt();
}

struct BoxSeen
{
    bool seen = false;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString title;
    QString text;
    QStringList buttons;
};

// Records and closes the next message box.
void closeNextBox(BoxSeen *seen)
{
    auto *timer = new QTimer;
    auto *clock = new QElapsedTimer;
    clock->start();
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, clock, seen] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box && clock->elapsed() < 10000)
            return;
        timer->stop();
        timer->deleteLater();
        delete clock;
        if (!box)
            return;
        seen->seen = true;
        seen->icon = box->icon();
        seen->title = box->windowTitle();
        seen->text = box->text();
        for (QAbstractButton *b : box->buttons())
            seen->buttons << b->text();
        box->buttons().first()->click();
    });
    timer->start();
}

QByteArray gb18030(const QString &text)
{
    return QTextCodec::codecForName("GB18030")->fromUnicode(text);
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

const QString kHeader = QStringLiteral("单位,编号,姓名,性别,出生年份,身高");
} // namespace

class TestPersonImport : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void lineConversions();
    void sameRowsFromEveryEncoding();
    void sampleLineStoredAsGiven();
    void shortAndEmptyLinesAreSkippedAndCounted();
    void headerOnlyAndEmptyFile();
    void failedInsertsAreCountedAndTheRestKept();
    void cancelKeepsWhatWasImported();
    void slotReportsWhatHappened();
    void slotWarnsWhenTheFileCannotBeOpened();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestPersonImport::initTestCase()
{
    g_previousHandler = qInstallMessageHandler(captureLog);
}

void TestPersonImport::cleanupTestCase()
{
    qInstallMessageHandler(g_previousHandler);
}

void TestPersonImport::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(testsupport::startProcessOn(m_dir->filePath(QStringLiteral("maindb.db"))));
    g_log.clear();
}

void TestPersonImport::cleanup()
{
    releaseProcessState();
}

void TestPersonImport::lineConversions()
{
    QCOMPARE(convertUid(QStringLiteral("N0012")), QStringLiteral("0012"));
    QCOMPARE(convertUid(QStringLiteral("n7")), QStringLiteral("7"));
    QCOMPARE(convertUid(QStringLiteral("NN7")), QStringLiteral("N7"));
    QCOMPARE(convertUid(QStringLiteral("7N")), QStringLiteral("7N"));
    QCOMPARE(convertUid(QStringLiteral(" N7")), QStringLiteral(" N7")); // fields are not trimmed
    QCOMPARE(convertUid(QString()), QString());
    QCOMPARE(logCount(QStringLiteral("去掉首字母")), 3);

    QCOMPARE(convertSex(QStringLiteral("男")), QStringLiteral("1"));
    for (const QString &other :
         {QStringLiteral("女"), QStringLiteral("F"), QStringLiteral("2"), QStringLiteral(" 男"),
          QStringLiteral("男 "), QStringLiteral("1"), QString()})
        QCOMPARE(convertSex(other), QStringLiteral("2"));

    const auto row = parseLine(QStringLiteral("U1,N0012,张三,男,2005,165,extra,fields"));
    QVERIFY(row);
    QCOMPARE(row->uuid, QStringLiteral("U1"));
    QCOMPARE(row->uid, QStringLiteral("0012"));
    QCOMPARE(row->name, QStringLiteral("张三"));
    QCOMPARE(row->sex, QStringLiteral("1"));
    QCOMPARE(row->birthYear, QStringLiteral("2005"));
    QCOMPARE(row->height, QStringLiteral("165"));

    // Empty fields are kept in place; a name with blanks keeps them.
    const auto sparse = parseLine(QStringLiteral(",u2, 李 四 ,女,,"));
    QVERIFY(sparse);
    QCOMPARE(sparse->uuid, QString());
    QCOMPARE(sparse->name, QStringLiteral(" 李 四 "));
    QCOMPARE(sparse->birthYear, QString());

    QVERIFY(!parseLine(QString()));
    QVERIFY(!parseLine(QStringLiteral("U1,N1,张三,男,2005")));
    QVERIFY(!parseLine(QStringLiteral(",,,,,")));
    QVERIFY(!parseLine(QStringLiteral(" , ,,\t,,")));

    QCOMPARE(
        splitLines(QStringLiteral("a\r\nb\nc\rd\n")),
        (QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("d")}));
    QCOMPARE(splitLines(QStringLiteral("a\n\nb")),
             (QStringList{QStringLiteral("a"), QString(), QStringLiteral("b")}));
    QVERIFY(splitLines(QString()).isEmpty());
}

void TestPersonImport::sameRowsFromEveryEncoding()
{
    const QString text =
        kHeader + QStringLiteral("\r\nU1,N0012,张三,男,2005,165\r\nU1,n13,欧阳娜娜,女,2006,158\r\n"
                                 "U1,14,王小明,男,2004,172\r\n");
    const struct
    {
        const char *name;
        QByteArray bytes;
        TextEncoding encoding;
    } files[] = {
        {"utf8.csv", text.toUtf8(), TextEncoding::Utf8},
        {"bom.csv", "\xEF\xBB\xBF" + text.toUtf8(), TextEncoding::Utf8Bom},
        {"gb.csv", gb18030(text), TextEncoding::Gb18030},
    };
    QStringList first;
    for (const auto &f : files) {
        QSqlQuery clear;
        QVERIFY(clear.exec(QStringLiteral("DELETE FROM Person")));
        const QString path = m_dir->filePath(QLatin1String(f.name));
        QVERIFY(writeFile(path, f.bytes));
        const ImportResult result = importFile(path);
        QVERIFY2(result.opened, f.name);
        QCOMPARE(result.encoding, f.encoding);
        QCOMPARE(result.imported, 3);
        QVERIFY(result.skippedLines.isEmpty());
        const QStringList rows = personRows();
        QCOMPARE(rows.size(), 3);
        if (first.isEmpty())
            first = rows;
        QCOMPARE(rows, first);
    }
    QCOMPARE(first.at(1), QStringLiteral("U1|13|欧阳娜娜|2|2006|158|<null>|<null>"));
}

void TestPersonImport::sampleLineStoredAsGiven()
{
    const ImportResult result =
        importLines({kHeader, QStringLiteral("U1,N0012,张三,男,2005,165"),
                     QStringLiteral("U1,n7,李四,女,2001,150"), QStringLiteral("U1,NN7,王五,F,2002,151"),
                     QStringLiteral("U1,8,赵六,2,2003,152"), QStringLiteral("U1,9,钱七, 男,2004,153")});
    QCOMPARE(result.imported, 5);
    QCOMPARE(personRows(), (QStringList{QStringLiteral("U1|0012|张三|1|2005|165|<null>|<null>"),
                                        QStringLiteral("U1|7|李四|2|2001|150|<null>|<null>"),
                                        QStringLiteral("U1|N7|王五|2|2002|151|<null>|<null>"),
                                        QStringLiteral("U1|8|赵六|2|2003|152|<null>|<null>"),
                                        QStringLiteral("U1|9|钱七|2|2004|153|<null>|<null>")}));
    QCOMPARE(testsupport::scalar(QStringLiteral("SELECT typeof(UID) FROM Person LIMIT 1")).toString(),
             QStringLiteral("text"));
    QCOMPARE(logCount(QStringLiteral("人员数据已插入! 行号：")), 5);
    // A quote or an SQL fragment in a field is stored as written.
    const ImportResult odd =
        importLines({kHeader, QStringLiteral("U1,10,O'Neil'); DROP TABLE Person;--,男,1,1")});
    QCOMPARE(odd.imported, 1);
    QCOMPARE(testsupport::scalar(QStringLiteral("SELECT Name FROM Person WHERE UID='10'")).toString(),
             QStringLiteral("O'Neil'); DROP TABLE Person;--"));
}

void TestPersonImport::shortAndEmptyLinesAreSkippedAndCounted()
{
    const QString path = m_dir->filePath(QStringLiteral("gaps.csv"));
    QVERIFY(
        writeFile(path, (kHeader + QStringLiteral("\nU1,1,甲,男,2000,170\n\nU1,2,乙,女\nU1,3,丙,女,2001,160\n"
                                                  ",,,,,\nU1,4,丁,男,2002,171"))
                            .toUtf8()));
    const ImportResult result = importFile(path);
    QCOMPARE(result.lineCount, 7);
    QCOMPARE(result.imported, 3);
    QCOMPARE(result.skippedLines, (QList<int>{3, 4, 6}));
    QVERIFY(result.failedLines.isEmpty());
    QCOMPARE(personCount(), 3);
    QCOMPARE(logCount(QStringLiteral("line skipped")), 3);
}

void TestPersonImport::headerOnlyAndEmptyFile()
{
    ImportResult header = importLines({kHeader});
    QVERIFY(header.opened);
    QCOMPARE(header.imported, 0);
    QVERIFY(header.skippedLines.isEmpty());
    // A header that looks like data is skipped as well.
    header = importLines({QStringLiteral("U1,1,甲,男,2000,170")});
    QCOMPARE(header.imported, 0);
    QCOMPARE(personCount(), 0);

    const Summary s = summarize(header);
    QVERIFY(!s.information);
    QVERIFY2(s.text.contains(QStringLiteral("只有标题行")), qPrintable(s.text));
    QVERIFY(summarize(importLines({})).text.contains(QStringLiteral("文件是空的")));
}

void TestPersonImport::failedInsertsAreCountedAndTheRestKept()
{
    QSqlQuery q;
    QVERIFY(q.exec(QStringLiteral("CREATE TRIGGER no_x BEFORE INSERT ON Person WHEN new.Name LIKE 'x%' "
                                  "BEGIN SELECT RAISE(ABORT, 'name refused'); END")));
    const ImportResult result =
        importLines({kHeader, QStringLiteral("U1,1,甲,男,2000,170"), QStringLiteral("U1,2,x1,男,2000,170"),
                     QStringLiteral("U1,3,乙,男,2000,170"), QStringLiteral("U1,4,x2,男,2000,170")});
    QCOMPARE(result.imported, 2);
    QCOMPARE(result.failedLines, (QList<int>{3, 5}));
    QVERIFY(result.insertError.contains(QStringLiteral("name refused")));
    QCOMPARE(personCount(), 2);
    const Summary s = summarize(result);
    QVERIFY(!s.information);
    QVERIFY2(s.text.contains(QStringLiteral("第 3、5 行")), qPrintable(s.text));
    QVERIFY(s.text.contains(QStringLiteral("name refused")));
}

void TestPersonImport::cancelKeepsWhatWasImported()
{
    QStringList lines{kHeader};
    for (int i = 1; i <= 500; ++i)
        lines << QStringLiteral("U1,%1,人%1,男,2000,170").arg(i);
    QList<int> calls;
    // Stop when the second report comes (after lines 1 to 50 were looked at).
    const ImportResult result = importLines(lines, [&calls](int done, int total) {
        calls << done;
        return total == 501 && calls.size() < 2;
    });
    QVERIFY(result.cancelled);
    QCOMPARE(calls.size(), 2);
    QCOMPARE(result.stoppedAtLine, calls.last() + 1);
    QCOMPARE(result.imported, calls.last() - 1); // the header is not a person
    QCOMPARE(personCount(), result.imported);
    // Committed, not left in an open transaction: a second connection sees them.
    {
        QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other"));
        other.setDatabaseName(QSqlDatabase::database().databaseName());
        QVERIFY(other.open());
        QSqlQuery count(other);
        QVERIFY(count.exec(QStringLiteral("SELECT count(*) FROM Person")) && count.next());
        QCOMPARE(count.value(0).toInt(), result.imported);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("other"));
    const Summary s = summarize(result);
    QVERIFY(!s.information);
    QVERIFY2(s.text.contains(QStringLiteral("导入已取消")), qPrintable(s.text));
    QVERIFY(s.text.contains(QString::number(result.stoppedAtLine)));

    // Without a cancel the progress ends at the line count.
    calls.clear();
    QVERIFY(!importLines(lines, [&calls](int done, int) {
                 calls << done;
                 return true;
             }).cancelled);
    QCOMPARE(calls.last(), 501);
}

void TestPersonImport::slotReportsWhatHappened()
{
    MainWindow w;
    const QString good = m_dir->filePath(QStringLiteral("good.csv"));
    QVERIFY(writeFile(
        good, gb18030(kHeader + QStringLiteral("\r\nU1,N1,张三,男,2005,165\r\nU1,N2,李四,女,2005,160\r\n"))));
    BoxSeen box;
    closeNextBox(&box);
    w.presetImportFile(good);
    w.usersImport();
    QVERIFY(box.seen);
    QCOMPARE(box.icon, QMessageBox::Information);
    QCOMPARE(box.title, QStringLiteral("导入数据成功"));
    QVERIFY(box.text.contains(QStringLiteral("2 人")));
    QCOMPARE(box.buttons, QStringList{QStringLiteral("确定")});
    QCOMPARE(personRows().at(0), QStringLiteral("U1|1|张三|1|2005|165|<null>|<null>"));
    QCOMPARE(logCount(QStringLiteral("usersImport function")), 1);
    QCOMPARE(logCount(QStringLiteral("refreshPerson function")), 1);

    // Every line fails: a warning that says so, not a success box.
    const QString bad = m_dir->filePath(QStringLiteral("bad.csv"));
    QVERIFY(writeFile(bad, (kHeader + QStringLiteral("\nU1,1,甲\n\nU1,2")).toUtf8()));
    box = BoxSeen();
    closeNextBox(&box);
    w.presetImportFile(bad);
    w.usersImport();
    QVERIFY(box.seen);
    QCOMPARE(box.icon, QMessageBox::Warning);
    QCOMPARE(box.title, QStringLiteral("导入数据"));
    QVERIFY2(box.text.contains(QStringLiteral("共导入 0 人，跳过 3 行")), qPrintable(box.text));
    QVERIFY(box.text.contains(QStringLiteral("2、3、4")));
    QCOMPARE(personCount(), 2);
}

void TestPersonImport::slotWarnsWhenTheFileCannotBeOpened()
{
    MainWindow w;
    for (const QString &path : {m_dir->filePath(QStringLiteral("missing.csv")), QString()}) {
        g_log.clear();
        BoxSeen box;
        closeNextBox(&box);
        w.presetImportFile(path);
        w.usersImport();
        QVERIFY(box.seen);
        QCOMPARE(box.icon, QMessageBox::Warning);
        QCOMPARE(box.title, QStringLiteral("导入数据"));
        QCOMPARE(box.text, QStringLiteral("文件无法打开!"));
        QCOMPARE(logCount(QStringLiteral("Cannot open file for writing: ")), 1);
        QCOMPARE(logCount(QStringLiteral("refreshPerson function")), 1);
    }
    QCOMPARE(personCount(), 0);
}

QTEST_MAIN(TestPersonImport)
#include "tst_personimport.moc"
