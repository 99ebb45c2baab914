// Result upload: the request the window sends to a local HTTP server (method,
// headers, JSON members and their formats), the texts of the instrument-state
// field, the test-number rules, the refused addresses and the time-out.
#include "app/mainwindow.h"
#include "exchange/upload.h"
#include "tests/outputcheck.h"

#include <QLineEdit>
#include <QTcpServer>
#include <QTcpSocket>

namespace {
struct Request
{
    QByteArray head; // request line and headers, names in lower case
    QByteArray body;
    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
};

// A minimal HTTP/1.1 server on 127.0.0.1 that records every request and
// answers as told: 200, 500, nothing at all, or a closed connection.
class HttpServer : public QObject
{
public:
    enum Answer { Ok, ServerError, Silent, Close };
    HttpServer()
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *s = m_server.nextPendingConnection()) {
                ++connections;
                s->setParent(this);
                connect(s, &QTcpSocket::readyRead, this, [this, s] { read(s); });
            }
        });
        m_server.listen(QHostAddress::LocalHost);
    }
    QString url() const { return QStringLiteral("http://127.0.0.1:%1/upload").arg(m_server.serverPort()); }

    Answer answer = Ok;
    int connections = 0;
    QList<Request> requests;

private:
    void read(QTcpSocket *s)
    {
        QByteArray &buf = m_buffers[s];
        buf += s->readAll();
        const int headerEnd = buf.indexOf("\r\n\r\n");
        const QRegularExpressionMatch length = QRegularExpression(QStringLiteral("\ncontent-length: *(\\d+)"),
                                                                  QRegularExpression::CaseInsensitiveOption)
                                                   .match(QString::fromLatin1(buf.left(headerEnd)));
        if (headerEnd < 0 || buf.size() < headerEnd + 4 + length.captured(1).toInt())
            return;
        requests << Request{buf.left(headerEnd).toLower(), buf.mid(headerEnd + 4)};
        buf.clear();
        if (answer == Ok || answer == ServerError) {
            s->write(answer == Ok ? "HTTP/1.1 200 OK\r\n" : "HTTP/1.1 500 Internal Server Error\r\n");
            s->write("Content-Length: 8\r\nConnection: close\r\n\r\nreceived");
            s->disconnectFromHost();
        } else if (answer == Close) {
            s->abort();
        }
    }

    QTcpServer m_server;
    QHash<QTcpSocket *, QByteArray> m_buffers;
};

// Inserts "column=value;..." into |table|; the row's TestID.
int insert(const QString &table, const QString &row)
{
    QStringList columns;
    QVariantList values;
    for (const QString &pair : row.split(QLatin1Char(';'))) {
        columns << pair.section(QLatin1Char('='), 0, 0);
        values << pair.section(QLatin1Char('='), 1);
    }
    return outputcheck::insertRow(table, columns.join(QStringLiteral(", ")), values);
}

bool setPostAddress(const QString &address)
{
    QSqlQuery q;
    q.prepare(QStringLiteral("UPDATE Server SET PostAddress = ?"));
    q.addBindValue(address);
    return q.exec();
}

const QString kSent = QStringLiteral(" 数据上传成功");
const QString kFailed = QStringLiteral(" 上传数据失败!请检查网络环境");
} // namespace

