// Result upload: the request the window sends to a local HTTP server (method,
// headers, JSON members and their formats), the texts of the instrument-state
// field, the test-number rules, the refused addresses and the time-out.
#include "app/mainwindow.h"
#include "exchange/upload.h"
#include "testsupport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QSqlError>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {
struct Request
{
    QByteArray method;
    QByteArray path;
    QMap<QByteArray, QByteArray> headers; // names in lower case
    QByteArray body;
};

// A minimal HTTP/1.1 server on 127.0.0.1 that records every request and
// answers as told: 200, 500, nothing at all, or a closed connection.
class HttpServer : public QObject
{
public:
    enum class Answer { Ok, ServerError, Silent, Close };

    HttpServer()
    {
        QObject::connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *s = m_server.nextPendingConnection()) {
                ++connections;
                s->setParent(this);
                QObject::connect(s, &QTcpSocket::readyRead, this, [this, s] { read(s); });
            }
        });
    }
    bool listen() { return m_server.listen(QHostAddress::LocalHost); }
    QString url() const { return QStringLiteral("http://127.0.0.1:%1/upload").arg(m_server.serverPort()); }

    Answer answer = Answer::Ok;
    QByteArray replyBody = "received";
    int connections = 0;
    QList<Request> requests;

private:
    void read(QTcpSocket *s)
    {
        QByteArray &buf = m_buffers[s];
        buf += s->readAll();
        const int headerEnd = buf.indexOf("\r\n\r\n");
        if (headerEnd < 0)
            return;
        Request r;
        const QList<QByteArray> lines = buf.left(headerEnd).split('\n');
        const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
        r.method = first.value(0);
        r.path = first.value(1);
        for (int i = 1; i < lines.size(); ++i) {
            const int colon = lines[i].indexOf(':');
            if (colon > 0)
                r.headers.insert(lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed());
        }
        const int length = r.headers.value("content-length").toInt();
        if (buf.size() < headerEnd + 4 + length)
            return;
        r.body = buf.mid(headerEnd + 4, length);
        requests << r;
        buf.clear();
        switch (answer) {
        case Answer::Ok:
        case Answer::ServerError: {
            const QByteArray status = answer == Answer::Ok ? "200 OK" : "500 Internal Server Error";
            s->write("HTTP/1.1 " + status + "\r\nContent-Type: text/plain\r\nContent-Length: " +
                     QByteArray::number(replyBody.size()) + "\r\nConnection: close\r\n\r\n" + replyBody);
            s->disconnectFromHost();
            break;
        }
        case Answer::Close:
            s->abort();
            break;
        case Answer::Silent:
            break;
        }
    }

    QTcpServer m_server;
    QHash<QTcpSocket *, QByteArray> m_buffers;
};

bool setPostAddress(const QString &address)
{
    QSqlQuery q;
    q.prepare(QStringLiteral("UPDATE Server SET PostAddress = ?"));
    q.addBindValue(address);
    return q.exec();
}

// Inserts one row with the given columns; returns its TestID or -1.
int insertRow(const QString &table, const QVariantMap &values)
{
    QStringList marks;
    for (int i = 0; i < values.size(); ++i)
        marks << QStringLiteral("?");
    QSqlQuery q;
    q.prepare(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                  .arg(table, values.keys().join(QLatin1Char(',')), marks.join(QLatin1Char(','))));
    for (const QVariant &v : values)
        q.addBindValue(v);
    if (!q.exec()) {
        qWarning() << q.lastError();
        return -1;
    }
    return q.lastInsertId().toInt();
}

QJsonObject bodyOf(const Request &r)
{
    return QJsonDocument::fromJson(r.body).object();
}

const QString kSent = QStringLiteral(" 数据上传成功");
const QString kFailed = QStringLiteral(" 上传数据失败!请检查网络环境");
} // namespace

class TestExchangeUpload : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void requestCarriesTheRecord_data();
    void requestCarriesTheRecord();
    void failuresShowTheFailureText_data();
    void failuresShowTheFailureText();
    void refusedAddressesAreNotSent_data();
    void refusedAddressesAreNotSent();
    void fitnessTestNumberRules();
    void missingTestIsNotSent();
    void unitIdentifierIsKept();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<HttpServer> m_server;
};

