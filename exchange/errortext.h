// System and database error texts (errno texts, SQLite messages, Qt's own
// driver texts) in Chinese for the operator's boxes; the original stays in
// the debug log.
#pragma once

#include <QString>

namespace exchange {
// |systemText| with every known phrase put in Chinese where it stands (file
// names and the operator's own words around it stay); a text with no Chinese
// at all after that is shown as "系统错误：" and the text. Empty stays empty.
QString systemErrorText(const QString &systemText);

// Why a write to the database file |dbPath| failed, for the operator:
// systemErrorText(|systemText|), led by "数据库文件是只读的" when the file
// cannot be written (SQLite tells a file made read-only while open only as a
// disk I/O error).
QString databaseWriteErrorText(const QString &systemText, const QString &dbPath);
} // namespace exchange
