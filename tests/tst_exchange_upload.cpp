// Result upload: the request the window sends to a local HTTP server (method,
// headers, JSON members and their formats), the reason of every kind of
// failure in words (real local servers: HTTP statuses, refused, dropped,
// silent, a self-signed certificate), the status-bar and list-dialog
// messages, the test-number rules and the refused addresses.
#include "app/mainwindow.h"
#include "dialogs/resultlistdlg.h"
#include "exchange/upload.h"
#include "tests/outputcheck.h"

#include <QLabel>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QSslKey>
#include <QSslSocket>
#include <QTableView>
#include <QTcpServer>
#include <QTcpSocket>

namespace {
struct Request
{
    QByteArray head; // request line and headers, names in lower case
    QByteArray body;
    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
};

// A TCP server that speaks TLS with |certificate| and |key| when they are set.
class TlsServer : public QTcpServer
{
public:
    QSslCertificate certificate;
    QSslKey key;

protected:
    void incomingConnection(qintptr descriptor) override
    {
        if (certificate.isNull()) {
            QTcpServer::incomingConnection(descriptor);
            return;
        }
        auto *socket = new QSslSocket(this);
        socket->setSocketDescriptor(descriptor);
        socket->setLocalCertificate(certificate);
        socket->setPrivateKey(key);
        addPendingConnection(socket);
        socket->startServerEncryption();
    }
};

// A minimal HTTP/1.1 server on 127.0.0.1 that records every request and
// answers as told: a status line, nothing at all, or a closed connection.
class HttpServer : public QObject
{
public:
    enum Answer { Ok, ServerError, NotFound, Moved, Silent, Close };
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
    // Serves https with a self-signed certificate made by the openssl tool in |dir|.
    bool useSelfSignedCertificate(const QString &dir)
    {
        QProcess openssl;
        openssl.setWorkingDirectory(dir);
        openssl.start(QStringLiteral("openssl"),
                      {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "key.pem", "-out",
                       "cert.pem", "-days", "2", "-subj", "/CN=127.0.0.1"});
        if (!openssl.waitForFinished(60000) || openssl.exitCode() != 0)
            return false;
        QFile cert(dir + QStringLiteral("/cert.pem")), key(dir + QStringLiteral("/key.pem"));
        if (!cert.open(QIODevice::ReadOnly) || !key.open(QIODevice::ReadOnly))
            return false;
        m_server.certificate = QSslCertificate(cert.readAll());
        m_server.key = QSslKey(key.readAll(), QSsl::Rsa);
        return !m_server.certificate.isNull() && !m_server.key.isNull();
    }
    QString url(const QString &scheme = QStringLiteral("http")) const
    {
        return QStringLiteral("%1://127.0.0.1:%2/upload").arg(scheme).arg(m_server.serverPort());
    }

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
        const char *status[] = {"200 OK", "500 Internal Server Error", "404 Not Found",
                                "301 Moved Permanently"};
        if (answer == Silent)
            return;
        if (answer == Close) {
            s->abort();
            return;
        }
        s->write("HTTP/1.1 " + QByteArray(status[answer]) + "\r\n");
        if (answer == Moved)
            s->write("Location: http://127.0.0.1:1/elsewhere\r\n");
        s->write("Content-Length: 8\r\nConnection: close\r\n\r\nreceived");
        s->disconnectFromHost();
    }

    TlsServer m_server;
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

// A port on 127.0.0.1 where nothing listens.
quint16 closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

const QString kSent = QStringLiteral("上传成功");
const QString kFailed = QStringLiteral("上传失败：");
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
               "Standard_weight=63;ICW=24.11;ECW=13.52;LA_fat=1.14;RA_fat=1.26;LL_muscle=8.33;RL_muscle=8.47" << 47
            << "testItem=BCA;UUID=UNIT-8;UID=0042;name=李四;sex=1;testDate=2024-05-03 10:11;height=165.0;"
               "Weight=70.3;WHR=0.86;BMR=1520;Edema=0.38;BodyAge=35;Score=78.5;LiverRisk=30;BodyType=9;RL_water=8.0;"
               "Standard_weight=63.0;Fat=0.0;ICW=24.1;ECW=13.5;LA_fat=1.1;RA_fat=1.3;LL_muscle=8.3;RL_muscle=8.5";
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
        const QString state = w.stateEdit()->text();
        table == QLatin1String("ResultFIT") ? w.uploadFitTest(testId) : w.uploadBcaTest(testId);
        const QString subject = QStringLiteral("%1（测试编号 %2）")
                                    .arg(table == QLatin1String("ResultFIT") ? "体质数据" : "体成分数据")
                                    .arg(testId);
        QTRY_COMPARE_WITH_TIMEOUT(w.uploadStatus(), subject + kSent, 10000);
        QCOMPARE(w.stateEdit()->text(), state); // the state field shows instrument states only
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