void TestExchangeUpload::initTestCase()
{
    g_previousHandler = qInstallMessageHandler(captureLog);
}

void TestExchangeUpload::cleanupTestCase()
{
    qInstallMessageHandler(g_previousHandler);
}

void TestExchangeUpload::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(testsupport::startProcessOn(m_dir->filePath(QStringLiteral("maindb.db"))));
    m_server = std::make_unique<HttpServer>();
    QVERIFY(m_server->listen());
    QVERIFY(setPostAddress(m_server->url()));
    g_log.clear();
}

void TestExchangeUpload::cleanup()
{
    m_server.reset();
    releaseProcessState();
}

void TestExchangeUpload::requestCarriesTheRecord_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<QVariantMap>("row");
    QTest::addColumn<int>("memberCount");
    QTest::addColumn<QVariantMap>("expected"); // members checked as exact texts

    QTest::newRow("fitness")
        << QStringLiteral("ResultFIT")
        << QVariantMap{{"UUID", "UNIT-7"}, {"UID", "0042"},     {"Name", "李四"},
                       {"Sex", "2"},       {"BirthYear", 1988}, {"TestDate", "2024-05-02"},
                       {"Height", 172.46}, {"Weight", 61.04},   {"WOLI", 50},
                       {"FHL", 3200},      {"TQQ", -3.26},      {"TZ", 55.56},
                       {"YWQZ", 35},       {"FYS", 412},        {"FWC", 12},
                       {"BYDJ", 30},       {"ZT", 41.96},       {"TY", 201}}
        << 19 << QVariantMap{{"testItem", "Fit"}, {"UUID", "UNIT-7"}, {"UID", "0042"},
                             {"name", "李四"},    {"sex", "2"},       {"testDate", "2024-05-02"},
                             {"Height", "172.5"}, {"Weight", "61.0"}, {"WOLI", "50.0"},
                             {"FHL", "3200"},     {"TQQ", "-3.3"},    {"TZ", "55.6"},
                             {"YWQZ", "35"},      {"FYS", "412"},     {"FWC", "12"},
                             {"BYDJ", "30.0"},    {"ZT", "42.0"},     {"TY", "201.0"}};
    QTest::newRow("body composition, athletic") << QStringLiteral("Result")
                                                << QVariantMap{{"UUID", "UNIT-7"},
                                                               {"UID", "0042"},
                                                               {"Name", "李四"},
                                                               {"Sex", "1"},
                                                               {"TestDate", "2024-05-03 10:11"},
                                                               {"Height", 165},
                                                               {"Weight", 70.26},
                                                               {"WHR", 0.856},
                                                               {"BMR", 1520},
                                                               {"Edema", 0.3849},
                                                               {"Body_age", 35.0},
                                                               {"Score", 78.5},
                                                               {"LiverRisk", 30},
                                                               {"BodyType", "运动员型"},
                                                               {"RL_water", 8.04},
                                                               {"Standard_weight", 63}}
                                                << 47
                                                << QVariantMap{{"testItem", "BCA"},
                                                               {"testDate", "2024-05-03 10:11"},
                                                               {"height", "165.0"},
                                                               {"Weight", "70.3"},
                                                               {"WHR", "0.86"},
                                                               {"BMR", "1520"},
                                                               {"Edema", "0.38"},
                                                               {"BodyAge", "35"},
                                                               {"Score", "78.5"},
                                                               {"LiverRisk", "30"},
                                                               {"BodyType", "9"},
                                                               {"RL_water", "8.0"},
                                                               {"Standard_weight", "63.0"},
                                                               {"Fat", "0.0"}};
    QTest::newRow("body composition, no body type")
        << QStringLiteral("Result") << QVariantMap{{"UID", "7"}, {"BodyType", ""}, {"BMR", 1234.5678}} << 47
        << QVariantMap{{"BodyType", "8"}, {"BMR", "1234.57"}, {"name", ""}};
    QTest::newRow("body composition, unknown body type")
        << QStringLiteral("Result") << QVariantMap{{"UID", "7"}, {"BodyType", "标准型"}} << 47
        << QVariantMap{{"BodyType", "8"}};
}

