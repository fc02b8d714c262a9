// Certificates and keys from arbitrary bytes, as a peer or the PKI folder hands them over: no crash, no leak.
#include "FuzzCheck.h"
#include "security/Certificate.h"

#include <cstdint>

using namespace Security;

// Every accessor runs on whatever the parser accepted; the sanitizers judge them.
static void inspect(const Certificate &c)
{
    check(c.thumbprint().size() == 20 && Certificate::fromDer(c.der()).has_value());
    [[maybe_unused]] const QStringList texts{c.applicationUri(), c.hostNames().join(','), c.commonName(),
                                             c.notBefore().toString(), c.notAfter().toString()};
    (void)(c.keyUsage() | c.allowsClientAuth() | c.isCa() | c.isSelfSigned() | c.publicKey().bits());
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    for (const Certificate &certificate : Certificate::chainFromDer(bytes))
        inspect(certificate);
    if (const std::optional<Certificate> certificate = Certificate::fromFileBytes(bytes))
        inspect(*certificate);
    // OpenSSL sets up every key decoder before it looks at the bytes: only text that can be a key is worth it.
    if (const RsaKey key = bytes.contains("-----BEGIN") ? RsaKey::fromPem(bytes) : RsaKey(); !key.isNull())
        check(key.bits() > 0);
    return 0;
}
