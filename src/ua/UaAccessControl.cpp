#include "ua/UaAccessControl.h"

namespace Ua {

namespace {
constexpr std::int32_t AnonymousToken = 0;
}

std::vector<UserTokenPolicy> AnonymousAccess::userTokenPolicies(const QString &) const
{
    UserTokenPolicy anonymous;
    anonymous.policyId = QStringLiteral("anonymous");
    anonymous.tokenType = AnonymousToken;
    return {anonymous};
}

StatusCode AnonymousAccess::activateSession(const IdentityRequest &request, UserIdentity &user) const
{
    // An empty token, or an AnonymousIdentityToken with whatever policy id the client
    // took from an endpoint.
    const ExtensionObject &token = request.token;
    AnonymousIdentityToken anonymous;
    const bool empty = token.encoding == ExtensionObject::Encoding::None && token.typeId.isNull();
    if (!empty && !decodeExtension(token, anonymous))
        return token.typeId.isNumeric(Id::UserNameIdentityToken_Binary) ? Status::BadIdentityTokenRejected
                                                                        : Status::BadIdentityTokenInvalid;
    user = UserIdentity{AnonymousToken, QString()};
    return Status::Good;
}

} // namespace Ua