class TestExchangeUpload : public QObject
{
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<HttpServer> m_server;

private slots:
    void initTestCase() { g_previousHandler = qInstallMessageHandler(captureLog); }
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(testsupport::startProcessOn(m_dir->filePath(QStringLiteral("maindb.db"))));
        m_server = std::make_unique<HttpServer>();
        QVERIFY(setPostAddress(m_server->url()));
        g_log.clear();
    }
    void cleanup()
    {
        m_server.reset();
        releaseProcessState();
    }

    // A row stored ("column=value;...") and the members its upload carries,
    // as exact texts.
    void requestCarriesTheRecord_data()
    {
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("row");
        QTest::addColumn<int>("memberCount");
        QTest::addColumn<QString>("expected");
        // clang-format off
        QTest::newRow("fitness") << "ResultFIT"
            << "UUID=UNIT-7;UID=0042;Name=李四;Sex=2;BirthYear=1988;TestDate=2024-05-02;Height=172.46;Weight=61.04;"
               "WOLI=50;FHL=3200;TQQ=-3.26;TZ=55.56;YWQZ=35;FYS=412;FWC=12;BYDJ=30;ZT=41.96;TY=201" << 19
            << "testItem=Fit;UUID=UNIT-7;UID=0042;name=李四;sex=2;testDate=2024-05-02;Height=172.5;Weight=61.0;"
               "WOLI=50.0;FHL=3200;TQQ=-3.3;TZ=55.6;YWQZ=35;FYS=412;FWC=12;BYDJ=30.0;ZT=42.0;TY=201.0";
        QTest::newRow("body composition, athletic") << "Result"
            << "UUID=UNIT-8;UID=0042;Name=李四;Sex=1;TestDate=2024-05-03 10:11;Height=165;Weight=70.26;WHR=0.856;"
               "BMR=1520;Edema=0.3849;Body_age=35.0;Score=78.5;LiverRisk=30;BodyType=运动员型;RL_water=8.04;"
               "Standard_weight=63" << 47
            << "testItem=BCA;UUID=UNIT-8;testDate=2024-05-03 10:11;height=165.0;Weight=70.3;WHR=0.86;BMR=1520;"
               "Edema=0.38;BodyAge=35;Score=78.5;LiverRisk=30;BodyType=9;RL_water=8.0;Standard_weight=63.0;Fat=0.0";
        QTest::newRow("no body type") << "Result" << "UID=7;BodyType=;BMR=1234.5678" << 47
                                      << "BodyType=8;BMR=1234.57;name=";
        QTest::newRow("unknown body type") << "Result" << "UID=7;BodyType=标准型" << 47 << "BodyType=8";
        // clang-format on
    }
    // Every member is a text; the record's own unit identifier is sent and
    // the window's is left unchanged.
    void requestCarriesTheRecord()
    {
        QFETCH(QString, table);
        QFETCH(QString, row);
        QFETCH(int, memberCount);
        QFETCH(QString, expected);
        const int testId = insert(table, row);
        QVERIFY(testId > 0);
        MainWindow w;
        const QString unit = w.unitId();
        table == QLatin1String("ResultFIT") ? w.uploadFitTest(testId) : w.uploadBcaTest(testId);
        QTRY_COMPARE_WITH_TIMEOUT(w.stateEdit()->text(), kSent, 10000);
        QCOMPARE(w.unitId(), unit);

        QCOMPARE(m_server->requests.size(), 1);
        const Request &r = m_server->requests.first();
        QVERIFY2(r.head.startsWith("post /upload http/1.1\r\n"), r.head.constData());
        QVERIFY(r.head.contains("\r\ncontent-type: application/x-www-form-urlencoded\r\n"));
        QVERIFY(r.head.contains("\r\ncontent-length: " + QByteArray::number(r.body.size())));
        const QJsonObject body = r.json();
        QCOMPARE(body.size(), memberCount);
        for (auto it = body.begin(); it != body.end(); ++it)
            QVERIFY2(it.value().isString(), qPrintable(it.key()));
        QCOMPARE(body.value(QStringLiteral("testID")).toString(), QString::number(testId));
        for (const QString &member : expected.split(QLatin1Char(';')))
            QCOMPARE(member.section('=', 0, 0) + '=' + body.value(member.section('=', 0, 0)).toString(),
                     member);
        QVERIFY(g_log.contains(QStringLiteral("replyMessage= \"received\"")));
    }

    // A server error, a dropped connection and a server that never answers
    // (time-out shortened) all show the failure text with the reason.
    void failuresShowTheFailureText()
    {
        const int testId = insert("ResultFIT", "UID=1;WOLI=20");
        for (HttpServer::Answer answer : {HttpServer::ServerError, HttpServer::Close, HttpServer::Silent}) {
            m_server->answer = answer;
            m_server->requests.clear();
            MainWindow w;
            w.setUploadTimeout(300);
            w.uploadFitTest(testId);
            QTRY_COMPARE_WITH_TIMEOUT(w.stateEdit()->text(), kFailed, 10000);
            QVERIFY(!m_server->requests.isEmpty());
            QVERIFY(!w.stateEdit()->toolTip().isEmpty()); // the reason, for the operator
        }
    }

    // Refused addresses fail at once, before anything could be sent; a test
    // number without a record is not sent either.
    void nothingIsSent()
    {
        QVERIFY(insert("Result", "UID=1") > 0);
        for (const QString address :
             {"", "ftp://127.0.0.1/upload", "file:///tmp/upload.json", "http:///upload", "ok"}) {
            QVERIFY(setPostAddress(address == "ok" ? m_server->url() : address));
            MainWindow w;
            w.uploadBcaTest(address == "ok" ? 2 : 0);
            QCOMPARE(w.stateEdit()->text(), address == "ok" ? exchange::uploadNoRecordText() : kFailed);
            QCOMPARE(w.stateEdit()->toolTip().isEmpty(), address == "ok");
        }
        QTest::qWait(200);
        QCOMPARE(m_server->connections, 0);
    }

    // The fitness page's field decides; empty or not a number means 0, the
    // newest row. The body-composition upload sends the record its page shows.
    void testNumberRules()
    {
        const int older = insert("ResultFIT", "UID=1");
        const int newest = insert("ResultFIT", "UID=2");
        const int bcaOlder = insert("Result", "UID=1");
        insert("Result", "UID=2");
        MainWindow w;
        // The body-composition page shows the older record; a fitness row is then chosen.
        global::currentTestID = bcaOlder;
        w.displayData();
        // clang-format off
        const struct { QString field; int expected; } cases[] = {
            {QString::number(older), older}, {QString(), newest}, {"abc", newest}, {"bca", bcaOlder}};
        // clang-format on
        for (const auto &c : cases) {
            m_server->requests.clear();
            w.stateEdit()->clear();
            if (c.field == QLatin1String("bca")) {
                w.uploadBCA(); // the page's record, not the fitness row in the shared state
            } else {
                w.fitTestIdEdit()->setText(c.field);
                w.uploadPhy();
                QCOMPARE(global::currentTestID, c.field.toInt());
            }
            QTRY_COMPARE_WITH_TIMEOUT(w.stateEdit()->text(), kSent, 10000);
            QCOMPARE(m_server->requests.size(), 1);
            QCOMPARE(m_server->requests.first().json().value("testID").toString(),
                     QString::number(c.expected));
        }
    }
};

QTEST_MAIN(TestExchangeUpload)
#include "tst_exchange_upload.moc"
