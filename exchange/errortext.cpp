#include "exchange/errortext.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStringList>

namespace exchange {
namespace {
struct Phrase
{
    const char *english; // matched case-insensitively anywhere in the text
    const char *chinese;
};

const Phrase kPhrases[] = {
    {"No space left on device", "磁盘空间不足"},
    {"database or disk is full", "磁盘空间不足（数据库已满）"},
    {"Disk quota exceeded", "磁盘配额已用完"},
    {"File too large", "文件超过系统允许的大小"},
    {"Read-only file system", "只读文件系统，无法写入"},
    {"attempt to write a readonly database", "数据库文件是只读的，无法写入"},
    {"Permission denied", "没有访问权限"},
    {"Operation not permitted", "操作不被允许"},
    {"No such file or directory", "文件或文件夹不存在"},
    {"Is a directory", "目标是文件夹，不是文件"},
    {"Not a directory", "路径中有一部分不是文件夹"},
    {"File name too long", "文件名过长"},
    {"disk I/O error", "磁盘读写错误"},
    {"Input/output error", "磁盘读写错误"},
    {"database is locked", "数据库正被其他程序使用"},
    {"unable to open database file", "无法打开数据库文件"},
    {"file is not a database", "文件不是数据库"},
    {"database disk image is malformed", "数据库文件已损坏"},
    {"no such table", "数据表不存在"},
    {"no such column", "数据列不存在"},
    {"Device or resource busy", "设备正被其他程序占用"},
    {"Resource temporarily unavailable", "设备暂时不可用"},
    {"Inappropriate ioctl for device", "设备不是串口"},
    {"No such device", "设备不存在"},
    {"Too many open files", "打开的文件过多"},
    {"Broken pipe", "连接已断开"},
    {"Connection refused", "连接被拒绝"},
    {"Unknown error", "未知错误"},
    // Qt's SQLite driver adds its own words after SQLite's. It says "fetch
    // row" for any statement that did not complete, writes included.
    {"Unable to fetch row", "数据库语句未能执行完"},
    {"Unable to execute statement", "无法执行数据库语句"},
    {"Unable to begin transaction", "无法开始事务"},
    {"Unable to commit transaction", "无法提交事务"},
    {"Unable to rollback transaction", "无法回滚事务"},
    {"Error opening database", "无法打开数据库"},
};

bool hasCjk(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() >= 0x3400 && c.unicode() <= 0x9fff)
            return true;
    }
    return false;
}
} // namespace

QString systemErrorText(const QString &systemText)
{
    QString text = systemText.trimmed();
    for (const Phrase &p : kPhrases)
        text.replace(QLatin1String(p.english), QCoreApplication::translate("errortext", p.chinese),
                     Qt::CaseInsensitive);
    if (text.isEmpty() || hasCjk(text))
        return text;
    return QCoreApplication::translate("errortext", "系统错误：%1").arg(text);
}

QString databaseWriteErrorText(const QString &systemText, const QString &dbPath)
{
    QString text = systemErrorText(systemText);
    const QFileInfo file(dbPath);
    if (dbPath.isEmpty() || !file.isFile() || file.isWritable() || text.contains(QStringLiteral("只读")))
        return text;
    return QCoreApplication::translate("errortext", "数据库文件是只读的：%1").arg(text);
}
} // namespace exchange
