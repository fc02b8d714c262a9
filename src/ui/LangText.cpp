#include "ui/LangText.h"
#include "ui/Language.h"

QString LangTextOr(const QString &key, const QString &designed)
{
    return Language::Languages().isEmpty() ? designed : GetLangText(key);
}
