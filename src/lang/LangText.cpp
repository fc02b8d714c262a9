#include "lang/LangText.h"
#include "lang/Language.h"

QString LangTextOr(const QString &key, const QString &designed)
{
    return Language::Languages().isEmpty() ? designed : GetLangText(key);
}
