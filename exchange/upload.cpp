#include "exchange/upload.h"

#include <QJsonDocument>
#include <QObject>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
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
    QSqlQuery query;
    query.setForwardOnly(true);
    if (testId == 0) {
        // The newest row by key, without walking the whole table.
        lookup.statement = QStringLiteral("SELECT * FROM %1 ORDER BY TestID DESC LIMIT 1").arg(table);
        query.prepare(lookup.statement);
    } else {
        lookup.statement = QStringLiteral("SELECT * FROM %1 WHERE TestID=?").arg(table);
        query.prepare(lookup.statement);
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
    if (!query.exec(QStringLiteral("SELECT PostAddress FROM Server ORDER BY rowid LIMIT 1")) || !query.next())
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

QString uploadSucceededText()
{
    return QObject::tr(" 数据上传成功");
}

QString uploadFailedText()
{
    return QObject::tr(" 上传数据失败!请检查网络环境");
}

QString uploadNoRecordText()
{
    return QObject::tr(" 上传数据失败!未找到该测试记录");
}

} // namespace exchange
