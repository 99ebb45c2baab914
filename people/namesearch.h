// The one name search of the registry and the result lists: a prefix match
// on Name with the operator's text bound as a LIKE pattern, and the display
// words of the stored sex codes.
#pragma once

#include <QString>

namespace namesearch {
// The text as a LIKE pattern that matches every name beginning with it:
// '\', '%' and '_' are escaped with '\' so that they stand for themselves,
// and '%' is appended ("" matches every name).
QString prefixPattern(const QString &text);

// "Name like ? ESCAPE '\'": the condition the pattern is bound to.
QString nameCondition();
// The same over Name or UID (the pattern is bound twice): the registry
// finds a person by the beginning of his name or of his user number.
QString nameOrUidCondition();

// "男" for "1", "女" for "2", anything else as stored.
QString sexText(const QString &code);
} // namespace namesearch
