#include "ua/UaAccessControl.h"
#include "security/CertificateStore.h"
#include "security/UserStore.h"

#include <algorithm>

namespace Ua {

namespace {
const QString AnonymousPolicyId = QStringLiteral("anonymous");
const QString UserNamePolicyId = QStringLiteral("username");
// Encodings of the token types never offered here.
constexpr std::uint32_t X509IdentityToken_Binary = 327, IssuedIdentityToken_Binary = 940;
} // namespace

UserAccess::UserAccess(bool anonymous, std::shared_ptr<Security::UserStore> users,
                       std::shared_ptr<Security::CertificateStore> keys, const Security::SecurityPolicy *passwordPolicy)
    : anonymous_(anonymous), users_(std::move(users)), keys_(std::move(keys)), passwordPolicy_(passwordPolicy)
{
}

std::vector<UserTokenPolicy> UserAccess::userTokenPolicies(const QString &securityPolicyUri) const
{
    std::vector<UserTokenPolicy> policies;
    if (anonymous_) {
        UserTokenPolicy &anonymous = policies.emplace_back();
        anonymous.policyId = AnonymousPolicyId;
        anonymous.tokenType = std::int32_t(TokenType::Anonymous);
    }
    const Security::SecurityPolicy *channel = Security::findSecurityPolicy(securityPolicyUri);
    const bool secureChannel = channel && channel->secure;
    if (users_ && keys_ && (secureChannel || passwordPolicy_)) {
        UserTokenPolicy &userName = policies.emplace_back();
        userName.policyId = UserNamePolicyId;
        userName.tokenType = std::int32_t(TokenType::UserName);
        // Empty: the endpoint's own policy encrypts the password.
        userName.securityPolicyUri = secureChannel ? QString() : passwordPolicy_->uri;
    }
    return policies;
}

StatusCode UserAccess::activateSession(const IdentityRequest &request, UserIdentity &user) const
{
    const ExtensionObject &token = request.token;
    // No token at all stands for an anonymous user.
    const bool empty = token.encoding == ExtensionObject::Encoding::None && token.typeId.isNull();
    const TokenType type = empty || token.typeId.isNumeric(Id::AnonymousIdentityToken_Binary) ? TokenType::Anonymous
                           : token.typeId.isNumeric(Id::UserNameIdentityToken_Binary)         ? TokenType::UserName
                           : token.typeId.isNumeric(X509IdentityToken_Binary)                 ? TokenType::Certificate
                           : token.typeId.isNumeric(IssuedIdentityToken_Binary)               ? TokenType::IssuedToken
                                                                                              : TokenType(-1);
    const std::vector<UserTokenPolicy> offered = userTokenPolicies(request.securityPolicyUri);
    if (std::none_of(offered.begin(), offered.end(),
                     [type](const UserTokenPolicy &p) { return p.tokenType == std::int32_t(type); }))
        return type == TokenType(-1) ? Status::BadIdentityTokenInvalid : Status::BadIdentityTokenRejected;

    if (type == TokenType::Anonymous) {
        // Whatever policy id the client took from some endpoint: an anonymous user is one.
        AnonymousIdentityToken anonymous;
        if (!empty && !decodeExtension(token, anonymous))
            return Status::BadIdentityTokenInvalid;
        user = UserIdentity{std::int32_t(TokenType::Anonymous), QString()};
        return Status::Good;
    }
    // The policy id names how the password was encrypted: it must be one offered here.
    UserNameIdentityToken userName;
    if (!decodeExtension(token, userName))
        return Status::BadIdentityTokenInvalid;
    user.name = userName.userName;
    const auto policy = std::find_if(offered.begin(), offered.end(), [&](const UserTokenPolicy &p) {
        return p.tokenType == std::int32_t(TokenType::UserName) && p.policyId == userName.policyId;
    });
    return policy == offered.end() ? Status::BadIdentityTokenInvalid : checkUserName(request, *policy, userName, user);
}

StatusCode UserAccess::checkUserName(const IdentityRequest &request, const UserTokenPolicy &policy,
                                     const UserNameIdentityToken &token, UserIdentity &user) const
{
    const QString policyUri = policy.securityPolicyUri.isEmpty() ? request.securityPolicyUri : policy.securityPolicyUri;
    const Security::SecurityPolicy *secret = Security::findSecurityPolicy(policyUri);
    if (!secret || !secret->secure)
        return Status::BadIdentityTokenInvalid;
    if (token.encryptionAlgorithm != secret->asymmetricEncryptionUri)
        return Status::BadIdentityTokenInvalid;
    QByteArray password;
    if (Security::decryptUserSecret(*secret, keys_->ownKey(), token.password, request.serverNonce, password) !=
        Security::SecurityResult::Ok)
        return Status::BadIdentityTokenInvalid;
    if (users_->verify(token.userName, password) != Security::UserStore::Check::Accepted)
        return Status::BadUserAccessDenied;
    user = UserIdentity{std::int32_t(TokenType::UserName), token.userName};
    return Status::Good;
}

} // namespace Ua