void TestExchangeUpload::requestCarriesTheRecord()
{
    QFETCH(QString, table);
    QFETCH(QVariantMap, row);
    QFETCH(int, memberCount);
    QFETCH(QVariantMap, expected);

    const int testId = insertRow(table, row);
    QVERIFY(testId > 0);
    MainWindow w;
    if (table == QLatin1String("ResultFIT"))
        w.uploadFitTest(testId);
    else
        w.uploadBcaTest(testId);
    QTRY_COMPARE_WITH_TIMEOUT(w.stateEdit()->text(), kSent, 10000);

    QCOMPARE(m_server->requests.size(), 1);
    const Request &r = m_server->requests.first();
    QCOMPARE(r.method, QByteArray("POST"));
    QCOMPARE(r.path, QByteArray("/upload"));
    QCOMPARE(r.headers.value("content-type"), QByteArray("application/x-www-form-urlencoded"));
    QCOMPARE(r.headers.value("content-length").toInt(), r.body.size());

    const QJsonObject body = bodyOf(r);
    QCOMPARE(body.size(), memberCount);
    for (auto it = body.begin(); it != body.end(); ++it)
        QVERIFY2(it.value().isString(), qPrintable(it.key() + QStringLiteral(" is not a text")));
    QCOMPARE(body.value(QStringLiteral("testID")).toString(), QString::number(testId));
    for (auto it = expected.begin(); it != expected.end(); ++it)
        QCOMPARE(body.value(it.key()).toString(), it.value().toString());
    // The body is the indented JSON text the log shows, and the server's answer is logged.
    QVERIFY(r.body.contains("\n    \""));
    QVERIFY(g_log.contains(QStringLiteral("replyMessage= \"received\"")));
}

void TestExchangeUpload::failuresShowTheFailureText_data()
{
    QTest::addColumn<int>("answer");
    QTest::newRow("server error 500") << int(HttpServer::Answer::ServerError);
    QTest::newRow("connection dropped") << int(HttpServer::Answer::Close);
    QTest::newRow("no answer: time-out") << int(HttpServer::Answer::Silent);
}

void TestExchangeUpload::failuresShowTheFailureText()
{
    QFETCH(int, answer);
    m_server->answer = HttpServer::Answer(answer);
    const int testId = insertRow(QStringLiteral("ResultFIT"), {{"UID", "1"}, {"WOLI", 20}});
    MainWindow w;
    w.setUploadTimeout(300);
    QElapsedTimer clock;
    clock.start();
    w.uploadFitTest(testId);
    QTRY_COMPARE_WITH_TIMEOUT(w.stateEdit()->text(), kFailed, 10000);
    // Qt's HTTP stack sends once more when the connection drops before an answer.
    QVERIFY(!m_server->requests.isEmpty());
    if (HttpServer::Answer(answer) == HttpServer::Answer::Silent) {
        QVERIFY(clock.elapsed() >= 250);
        QVERIFY(g_log.contains(QStringLiteral("upload timed out")));
    }
    QVERIFY(!w.stateEdit()->toolTip().isEmpty()); // the reason, for the operator
    QVERIFY(!g_log.join(QLatin1Char('\n')).contains(QStringLiteral("replyMessage=")));
}

void TestExchangeUpload::refusedAddressesAreNotSent_data()
{
    QTest::addColumn<QString>("address");
    QTest::newRow("empty") << QString();
    QTest::newRow("ftp") << QStringLiteral("ftp://127.0.0.1/upload");
    QTest::newRow("local file") << QStringLiteral("file:///tmp/upload.json");
    QTest::newRow("no scheme") << QStringLiteral("127.0.0.1/upload");
    QTest::newRow("no host") << QStringLiteral("http:///upload");
}

