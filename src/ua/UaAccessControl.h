#pragma once
#include "ua/UaStructures.h"

#include <vector>

class OPCItem;

// Who may do what: the user token policies an endpoint offers, the identity check of
// ActivateSession, and each session's rights on the items. The server core asks it
// and decides nothing of this itself.
namespace Ua {

// The user a session was activated for.
struct UserIdentity {
    std::int32_t tokenType = 0; // UserTokenType: 0 Anonymous, 1 UserName, 2 Certificate
    QString name;               // empty for anonymous users
};

// What ActivateSession brings for the identity check. A UserName token's password
// is encrypted with the channel's security policy and the server nonce the session
// was given last.
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
    // Good and the user, or the status ActivateSession fails with.
    virtual StatusCode activateSession(const IdentityRequest &request, UserIdentity &user) const = 0;
    // The user's access level to an item whose own access level is accessLevel.
    virtual std::uint8_t userAccessLevel(const UserIdentity &user, const OPCItem &item,
                                         std::uint8_t accessLevel) const = 0;
};

// Anonymous users only, with every right the items themselves grant.
class AnonymousAccess final : public AccessControl {
public:
    std::vector<UserTokenPolicy> userTokenPolicies(const QString &securityPolicyUri) const override;
    StatusCode activateSession(const IdentityRequest &request, UserIdentity &user) const override;
    std::uint8_t userAccessLevel(const UserIdentity &, const OPCItem &, std::uint8_t accessLevel) const override
    {
        return accessLevel;
    }
};

} // namespace Ua
