#include "exchange/safewrite.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace exchange {

namespace {
struct Reason
{
    int errnum;
    const char *text;
};

// clang-format off
const Reason kReasons[] = {
    {ENOSPC, "磁盘空间不足"},         {EDQUOT, "磁盘配额已用完"},
    {EROFS, "只读文件系统"},          {EACCES, "没有写入权限"},
    {EPERM, "没有写入权限"},          {EFBIG, "文件超过系统允许的大小"},
    {EIO, "磁盘读写错误"},            {ENOENT, "文件夹不存在"},
    {ENOTDIR, "路径中有一部分不是文件夹"}, {EISDIR, "已有同名的文件夹"},
    {ENAMETOOLONG, "文件名太长"},     {EMFILE, "打开的文件太多"},
    {ENFILE, "打开的文件太多"},       {EBUSY, "文件正被占用"},
};
// clang-format on

// Qt reports a failed open or rename as a text (strerror, or a fixed English
// text for a few numbers); the number behind it is found by comparing texts.
int errnumOfText(const QString &text)
{
    static const Reason kQtTexts[] = {{EACCES, "Permission denied"},
                                      {EMFILE, "Too many open files"},
                                      {ENOENT, "No such file or directory"},
                                      {ENOSPC, "No space left on device"}};
    for (const Reason &t : kQtTexts) {
        if (text == QLatin1String(t.text))
            return t.errnum;
    }
    for (int e = 1; e < 200; ++e) {
        if (text == QString::fromLocal8Bit(std::strerror(e)))
            return e;
    }
    return 0;
}
} // namespace

QString systemReason(int errnum)
{
    for (const Reason &r : kReasons) {
        if (r.errnum == errnum)
            return QCoreApplication::translate("exchange", r.text);
    }
    return QCoreApplication::translate("exchange", "系统错误 %1：%2")
        .arg(errnum)
        .arg(QString::fromLocal8Bit(std::strerror(errnum)));
}

QString writeFailedText(const QString &path, const QString &reason)
{
    return QCoreApplication::translate("exchange", "无法写入文件 %1：%2")
        .arg(QFileInfo(path).absoluteFilePath(), reason);
}

QString SaveFile::reason() const
{
    // QSaveFile refuses a folder of that name with a text of its own.
    if (QFileInfo(fileName()).isDir())
        return systemReason(EISDIR);
    const int errnum = m_errnum ? m_errnum : errnumOfText(errorString());
    if (errnum != 0)
        return systemReason(errnum);
    return errorString().isEmpty() ? QCoreApplication::translate("exchange", "未知错误") : errorString();
}

qint64 SaveFile::writeData(const char *data, qint64 len)
{
    errno = 0;
    const qint64 written = QSaveFile::writeData(data, len);
    if (written != len && !m_cutShort) {
        m_cutShort = true;
        m_errnum = errno;
    }
    return written;
}

bool SaveFile::fail(QString *error)
{
    qDebug() << "write failed:" << fileName() << errorString() << m_errnum;
    *error = writeFailedText(fileName(), reason());
    cancelWriting();
    return false;
}

bool SaveFile::open(QString *error, OpenMode extraMode)
{
    errno = 0;
    if (QSaveFile::open(WriteOnly | extraMode))
        return true;
    m_errnum = errnumOfText(errorString()) ? 0 : errno;
    return fail(error);
}

bool SaveFile::writeAll(const QByteArray &data, QString *error)
{
    return write(data) == data.size() || fail(error);
}

bool SaveFile::finish(QString *error)
{
    // QSaveFile::commit flushes its buffer on close but does not look at the
    // outcome, so a short file (held entirely in the buffer) would otherwise
    // replace the target even when nothing reached the disk.
    // A writer that ignores short writes (a PDF writer's stream stops writing
    // after one) leaves no error on the file: only the cut write tells.
    if (m_cutShort || QSaveFile::error() != NoError)
        return fail(error);
    errno = 0;
    if (!flush()) {
        if (m_errnum == 0)
            m_errnum = errno;
        return fail(error);
    }
    if (::fdatasync(handle()) != 0 && errno != EINVAL) {
        m_errnum = errno;
        return fail(error);
    }
    errno = 0;
    if (!commit()) {
        m_errnum = errnumOfText(errorString()) ? 0 : errno;
        return fail(error);
    }
    return true;
}

bool saveWholeFile(const QString &path, const QByteArray &data, QString *error)
{
    SaveFile file(path);
    return file.open(error) && file.writeAll(data, error) && file.finish(error);
}

} // namespace exchange
