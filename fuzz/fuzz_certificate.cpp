// Certificates, keys and protected chunks from arbitrary bytes, as a peer sends them: no
// crash, no leak, and nothing that fails is ever half changed.
#include "FuzzCheck.h"
#include "security/Certificate.h"
#include "security/ChunkSecurity.h"

#include <cstdint>

using namespace Security;

namespace {

// Every accessor runs on whatever the parser accepted; the sanitizers judge them.
void inspect(const Certificate &c)
{
    check(c.thumbprint().size() == 20 && Certificate::fromDer(c.der()).has_value());
    [[maybe_unused]] const QStringList texts{c.applicationUri(), c.hostNames().join(','), c.commonName(),
                                             c.notBefore().toString(), c.notAfter().toString()};
    (void)(c.keyUsage() | c.allowsClientAuth() | c.isCa() | c.isSelfSigned() | c.publicKey().bits());
}

// A chunk opened with keys no input can know: it must fail and stay as it came.
void open(QByteArray chunk)
{
    static const SecurityPolicy &policy = *findSecurityPolicy(QStringLiteral("Basic256Sha256"));
    static const RsaKey ours = RsaKey::generate(2048), peer = RsaKey::generate(2048);
    static const SymmetricKeys keys{QByteArray(32, 's'), QByteArray(32, 'e'), QByteArray(16, 'i')};
    const QByteArray before = chunk;
    check(openSymmetricChunk(policy, SecurityMode::SignAndEncrypt, chunk, 16, keys) != SecurityResult::Ok);
    check(openSymmetricChunk(policy, SecurityMode::Sign, chunk, 16, keys) != SecurityResult::Ok);
    check(openAsymmetricChunk(policy, chunk, 12, ours, peer) != SecurityResult::Ok);
    check(chunk == before);
    QByteArray password = "kept";
    check(decryptUserSecret(policy, ours, chunk, QByteArray(32, 'n'), password) != SecurityResult::Ok);
    check(password == "kept");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    for (const Certificate &certificate : Certificate::chainFromDer(bytes))
        inspect(certificate);
    if (const std::optional<Certificate> certificate = Certificate::fromFileBytes(bytes))
        inspect(*certificate);
    // OpenSSL sets up every key decoder before it looks at the bytes: only text
    // that can be a key is worth that time.
    if (bytes.contains("-----BEGIN")) {
        const RsaKey key = RsaKey::fromPem(bytes);
        check(key.isNull() || key.bits() > 0);
    }
    open(bytes.toByteArray());
    return 0;
}