void TestExchangeUpload::refusedAddressesAreNotSent()
{
    QFETCH(QString, address);
    QVERIFY(setPostAddress(address));
    const int testId = insertRow(QStringLiteral("Result"), {{"UID", "1"}});
    MainWindow w;
    w.uploadBcaTest(testId);
    // Refused at once, before anything could be sent.
    QCOMPARE(w.stateEdit()->text(), kFailed);
    QVERIFY(!w.stateEdit()->toolTip().isEmpty());
    QTest::qWait(200);
    QCOMPARE(m_server->connections, 0);
}

void TestExchangeUpload::fitnessTestNumberRules()
{
    const int older = insertRow(QStringLiteral("ResultFIT"), {{"UID", "1"}, {"Name", "甲"}});
    const int newest = insertRow(QStringLiteral("ResultFIT"), {{"UID", "2"}, {"Name", "乙"}});
    MainWindow w;

    struct Case
    {
        QString field;
        int expectedTest;
    };
    // The page field decides; empty or no number means 0, the newest row.
    const Case cases[] = {{QString::number(older), older},
                          {QString(), newest},
                          {QStringLiteral("abc"), newest},
                          {QString::number(newest), newest}};
    for (const Case &c : cases) {
        m_server->requests.clear();
        w.stateEdit()->clear();
        w.fitTestIdEdit()->setText(c.field);
        w.uploadPhy();
        QTRY_COMPARE_WITH_TIMEOUT(w.stateEdit()->text(), kSent, 10000);
        QCOMPARE(m_server->requests.size(), 1);
        QCOMPARE(bodyOf(m_server->requests.first()).value(QStringLiteral("testID")).toString(),
                 QString::number(c.expectedTest));
        QCOMPARE(global::currentTestID, c.field.toInt());
    }

    // The body-composition upload sends global::currentTestID; 0 is the newest row,
    // the one the body-composition page shows after a measurement.
    insertRow(QStringLiteral("Result"), {{"UID", "1"}});
    const int bcaNewest = insertRow(QStringLiteral("Result"), {{"UID", "2"}});
    m_server->requests.clear();
    w.stateEdit()->clear();
    global::currentTestID = 0;
    w.uploadBCA();
    QTRY_COMPARE_WITH_TIMEOUT(w.stateEdit()->text(), kSent, 10000);
    QCOMPARE(bodyOf(m_server->requests.first()).value(QStringLiteral("testID")).toString(),
             QString::number(bcaNewest));
}

void TestExchangeUpload::missingTestIsNotSent()
{
    MainWindow w;
    // An empty table, and a test number that was deleted.
    w.uploadFitTest(0);
    QCOMPARE(w.stateEdit()->text(), exchange::uploadNoRecordText());
    const int testId = insertRow(QStringLiteral("Result"), {{"UID", "1"}});
    w.uploadBcaTest(testId + 1);
    QCOMPARE(w.stateEdit()->text(), exchange::uploadNoRecordText());
    QTest::qWait(200);
    QCOMPARE(m_server->connections, 0);
}

void TestExchangeUpload::unitIdentifierIsKept()
{
    MainWindow w;
    const QString unit = w.unitId();
    QVERIFY(!unit.isEmpty());
    const int fit = insertRow(QStringLiteral("ResultFIT"), {{"UUID", "OTHER-UNIT"}, {"UID", "1"}});
    const int bca = insertRow(QStringLiteral("Result"), {{"UUID", "THIRD-UNIT"}, {"UID", "1"}});
    w.uploadFitTest(fit);
    QTRY_COMPARE_WITH_TIMEOUT(w.stateEdit()->text(), kSent, 10000);
    w.stateEdit()->clear();
    w.uploadBcaTest(bca);
    QTRY_COMPARE_WITH_TIMEOUT(w.stateEdit()->text(), kSent, 10000);
    QCOMPARE(bodyOf(m_server->requests.value(0)).value(QStringLiteral("UUID")).toString(),
             QStringLiteral("OTHER-UNIT"));
    QCOMPARE(bodyOf(m_server->requests.value(1)).value(QStringLiteral("UUID")).toString(),
             QStringLiteral("THIRD-UNIT"));
    QCOMPARE(w.unitId(), unit);
}

QTEST_MAIN(TestExchangeUpload)
#include "tst_exchange_upload.moc"
