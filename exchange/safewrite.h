// Output files that appear under their name only when complete: every writer
// (exports, report PDFs, workbooks) writes through a SaveFile and ends with
// finish(), which flushes the buffered tail, checks every earlier write,
// syncs to disk and only then renames the file into place. A failure leaves
// an earlier file of that name as it was and says why in the operator's
// language.
#pragma once

#include <QByteArray>
#include <QSaveFile>
#include <QString>

namespace exchange {

// The system's reason for error number |errnum| ("磁盘空间不足", "只读文件系统",
// "没有写入权限", ...); unknown numbers give the system's own text with the number.
QString systemReason(int errnum);

// "无法写入文件 /abs/path：reason".
QString writeFailedText(const QString &path, const QString &reason);

class SaveFile : public QSaveFile
{
public:
    using QSaveFile::open;
    using QSaveFile::QSaveFile;

    // Opens for writing (plus |extraMode|, e.g. Text); false with |error|.
    bool open(QString *error, OpenMode extraMode = {});
    // Appends |data|; false with |error| (and the file discarded) when not
    // every byte was taken.
    bool writeAll(const QByteArray &data, QString *error);
    // Flushes, checks, syncs and commits. On any failure the temporary file
    // is discarded, the target is left untouched and |error| says why.
    bool finish(QString *error);

    // The reason of the first failure.
    QString reason() const;

protected:
    // Remembers the first write that took fewer bytes than given, with the
    // system's error number: Qt keeps only a text, and nothing at all for a
    // write cut short.
    qint64 writeData(const char *data, qint64 len) override;

private:
    bool fail(QString *error);

    int m_errnum = 0;
    bool m_cutShort = false; // a write took fewer bytes than given
};

// Writes |data| as the whole file |path|.
bool saveWholeFile(const QString &path, const QByteArray &data, QString *error);

} // namespace exchange
