#pragma once
#include "security/SecurityPolicy.h"

// Signing and encryption of whole OPC UA message chunks (OPC 10000-6 6.7.2). A
// chunk is seen as
//   message header (12 bytes, the chunk's size at offset 4) | security header |
//   sequence header (8 bytes) | body | padding | signature
// where plainStart is the offset of the sequence header: everything from there on
// is encrypted. The secure functions take a chunk that ends with its body, add the
// padding and the signature, write the final size into the message header and
// encrypt; the open functions check all that and strip it again, leaving the
// headers and the body. A chunk that fails is left exactly as it was.
namespace Security {

constexpr qsizetype SequenceHeaderSize = 8;

// The OpenSecureChannel chunk: signed with our key and encrypted with the peer's
// whenever the policy is secure, in mode Sign as well. Both keys must have a
// length the policy allows (else KeyRejected).
SecurityResult secureAsymmetricChunk(const SecurityPolicy &policy, QByteArray &chunk, qsizetype plainStart,
                                     const RsaKey &ourKey, const RsaKey &peerKey);
SecurityResult openAsymmetricChunk(const SecurityPolicy &policy, QByteArray &chunk, qsizetype plainStart,
                                   const RsaKey &ourKey, const RsaKey &peerKey);
// The largest body an outgoing chunk of at most chunkSize bytes can carry.
qsizetype asymmetricMaxBody(const SecurityPolicy &policy, qsizetype chunkSize, qsizetype plainStart,
                            const RsaKey &ourKey, const RsaKey &peerKey);

// Every other chunk, with the sending side's keys: signed in mode Sign, signed and
// encrypted in mode SignAndEncrypt, untouched in mode None.
SecurityResult secureSymmetricChunk(const SecurityPolicy &policy, SecurityMode mode, QByteArray &chunk,
                                    qsizetype plainStart, const SymmetricKeys &keys);
SecurityResult openSymmetricChunk(const SecurityPolicy &policy, SecurityMode mode, QByteArray &chunk,
                                  qsizetype plainStart, const SymmetricKeys &keys);
qsizetype symmetricMaxBody(const SecurityPolicy &policy, SecurityMode mode, qsizetype chunkSize, qsizetype plainStart);

} // namespace Security
