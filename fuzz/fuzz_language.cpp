// The language file parser on arbitrary bytes, in both language columns.
#include "FuzzCheck.h"
#include "lang/Language.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    for (int index = -1; index <= 2; ++index) {
        const Language::ParsedFile parsed = Language::parseLanguageFile(bytes, index);
        check(parsed.languages.size() <= 2 && parsed.valid == !parsed.languages.isEmpty() &&
              parsed.languageIndex >= 0 && parsed.languageIndex < std::max<qsizetype>(parsed.languages.size(), 1));
        check(parsed.valid || (parsed.texts.isEmpty() && parsed.duplicateKeys.isEmpty()));
        for (auto it = parsed.texts.cbegin(); it != parsed.texts.cend(); ++it)
            check(!it.value().isEmpty() && it.key() == it.key().toCaseFolded());
        for (const QString &key : parsed.duplicateKeys)
            check(parsed.texts.contains(key.toCaseFolded()));
    }
    return 0;
}
