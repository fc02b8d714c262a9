#pragma once
#include "ua/UaStructures.h"

#include <memory>
#include <vector>

class OPCItem;

namespace Security {
struct SecurityPolicy;
class CertificateStore;
class UserStore;
} // namespace Security

// Who may do what: the user token policies an endpoint offers, the identity check of
// ActivateSession, and each session's rights on the items. The server core asks it
// and decides nothing of this itself.
namespace Ua {

// UserTokenType.
enum class TokenType : std::int32_t { Anonymous = 0, UserName = 1, Certificate = 2, IssuedToken = 3 };

// The user a session was activated for.
struct UserIdentity {
    std::int32_t tokenType = 0; // a TokenType
    QString name;               // empty for anonymous users
};

// What ActivateSession brings for the identity check. A UserName token's password
// is encrypted with the token policy's security policy (the channel's when the
// policy names none) and the server nonce the session was given last.
struct IdentityRequest {
    const ExtensionObject &token;
    const SignatureData &tokenSignature;
    QString securityPolicyUri;
    QByteArray serverNonce;
};

// Access levels (OPC 10000-3): the bits an item's rights map to.
namespace AccessLevel {
constexpr std::uint8_t CurrentRead = 0x01, CurrentWrite = 0x02;
}

class AccessControl {
public:
    virtual ~AccessControl() = default;
    // The user token policies offered on an endpoint with that security policy.
    virtual std::vector<UserTokenPolicy> userTokenPolicies(const QString &securityPolicyUri) const = 0;
    // Good and the user, or the status ActivateSession fails with. The user's name
    // is filled in as far as the token tells it, for the log of a refusal too.
    virtual StatusCode activateSession(const IdentityRequest &request, UserIdentity &user) const = 0;
    // The user's access level to an item whose own access level is accessLevel.
    virtual std::uint8_t userAccessLevel(const UserIdentity &user, const OPCItem &item,
                                         std::uint8_t accessLevel) const = 0;
};

// Anonymous users (unless switched off) and the users of the users file, with
// every right the items themselves grant.
class UserAccess final : public AccessControl {
public:
    // Anonymous users only.
    UserAccess() = default;
    // users: the users file, null for no UserName tokens. keys: our certificate and
    // key, which decrypt the passwords. passwordPolicy: the policy passwords are
    // encrypted with on endpoints without security, null for no UserName tokens there
    // (a password must never travel in the clear).
    UserAccess(bool anonymous, std::shared_ptr<Security::UserStore> users,
               std::shared_ptr<Security::CertificateStore> keys, const Security::SecurityPolicy *passwordPolicy);

    std::vector<UserTokenPolicy> userTokenPolicies(const QString &securityPolicyUri) const override;
    StatusCode activateSession(const IdentityRequest &request, UserIdentity &user) const override;
    std::uint8_t userAccessLevel(const UserIdentity &, const OPCItem &, std::uint8_t accessLevel) const override
    {
        return accessLevel;
    }

private:
    StatusCode checkUserName(const IdentityRequest &request, const UserTokenPolicy &policy,
                             const UserNameIdentityToken &token, UserIdentity &user) const;

    bool anonymous_ = true;
    std::shared_ptr<Security::UserStore> users_;
    std::shared_ptr<Security::CertificateStore> keys_;
    const Security::SecurityPolicy *passwordPolicy_ = nullptr;
};

} // namespace Ua
