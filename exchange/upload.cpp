#include "exchange/upload.h"

#include "app/dbtarget.h"

#include <QDebug>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QObject>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTimer>
#include <QVariant>

namespace exchange {

QString UploadRecord::member(const QString &key) const
{
    for (const auto &m : members) {
        if (m.first == key)
            return m.second;
    }
    return QString();
}

QJsonObject UploadRecord::toJson() const
{
    QJsonObject object;
    for (const auto &m : members)
        object.insert(m.first, m.second);
    return object;
}

QByteArray UploadRecord::body() const
{
    return QJsonDocument(toJson()).toJson(QJsonDocument::Indented);
}

QString oneDecimal(double value)
{
    return QString::number(value, 'f', 1);
}

QString twoDecimals(double value)
{
    return QString::number(value, 'f', 2);
}

QString wholeNumber(int value)
{
    return QString::number(value);
}

QString general(double value)
{
    return QString::number(value, 'g', 6);
}

int bodyTypeCode(const QString &bodyType)
{
    static const QStringList words = {
        QStringLiteral("隐性肥胖型"), QStringLiteral("肌肉不足型"), QStringLiteral("消瘦型"),
        QStringLiteral("脂肪过多型"), QStringLiteral("健康匀称型"), QStringLiteral("低脂肪型"),
        QStringLiteral("肥胖型"),     QStringLiteral("超重肌肉型"), QStringLiteral("运动员型")};
    const int index = words.indexOf(bodyType);
    return index < 0 ? 8 : index + 1;
}

UploadRecord fitRecordFromRow(const QSqlRecord &row)
{
    // By position: the column order of ResultFIT (5 BirthYear is not sent).
    const auto text = [&row](int i) { return row.value(i).toString(); };
    const auto real = [&row](int i) { return oneDecimal(row.value(i).toDouble()); };
    const auto whole = [&row](int i) { return wholeNumber(row.value(i).toInt()); };

    UploadRecord r;
    r.testItem = QStringLiteral("Fit");
    r.testId = text(0);
    r.name = text(3);
    r.members = {{QStringLiteral("testItem"), r.testItem}, {QStringLiteral("UUID"), text(1)},
                 {QStringLiteral("UID"), text(2)},         {QStringLiteral("testID"), r.testId},
                 {QStringLiteral("testDate"), text(6)},    {QStringLiteral("name"), r.name},
                 {QStringLiteral("sex"), text(4)},         {QStringLiteral("Height"), real(7)},
                 {QStringLiteral("Weight"), real(8)},      {QStringLiteral("WOLI"), real(9)},
                 {QStringLiteral("FHL"), whole(10)},       {QStringLiteral("TQQ"), real(11)},
                 {QStringLiteral("TZ"), real(12)},         {QStringLiteral("YWQZ"), whole(13)},
                 {QStringLiteral("FYS"), whole(14)},       {QStringLiteral("FWC"), whole(15)},
                 {QStringLiteral("BYDJ"), real(16)},       {QStringLiteral("ZT"), real(17)},
                 {QStringLiteral("TY"), real(18)}};
    return r;
}

UploadRecord bcaRecordFromRow(const QSqlRecord &row)
{
    const auto value = [&row](const char *column) { return row.value(QLatin1String(column)); };
    const auto text = [&value](const char *column) { return value(column).toString(); };

    UploadRecord r;
    r.testItem = QStringLiteral("BCA");
    r.testId = text("TestID");
    r.name = text("Name");
    r.members = {{QStringLiteral("testItem"), r.testItem},
                 {QStringLiteral("UUID"), text("UUID")},
                 {QStringLiteral("UID"), text("UID")},
                 {QStringLiteral("testID"), r.testId},
                 {QStringLiteral("testDate"), text("TestDate")},
                 {QStringLiteral("name"), r.name},
                 {QStringLiteral("sex"), text("Sex")},
                 {QStringLiteral("height"), oneDecimal(value("Height").toDouble())}};
    // Members named like their column, one decimal.
    const auto sameName = [&r, &value](std::initializer_list<const char *> columns) {
        for (const char *c : columns)
            r.members.append({QLatin1String(c), oneDecimal(value(c).toDouble())});
    };
    sameName(
        {"Weight", "Fat", "Protein", "Bone", "Water", "Muscle", "SMM", "LBM", "ICW", "ECW", "PBF", "BMI"});
    r.members.append({QStringLiteral("BMR"), general(value("BMR").toDouble())});
    r.members.append({QStringLiteral("WHR"), twoDecimals(value("WHR").toDouble())});
    r.members.append({QStringLiteral("Edema"), twoDecimals(value("Edema").toDouble())});
    sameName({"VFI", "Standard_weight", "Weight_control", "Fat_control", "Muscle_control"});
    r.members.append({QStringLiteral("BodyAge"), wholeNumber(value("Body_age").toInt())});
    r.members.append({QStringLiteral("Score"), general(value("Score").toDouble())});
    r.members.append({QStringLiteral("BodyType"), wholeNumber(bodyTypeCode(text("BodyType")))});
    r.members.append({QStringLiteral("LiverRisk"), general(value("LiverRisk").toDouble())});
    sameName({"TR_fat", "TR_muscle", "TR_water", "LA_fat", "LA_muscle", "LA_water", "RA_fat", "RA_muscle",
              "RA_water", "LL_fat", "LL_muscle", "LL_water", "RL_fat", "RL_muscle", "RL_water"});
    return r;
}

namespace {
RecordLookup lookUp(const QString &table, int testId, UploadRecord (*fromRow)(const QSqlRecord &))
{
    RecordLookup lookup;
    // The kind is known before the row: messages name it even when no row is found.
    lookup.record.testItem = fromRow == fitRecordFromRow ? QStringLiteral("Fit") : QStringLiteral("BCA");
    QSqlQuery query;
    query.setForwardOnly(true);
    if (testId == 0) {
        // The newest row by key, without walking the whole table.
        lookup.statement = QStringLiteral("SELECT * FROM %1 ORDER BY TestID DESC LIMIT 1").arg(table);
        query.prepare(dbSql(lookup.statement));
    } else {
        lookup.statement = QStringLiteral("SELECT * FROM %1 WHERE TestID=?").arg(table);
        query.prepare(dbSql(lookup.statement));
        query.addBindValue(testId);
    }
    if (!query.exec()) {
        lookup.error = query.lastError().text();
        return lookup;
    }
    if (query.next()) {
        lookup.found = true;
        lookup.record = fromRow(query.record());
    }
    return lookup;
}
} // namespace

RecordLookup readFitRecord(int testId)
{
    return lookUp(QStringLiteral("resultFIT"), testId, fitRecordFromRow);
}

RecordLookup readBcaRecord(int testId)
{
    return lookUp(QStringLiteral("Result"), testId, bcaRecordFromRow);
}

QString readPostAddress()
{
    QSqlQuery query;
    query.setForwardOnly(true);
    if (!query.exec(dbSql(QStringLiteral("SELECT PostAddress FROM Server ORDER BY ID LIMIT 1"))) ||
        !query.next())
        return QString();
    return query.value(0).toString();
}

QUrl checkedUploadUrl(const QString &address, QString *why)
{
    const QUrl url(address.trimmed(), QUrl::TolerantMode);
    QString problem;
    if (address.trimmed().isEmpty())
        problem = QObject::tr("上传地址为空");
    else if (!url.isValid())
        problem = QObject::tr("上传地址无效：%1").arg(address);
    else if (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https"))
        problem = QObject::tr("上传地址必须以 http:// 或 https:// 开头：%1").arg(address);
    else if (url.host().isEmpty())
        problem = QObject::tr("上传地址缺少主机名：%1").arg(address);
    if (why)
        *why = problem;
    return problem.isEmpty() ? url : QUrl();
}

QNetworkRequest uploadRequest(const QUrl &url, const QByteArray &body)
{
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QByteArrayLiteral("application/x-www-form-urlencoded"));
    request.setHeader(QNetworkRequest::ContentLengthHeader, body.size());
    return request;
}

bool savePostAddress(const QString &address, QString *why)
{
    QString problem;
    const QUrl url = checkedUploadUrl(address, &problem);
    if (url.isEmpty()) {
        if (why)
            *why = problem;
        return false;
    }
    QSqlQuery query;
    bool ok = query.exec(dbSql(QStringLiteral("SELECT COUNT(*) FROM Server"))) && query.next();
    const bool hasRow = ok && query.value(0).toInt() > 0;
    query.finish();
    if (ok) {
        // Only row 0 is read; every row is kept at the same address.
        query.prepare(dbSql(hasRow ? QStringLiteral("UPDATE Server SET PostAddress = ?")
                                   : QStringLiteral("INSERT INTO Server (PostAddress) VALUES (?)")));
        query.addBindValue(address.trimmed());
        ok = query.exec();
    }
    if (!ok && why)
        *why = query.lastError().text();
    return ok;
}

QString httpStatusText(int status)
{
    switch (status) {
    case 400:
        return QObject::tr("请求格式不被服务器接受");
    case 401:
        return QObject::tr("需要身份验证");
    case 403:
        return QObject::tr("服务器拒绝访问");
    case 404:
        return QObject::tr("服务器上没有这个上传地址");
    case 405:
        return QObject::tr("服务器不接受这种上传方式");
    case 408:
        return QObject::tr("服务器等待请求超时");
    case 413:
        return QObject::tr("上传的数据过大");
    case 415:
        return QObject::tr("服务器不接受这种数据类型");
    case 429:
        return QObject::tr("上传过于频繁");
    case 500:
        return QObject::tr("服务器内部错误");
    case 502:
        return QObject::tr("网关错误");
    case 503:
        return QObject::tr("服务暂时不可用");
    case 504:
        return QObject::tr("网关超时");
    default:
        break;
    }
    if (status >= 300 && status < 400)
        return QObject::tr("服务器要求转到其他地址");
    if (status >= 400 && status < 500)
        return QObject::tr("服务器拒绝了请求");
    if (status >= 500)
        return QObject::tr("服务器出错");
    return QString();
}

namespace {
QString certificateText(const QList<QSslError::SslError> &errors)
{
    QStringList words;
    for (const QSslError::SslError e : errors) {
        QString w;
        switch (e) {
        case QSslError::SelfSignedCertificate:
        case QSslError::SelfSignedCertificateInChain:
            w = QObject::tr("服务器使用自签名证书");
            break;
        case QSslError::CertificateExpired:
            w = QObject::tr("证书已过期");
            break;
        case QSslError::CertificateNotYetValid:
            w = QObject::tr("证书尚未生效");
            break;
        case QSslError::HostNameMismatch:
            w = QObject::tr("证书与服务器名称不符");
            break;
        case QSslError::CertificateRevoked:
            w = QObject::tr("证书已被吊销");
            break;
        case QSslError::UnableToGetLocalIssuerCertificate:
        case QSslError::UnableToGetIssuerCertificate:
        case QSslError::UnableToVerifyFirstCertificate:
        case QSslError::CertificateUntrusted:
            w = QObject::tr("证书的签发机构不受信任");
            break;
        default:
            w = QObject::tr("证书无效");
            break;
        }
        if (!words.contains(w))
            words << w;
    }
    return words.join(QStringLiteral("，"));
}
} // namespace

UploadOutcome describeReply(QNetworkReply::NetworkError error, int httpStatus, bool timedOut, int timeoutMs,
                            const QList<QSslError::SslError> &sslErrors, const QString &host)
{
    UploadOutcome out;
    out.httpStatus = httpStatus;
    if (timedOut) {
        out.reason = QObject::tr("服务器在 %1 秒内没有应答（超时）").arg(timeoutMs / 1000.0);
        return out;
    }
    if (httpStatus != 0 && (httpStatus < 200 || httpStatus > 299)) {
        out.reason = QObject::tr("服务器返回 HTTP %1（%2）").arg(httpStatus).arg(httpStatusText(httpStatus));
        return out;
    }
    switch (error) {
    case QNetworkReply::NoError:
        out.ok = httpStatus >= 200 && httpStatus <= 299;
        if (!out.ok)
            out.reason = QObject::tr("服务器的应答不是 HTTP 应答");
        return out;
    case QNetworkReply::ConnectionRefusedError:
        out.reason = QObject::tr("服务器拒绝连接（%1 上没有接收上传的服务）").arg(host);
        break;
    case QNetworkReply::RemoteHostClosedError:
        out.reason = QObject::tr("服务器没有应答就关闭了连接");
        break;
    case QNetworkReply::HostNotFoundError:
        out.reason = QObject::tr("找不到服务器 %1，请检查上传地址和网络").arg(host);
        break;
    case QNetworkReply::TimeoutError:
        out.reason = QObject::tr("连接服务器超时");
        break;
    case QNetworkReply::OperationCanceledError:
        out.reason = QObject::tr("上传已取消");
        break;
    case QNetworkReply::SslHandshakeFailedError:
        out.reason = sslErrors.isEmpty()
                         ? QObject::tr("无法与服务器建立安全连接（HTTPS）")
                         : QObject::tr("服务器证书未通过验证：%1").arg(certificateText(sslErrors));
        break;
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::BackgroundRequestNotAllowedError:
        out.reason = QObject::tr("网络不可用");
        break;
    case QNetworkReply::TooManyRedirectsError:
    case QNetworkReply::InsecureRedirectError:
        out.reason = QObject::tr("服务器要求转到其他地址");
        break;
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyConnectionClosedError:
    case QNetworkReply::ProxyNotFoundError:
    case QNetworkReply::ProxyTimeoutError:
    case QNetworkReply::ProxyAuthenticationRequiredError:
    case QNetworkReply::UnknownProxyError:
        out.reason = QObject::tr("代理服务器连接失败");
        break;
    case QNetworkReply::ProtocolUnknownError:
    case QNetworkReply::ProtocolInvalidOperationError:
    case QNetworkReply::ProtocolFailure:
        out.reason = QObject::tr("服务器的应答不符合 HTTP 协议");
        break;
    default:
        out.reason = QObject::tr("网络错误（代码 %1）").arg(int(error));
        break;
    }
    return out;
}

QNetworkReply *postUpload(QNetworkAccessManager &network, const QUrl &url, const QByteArray &body,
                          int timeoutMs)
{
    QNetworkReply *reply = network.post(uploadRequest(url, body), body);
    reply->setProperty("timeoutMs", timeoutMs);
    QObject::connect(reply, &QNetworkReply::sslErrors, reply, [reply](const QList<QSslError> &errors) {
        QVariantList codes = reply->property("sslErrors").toList();
        for (const QSslError &e : errors) {
            qDebug() << "upload certificate error:" << e.errorString();
            codes << int(e.error());
        }
        reply->setProperty("sslErrors", codes);
    });
    // A server that never answers must not leave the upload pending.
    auto *timeout = new QTimer(reply);
    timeout->setSingleShot(true);
    QObject::connect(timeout, &QTimer::timeout, reply, [reply] {
        qDebug() << "upload timed out";
        reply->setProperty("timedOut", true);
        reply->abort();
    });
    QObject::connect(reply, &QNetworkReply::finished, timeout, &QTimer::stop);
    timeout->start(timeoutMs);
    return reply;
}

UploadOutcome replyOutcome(QNetworkReply *reply)
{
    QList<QSslError::SslError> ssl;
    for (const QVariant &code : reply->property("sslErrors").toList())
        ssl << QSslError::SslError(code.toInt());
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    qDebug() << "upload reply:" << status << reply->error() << reply->errorString();
    return describeReply(reply->error(), status, reply->property("timedOut").toBool(),
                         reply->property("timeoutMs").toInt(), ssl, reply->url().host());
}

QString uploadStartedText(const QString &subject)
{
    return QObject::tr("正在上传%1…").arg(subject);
}

QString uploadSucceededText(const QString &subject)
{
    return QObject::tr("%1上传成功").arg(subject);
}

QString uploadFailedText(const QString &subject, const QString &reason)
{
    return QObject::tr("%1上传失败：%2").arg(subject, reason);
}

QString uploadNoRecordText()
{
    return QObject::tr("没有找到这条测试记录");
}

} // namespace exchange
