#pragma once
#include <QString>

// The text of a key in the operator's language, or `designed` when no language
// file could be loaded: the designed captions stand rather than one "no text"
// message per lookup.
QString LangTextOr(const QString &key, const QString &designed);
