// Discovery service set: GetEndpoints and FindServers.
#include "opc/OPCServer.h"
#include "ua/UaSecurityPolicy.h"
#include "ua/UaServerCore.h"

namespace Ua {

namespace {
const QString TransportProfile = QStringLiteral("http://opcfoundation.org/UA-Profile/Transport/uatcp-uasc-uabinary");
}

ApplicationDescription ServerCore::applicationDescription(const QString &url) const
{
    ApplicationDescription d;
    d.applicationUri = config_.applicationUri;
    d.productUri = config_.productUri;
    d.applicationName =
        LocalizedText{QString(), server_.ServerName.isEmpty() ? QStringLiteral("OPC-KV7") : server_.ServerName};
    d.applicationType = 0; // Server
    d.discoveryUrls = {url};
    return d;
}

std::vector<EndpointDescription> ServerCore::endpoints(const QString &requestedUrl) const
{
    // Answer with the address the client used to reach us: behind a bind-all address
    // or a name the client resolves differently, our own view of the host may not be
    // reachable from there.
    const QString url =
        requestedUrl.startsWith(QStringLiteral("opc.tcp://"), Qt::CaseInsensitive) ? requestedUrl : config_.endpointUrl;
    EndpointDescription e;
    e.endpointUrl = url;
    e.server = applicationDescription(url);
    e.securityMode = 1; // None
    e.securityPolicyUri = SecurityPolicyNone::policyUri();
    UserTokenPolicy anonymous;
    anonymous.policyId = QStringLiteral("anonymous");
    anonymous.tokenType = 0; // Anonymous
    e.userIdentityTokens = {anonymous};
    e.transportProfileUri = TransportProfile;
    e.securityLevel = 0;
    return {e};
}

void ServerCore::getEndpoints(RequestContext &context, Decoder &d, Encoder &e)
{
    GetEndpointsRequest request;
    decodeInto(d, request);
    GetEndpointsResponse response;
    stamp(response, request.requestHeader);
    const bool profileMatches = request.profileUris.empty() ||
                                std::find(request.profileUris.begin(), request.profileUris.end(), TransportProfile) !=
                                    request.profileUris.end();
    if (profileMatches)
        response.endpoints =
            endpoints(request.endpointUrl.isEmpty() ? context.connection.helloEndpointUrl() : request.endpointUrl);
    encodeMessage(e, response);
}

void ServerCore::findServers(RequestContext &context, Decoder &d, Encoder &e)
{
    FindServersRequest request;
    decodeInto(d, request);
    FindServersResponse response;
    stamp(response, request.requestHeader);
    const bool wanted = request.serverUris.empty() || std::find(request.serverUris.begin(), request.serverUris.end(),
                                                                config_.applicationUri) != request.serverUris.end();
    if (wanted) {
        const QString url = request.endpointUrl.startsWith(QStringLiteral("opc.tcp://"), Qt::CaseInsensitive)
                                ? request.endpointUrl
                                : config_.endpointUrl;
        response.servers = {applicationDescription(url)};
    }
    encodeMessage(e, response);
}

} // namespace Ua
