#pragma once
// Owning handles for OpenSSL objects and byte helpers, for this folder's .cpp
// files only: no header of the library shows OpenSSL to its users.
#include <QByteArray>
#include <QByteArrayView>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>
#include <optional>

namespace Security {

template <typename T, void (*Free)(T *)> struct OpenSslFree {
    void operator()(T *p) const { Free(p); }
};
template <typename T, void (*Free)(T *)> using OpenSslPtr = std::unique_ptr<T, OpenSslFree<T, Free>>;

using BioPtr = OpenSslPtr<BIO, BIO_free_all>;
using PkeyCtxPtr = OpenSslPtr<EVP_PKEY_CTX, EVP_PKEY_CTX_free>;
using MdCtxPtr = OpenSslPtr<EVP_MD_CTX, EVP_MD_CTX_free>;
using CipherCtxPtr = OpenSslPtr<EVP_CIPHER_CTX, EVP_CIPHER_CTX_free>;
using X509Ptr = OpenSslPtr<X509, X509_free>;
using CrlPtr = OpenSslPtr<X509_CRL, X509_CRL_free>;
using GeneralNamesPtr = OpenSslPtr<GENERAL_NAMES, GENERAL_NAMES_free>;

inline const unsigned char *ucharData(QByteArrayView bytes)
{
    return reinterpret_cast<const unsigned char *>(bytes.data());
}
inline unsigned char *ucharData(QByteArray &bytes) { return reinterpret_cast<unsigned char *>(bytes.data()); }

// A read-only memory BIO over bytes that outlive it.
inline BioPtr readBio(QByteArrayView bytes)
{
    return BioPtr(BIO_new_mem_buf(bytes.data(), bytes.size() > INT_MAX ? -1 : int(bytes.size())));
}

// Everything written to a memory BIO.
inline QByteArray bioBytes(BIO *bio)
{
    char *data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    return size > 0 ? QByteArray(data, qsizetype(size)) : QByteArray();
}

// A failed OpenSSL call leaves entries in its error queue; they are dropped here
// so that one failure never shows up again in a later, unrelated call.
inline void dropErrors() { ERR_clear_error(); }
inline std::nullopt_t failed()
{
    dropErrors();
    return std::nullopt;
}

} // namespace Security
