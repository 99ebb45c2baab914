#include "people/namesearch.h"

#include "app/dbtarget.h"

#include <QCoreApplication>

namespace namesearch {
QString prefixPattern(const QString &text)
{
    QString pattern;
    pattern.reserve(text.size() + 2);
    for (const QChar c : text) {
        if (c == QLatin1Char('\\') || c == QLatin1Char('%') || c == QLatin1Char('_'))
            pattern += QLatin1Char('\\');
        pattern += c;
    }
    pattern += QLatin1Char('%');
    return pattern;
}

QString nameCondition()
{
    return QStringLiteral("Name %1 ? ESCAPE '\\'").arg(SqlDialect::current().like());
}

QString nameOrUidCondition()
{
    const QString like = SqlDialect::current().like();
    return QStringLiteral("(Name %1 ? ESCAPE '\\' OR UID %1 ? ESCAPE '\\')").arg(like);
}

QString sexText(const QString &code)
{
    if (code == QLatin1String("1"))
        return QCoreApplication::translate("namesearch", "男");
    if (code == QLatin1String("2"))
        return QCoreApplication::translate("namesearch", "女");
    return code;
}
} // namespace namesearch
