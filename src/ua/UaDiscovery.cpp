// Discovery service set: GetEndpoints and FindServers.
#include "opc/OPCServer.h"
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
    std::vector<EndpointDescription> list;
    for (const SecurityOffer &offer : config_.security) {
        EndpointDescription &e = list.emplace_back();
        e.endpointUrl = url;
        e.server = applicationDescription(url);
        e.securityMode = std::int32_t(offer.mode);
        e.securityPolicyUri = offer.policy->uri();
        e.userIdentityTokens = config_.accessControl->userTokenPolicies(e.securityPolicyUri);
        e.transportProfileUri = TransportProfile;
        // Stronger protection ranks higher; None is the least.
        e.securityLevel = std::uint8_t(int(offer.mode) - int(SecurityMode::None));
    }
    return list;
}

void ServerCore::getEndpoints(RequestContext &context, const GetEndpointsRequest &request,
                              GetEndpointsResponse &response)
{
    const bool profileMatches = request.profileUris.empty() ||
                                std::find(request.profileUris.begin(), request.profileUris.end(), TransportProfile) !=
                                    request.profileUris.end();
    if (profileMatches)
        response.endpoints =
            endpoints(request.endpointUrl.isEmpty() ? context.channel.endpointUrl() : request.endpointUrl);
}

void ServerCore::findServers(RequestContext &, const FindServersRequest &request, FindServersResponse &response)
{
    const bool wanted = request.serverUris.empty() || std::find(request.serverUris.begin(), request.serverUris.end(),
                                                                config_.applicationUri) != request.serverUris.end();
    if (wanted) {
        const QString url = request.endpointUrl.startsWith(QStringLiteral("opc.tcp://"), Qt::CaseInsensitive)
                                ? request.endpointUrl
                                : config_.endpointUrl;
        response.servers = {applicationDescription(url)};
    }
}

} // namespace Ua
