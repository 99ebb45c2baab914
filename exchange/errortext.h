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
} // namespace exchange