    // Every kind of ending against a real local server, in the words the
    // operator reads.
    void outcomeOfEveryKind_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("scheme");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("reason");
        QTest::newRow("200") << int(HttpServer::Ok) << "http" << true << "";
        QTest::newRow("500") << int(HttpServer::ServerError) << "http" << false
                             << "服务器返回 HTTP 500（服务器内部错误）";
        QTest::newRow("404") << int(HttpServer::NotFound) << "http" << false
                             << "服务器返回 HTTP 404（服务器上没有这个上传地址）";
        QTest::newRow("301") << int(HttpServer::Moved) << "http" << false
                             << "服务器返回 HTTP 301（服务器要求转到其他地址）";
        QTest::newRow("refused") << -1 << "http" << false
                                 << "服务器拒绝连接（127.0.0.1 上没有接收上传的服务）";
        QTest::newRow("dropped") << int(HttpServer::Close) << "http" << false << "服务器没有应答就关闭了连接";
        QTest::newRow("silent") << int(HttpServer::Silent) << "http" << false
                                << "服务器在 0.4 秒内没有应答（超时）";
        QTest::newRow("self-signed certificate")
            << int(HttpServer::Ok) << "https" << false << "服务器证书未通过验证：服务器使用自签名证书";
    }
    void outcomeOfEveryKind()
    {
        QFETCH(int, answer);
        QFETCH(QString, scheme);
        QFETCH(bool, ok);
        QFETCH(QString, reason);
        if (scheme == QLatin1String("https")) {
            QVERIFY2(QSslSocket::supportsSsl(), "Qt without TLS support");
            QVERIFY(m_server->useSelfSignedCertificate(m_dir->path()));
        }
        if (answer >= 0)
            m_server->answer = HttpServer::Answer(answer);
        const QUrl url = answer < 0 ? QUrl(QStringLiteral("http://127.0.0.1:%1/upload").arg(closedPort()))
                                    : QUrl(m_server->url(scheme));
        QNetworkAccessManager network;
        QNetworkReply *reply = exchange::postUpload(network, url, QByteArrayLiteral("{}"), 400);
        QSignalSpy finished(reply, &QNetworkReply::finished);
        QVERIFY(finished.wait(10000));
        const exchange::UploadOutcome outcome = exchange::replyOutcome(reply);
        QCOMPARE(outcome.ok, ok);
        QCOMPARE(outcome.reason, reason);
        delete reply;
    }

    void listUploadReportsWhereItStarted_data()
    {
        QTest::addColumn<QString>("table");
        QTest::newRow("body composition") << "Result";
        QTest::newRow("fitness") << "ResultFIT";
    }
    // An upload started in a list dialog sends the row chosen there, not the
    // record the page shows, and reports in the dialog and the status bar; a
    // failure stays until the next upload, which replaces it. The fitness
    // page keeps its own test number.
    void listUploadReportsWhereItStarted()
    {
        QFETCH(QString, table);
        const bool fitness = table == QLatin1String("ResultFIT");
        const int chosen = insert(table, "UID=5;Name=王五");
        const int newest = insert(table, "UID=6;Name=赵六"); // the list's first row
        MainWindow w;
        w.fitTestIdEdit()->setText(QString::number(newest));
        const QString subject =
            QStringLiteral("%1（测试编号 %2）").arg(fitness ? "体质数据" : "体成分数据").arg(chosen);
        const QString failed = subject + kFailed + QStringLiteral("服务器返回 HTTP 500（服务器内部错误）");
        QVERIFY(testsupport::withModal(
            [](QWidget *d) { return qobject_cast<ResultListDlg *>(d) != nullptr; },
            [&w, fitness] { fitness ? w.dataListFit() : w.dataList(); },
            [&](QWidget *d) {
                auto *list = static_cast<ResultListDlg *>(d);
                list->view()->selectRow(1);
                for (HttpServer::Answer answer : {HttpServer::ServerError, HttpServer::Ok}) {
                    m_server->answer = answer;
                    list->uploadButton()->click();
                    const QString expected = answer == HttpServer::Ok ? subject + kSent : failed;
                    QTRY_COMPARE_WITH_TIMEOUT(list->uploadStatusLabel()->text(), expected, 10000);
                    QCOMPARE(w.uploadStatus(), expected);
                    QTest::qWait(300);
                    QCOMPARE(w.uploadStatus(), expected); // the polling never writes there
                }
            }));
        QCOMPARE(m_server->requests.size(), 2);
        for (const Request &r : m_server->requests)
            QCOMPARE(r.json().value(QStringLiteral("UID")).toString(), QStringLiteral("5"));
        QCOMPARE(w.fitTestIdEdit()->text(), QString::number(newest));
        QCOMPARE(w.stateEdit()->text(), QStringLiteral(" 未连接"));
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
            QString why;
            exchange::checkedUploadUrl(address, &why);
            QVERIFY2(w.uploadStatus().endsWith(
                         address == "ok" ? exchange::uploadNoRecordText()
                                         : why + QStringLiteral("（请在“连接与设置”中填写上传地址）")),
                     qPrintable(w.uploadStatus()));
        }
        MainWindow w;
        w.uploadFitTest(99);
        QCOMPARE(w.uploadStatus(), QStringLiteral("体质数据（测试编号 99）上传失败：没有找到这条测试记录"));
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
            if (c.field == QLatin1String("bca")) {
                w.uploadBCA(); // the page's record, not the fitness row in the shared state
            } else {
                w.fitTestIdEdit()->setText(c.field);
                w.uploadPhy();
                QCOMPARE(global::currentTestID, c.field.toInt());
            }
            QTRY_VERIFY_WITH_TIMEOUT(w.uploadStatus().endsWith(kSent), 10000);
            QTRY_COMPARE_WITH_TIMEOUT(m_server->requests.size(), 1, 10000);
            QCOMPARE(m_server->requests.first().json().value("testID").toString(),
                     QString::number(c.expected));
        }
    }
};

QTEST_MAIN(TestExchangeUpload)
#include "tst_exchange_upload.moc"
