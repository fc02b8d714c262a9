#pragma once
#include "ua/UaTypeDescription.h"

#include <vector>

// The structures of the services this server implements, with the fields and field
// order of OPC 10000-4 (binary layouts as published with the standard). Enumerations
// are Int32 on the wire and are held as such. Their type descriptions are in
// UaStructures.cpp.
namespace Ua {

struct RequestHeader {
    NodeId authenticationToken;
    DateTime timestamp = 0;
    std::uint32_t requestHandle = 0;
    std::uint32_t returnDiagnostics = 0;
    QString auditEntryId;
    std::uint32_t timeoutHint = 0;
    ExtensionObject additionalHeader;
    static const TypeDesc &desc();
};

struct ResponseHeader {
    DateTime timestamp = 0;
    std::uint32_t requestHandle = 0;
    StatusCode serviceResult = 0;
    DiagnosticInfo serviceDiagnostics;
    std::vector<QString> stringTable;
    ExtensionObject additionalHeader;
    static const TypeDesc &desc();
};

struct ChannelSecurityToken {
    std::uint32_t channelId = 0;
    std::uint32_t tokenId = 0;
    DateTime createdAt = 0;
    std::uint32_t revisedLifetime = 0;
    static const TypeDesc &desc();
};

struct OpenSecureChannelRequest {
    RequestHeader requestHeader;
    std::uint32_t clientProtocolVersion = 0;
    std::int32_t requestType = 0;
    std::int32_t securityMode = 0;
    QByteArray clientNonce;
    std::uint32_t requestedLifetime = 0;
    static const TypeDesc &desc();
};

struct OpenSecureChannelResponse {
    ResponseHeader responseHeader;
    std::uint32_t serverProtocolVersion = 0;
    ChannelSecurityToken securityToken;
    QByteArray serverNonce;
    static const TypeDesc &desc();
};

struct CloseSecureChannelRequest {
    RequestHeader requestHeader;
    static const TypeDesc &desc();
};

struct UserTokenPolicy {
    QString policyId;
    std::int32_t tokenType = 0;
    QString issuedTokenType;
    QString issuerEndpointUrl;
    QString securityPolicyUri;
    static const TypeDesc &desc();
};

struct ApplicationDescription {
    QString applicationUri;
    QString productUri;
    LocalizedText applicationName;
    std::int32_t applicationType = 0;
    QString gatewayServerUri;
    QString discoveryProfileUri;
    std::vector<QString> discoveryUrls;
    static const TypeDesc &desc();
};

struct EndpointDescription {
    QString endpointUrl;
    ApplicationDescription server;
    QByteArray serverCertificate;
    std::int32_t securityMode = 0;
    QString securityPolicyUri;
    std::vector<UserTokenPolicy> userIdentityTokens;
    QString transportProfileUri;
    std::uint8_t securityLevel = 0;
    static const TypeDesc &desc();
};

struct GetEndpointsRequest {
    RequestHeader requestHeader;
    QString endpointUrl;
    std::vector<QString> localeIds;
    std::vector<QString> profileUris;
    static const TypeDesc &desc();
};

struct GetEndpointsResponse {
    ResponseHeader responseHeader;
    std::vector<EndpointDescription> endpoints;
    static const TypeDesc &desc();
};

struct FindServersRequest {
    RequestHeader requestHeader;
    QString endpointUrl;
    std::vector<QString> localeIds;
    std::vector<QString> serverUris;
    static const TypeDesc &desc();
};

struct FindServersResponse {
    ResponseHeader responseHeader;
    std::vector<ApplicationDescription> servers;
    static const TypeDesc &desc();
};

struct SignatureData {
    QString algorithm;
    QByteArray signature;
    static const TypeDesc &desc();
};

struct SignedSoftwareCertificate {
    QByteArray certificateData;
    QByteArray signature;
    static const TypeDesc &desc();
};

struct CreateSessionRequest {
    RequestHeader requestHeader;
    ApplicationDescription clientDescription;
    QString serverUri;
    QString endpointUrl;
    QString sessionName;
    QByteArray clientNonce;
    QByteArray clientCertificate;
    double requestedSessionTimeout = 0;
    std::uint32_t maxResponseMessageSize = 0;
    static const TypeDesc &desc();
};

struct CreateSessionResponse {
    ResponseHeader responseHeader;
    NodeId sessionId;
    NodeId authenticationToken;
    double revisedSessionTimeout = 0;
    QByteArray serverNonce;
    QByteArray serverCertificate;
    std::vector<EndpointDescription> serverEndpoints;
    std::vector<SignedSoftwareCertificate> serverSoftwareCertificates;
    SignatureData serverSignature;
    std::uint32_t maxRequestMessageSize = 0;
    static const TypeDesc &desc();
};

struct ActivateSessionRequest {
    RequestHeader requestHeader;
    SignatureData clientSignature;
    std::vector<SignedSoftwareCertificate> clientSoftwareCertificates;
    std::vector<QString> localeIds;
    ExtensionObject userIdentityToken;
    SignatureData userTokenSignature;
    static const TypeDesc &desc();
};

struct ActivateSessionResponse {
    ResponseHeader responseHeader;
    QByteArray serverNonce;
    std::vector<StatusCode> results;
    std::vector<DiagnosticInfo> diagnosticInfos;
    static const TypeDesc &desc();
};

struct CloseSessionRequest {
    RequestHeader requestHeader;
    bool deleteSubscriptions = false;
    static const TypeDesc &desc();
};

struct CloseSessionResponse {
    ResponseHeader responseHeader;
    static const TypeDesc &desc();
};

struct CancelRequest {
    RequestHeader requestHeader;
    std::uint32_t requestHandle = 0;
    static const TypeDesc &desc();
};

struct CancelResponse {
    ResponseHeader responseHeader;
    std::uint32_t cancelCount = 0;
    static const TypeDesc &desc();
};

struct AnonymousIdentityToken {
    QString policyId;
    static const TypeDesc &desc();
};

struct ViewDescription {
    NodeId viewId;
    DateTime timestamp = 0;
    std::uint32_t viewVersion = 0;
    static const TypeDesc &desc();
};

struct BrowseDescription {
    NodeId nodeId;
    std::int32_t browseDirection = 0;
    NodeId referenceTypeId;
    bool includeSubtypes = false;
    std::uint32_t nodeClassMask = 0;
    std::uint32_t resultMask = 0;
    static const TypeDesc &desc();
};

struct ReferenceDescription {
    NodeId referenceTypeId;
    bool isForward = false;
    ExpandedNodeId nodeId;
    QualifiedName browseName;
    LocalizedText displayName;
    std::int32_t nodeClass = 0;
    ExpandedNodeId typeDefinition;
    static const TypeDesc &desc();
};

struct BrowseResult {
    StatusCode statusCode = 0;
    QByteArray continuationPoint;
    std::vector<ReferenceDescription> references;
    static const TypeDesc &desc();
};

struct BrowseRequest {
    RequestHeader requestHeader;
    ViewDescription view;
    std::uint32_t requestedMaxReferencesPerNode = 0;
    std::vector<BrowseDescription> nodesToBrowse;
    static const TypeDesc &desc();
};

struct BrowseResponse {
    ResponseHeader responseHeader;
    std::vector<BrowseResult> results;
    std::vector<DiagnosticInfo> diagnosticInfos;
    static const TypeDesc &desc();
};

struct BrowseNextRequest {
    RequestHeader requestHeader;
    bool releaseContinuationPoints = false;
    std::vector<QByteArray> continuationPoints;
    static const TypeDesc &desc();
};

struct BrowseNextResponse {
    ResponseHeader responseHeader;
    std::vector<BrowseResult> results;
    std::vector<DiagnosticInfo> diagnosticInfos;
    static const TypeDesc &desc();
};

struct RelativePathElement {
    NodeId referenceTypeId;
    bool isInverse = false;
    bool includeSubtypes = false;
    QualifiedName targetName;
    static const TypeDesc &desc();
};

struct RelativePath {
    std::vector<RelativePathElement> elements;
    static const TypeDesc &desc();
};

struct BrowsePath {
    NodeId startingNode;
    RelativePath relativePath;
    static const TypeDesc &desc();
};

struct BrowsePathTarget {
    ExpandedNodeId targetId;
    std::uint32_t remainingPathIndex = 0;
    static const TypeDesc &desc();
};

struct BrowsePathResult {
    StatusCode statusCode = 0;
    std::vector<BrowsePathTarget> targets;
    static const TypeDesc &desc();
};

struct TranslateBrowsePathsToNodeIdsRequest {
    RequestHeader requestHeader;
    std::vector<BrowsePath> browsePaths;
    static const TypeDesc &desc();
};

struct TranslateBrowsePathsToNodeIdsResponse {
    ResponseHeader responseHeader;
    std::vector<BrowsePathResult> results;
    std::vector<DiagnosticInfo> diagnosticInfos;
    static const TypeDesc &desc();
};

struct RegisterNodesRequest {
    RequestHeader requestHeader;
    std::vector<NodeId> nodesToRegister;
    static const TypeDesc &desc();
};

struct RegisterNodesResponse {
    ResponseHeader responseHeader;
    std::vector<NodeId> registeredNodeIds;
    static const TypeDesc &desc();
};

struct UnregisterNodesRequest {
    RequestHeader requestHeader;
    std::vector<NodeId> nodesToUnregister;
    static const TypeDesc &desc();
};

struct UnregisterNodesResponse {
    ResponseHeader responseHeader;
    static const TypeDesc &desc();
};

struct ReadValueId {
    NodeId nodeId;
    std::uint32_t attributeId = 0;
    QString indexRange;
    QualifiedName dataEncoding;
    static const TypeDesc &desc();
};

struct ReadRequest {
    RequestHeader requestHeader;
    double maxAge = 0;
    std::int32_t timestampsToReturn = 0;
    std::vector<ReadValueId> nodesToRead;
    static const TypeDesc &desc();
};

struct ReadResponse {
    ResponseHeader responseHeader;
    std::vector<DataValue> results;
    std::vector<DiagnosticInfo> diagnosticInfos;
    static const TypeDesc &desc();
};

struct WriteValue {
    NodeId nodeId;
    std::uint32_t attributeId = 0;
    QString indexRange;
    DataValue value;
    static const TypeDesc &desc();
};

struct WriteRequest {
    RequestHeader requestHeader;
    std::vector<WriteValue> nodesToWrite;
    static const TypeDesc &desc();
};

struct WriteResponse {
    ResponseHeader responseHeader;
    std::vector<StatusCode> results;
    std::vector<DiagnosticInfo> diagnosticInfos;
    static const TypeDesc &desc();
};

struct ServiceFault {
    ResponseHeader responseHeader;
    static const TypeDesc &desc();
};

// Fills a response's header for the request it answers: the time and the handle.
template <class Response> void stamp(Response &response, const RequestHeader &header)
{
    response.responseHeader.timestamp = nowDateTime();
    response.responseHeader.requestHandle = header.requestHandle;
}

// The encoded body of a ServiceFault answering the request with that handle.
QByteArray encodeServiceFault(std::uint32_t requestHandle, StatusCode status);

struct BuildInfo {
    QString productUri;
    QString manufacturerName;
    QString productName;
    QString softwareVersion;
    QString buildNumber;
    DateTime buildDate = 0;
    static const TypeDesc &desc();
};

struct ServerStatusDataType {
    DateTime startTime = 0;
    DateTime currentTime = 0;
    std::int32_t state = 0;
    BuildInfo buildInfo;
    std::uint32_t secondsTillShutdown = 0;
    LocalizedText shutdownReason;
    static const TypeDesc &desc();
};

// Subscriptions and monitored items.
struct DataChangeFilter {
    std::int32_t trigger = 0;
    std::uint32_t deadbandType = 0;
    double deadbandValue = 0;
    static const TypeDesc &desc();
};

struct MonitoringParameters {
    std::uint32_t clientHandle = 0;
    double samplingInterval = 0;
    ExtensionObject filter;
    std::uint32_t queueSize = 0;
    bool discardOldest = false;
    static const TypeDesc &desc();
};

struct MonitoredItemCreateRequest {
    ReadValueId itemToMonitor;
    std::int32_t monitoringMode = 0;
    MonitoringParameters requestedParameters;
    static const TypeDesc &desc();
};

struct MonitoredItemCreateResult {
    StatusCode statusCode = 0;
    std::uint32_t monitoredItemId = 0;
    double revisedSamplingInterval = 0;
    std::uint32_t revisedQueueSize = 0;
    ExtensionObject filterResult;
    static const TypeDesc &desc();
};

struct CreateMonitoredItemsRequest {
    RequestHeader requestHeader;
    std::uint32_t subscriptionId = 0;
    std::int32_t timestampsToReturn = 0;
    std::vector<MonitoredItemCreateRequest> itemsToCreate;
    static const TypeDesc &desc();
};

struct CreateMonitoredItemsResponse {
    ResponseHeader responseHeader;
    std::vector<MonitoredItemCreateResult> results;
    std::vector<DiagnosticInfo> diagnosticInfos;
    static const TypeDesc &desc();
};

struct MonitoredItemModifyRequest {
    std::uint32_t monitoredItemId = 0;
    MonitoringParameters requestedParameters;
    static const TypeDesc &desc();
};

struct MonitoredItemModifyResult {
    StatusCode statusCode = 0;
    double revisedSamplingInterval = 0;
    std::uint32_t revisedQueueSize = 0;
    ExtensionObject filterResult;
    static const TypeDesc &desc();
};

struct ModifyMonitoredItemsRequest {
    RequestHeader requestHeader;
    std::uint32_t subscriptionId = 0;
    std::int32_t timestampsToReturn = 0;
    std::vector<MonitoredItemModifyRequest> itemsToModify;
    static const TypeDesc &desc();
};

struct ModifyMonitoredItemsResponse {
    ResponseHeader responseHeader;
    std::vector<MonitoredItemModifyResult> results;
    std::vector<DiagnosticInfo> diagnosticInfos;
    static const TypeDesc &desc();
};

struct SetMonitoringModeRequest {
    RequestHeader requestHeader;
    std::uint32_t subscriptionId = 0;
    std::int32_t monitoringMode = 0;
    std::vector<std::uint32_t> monitoredItemIds;
    static const TypeDesc &desc();
};

struct SetMonitoringModeResponse {
    ResponseHeader responseHeader;
    std::vector<StatusCode> results;
    std::vector<DiagnosticInfo> diagnosticInfos;
    static const TypeDesc &desc();
};

struct DeleteMonitoredItemsRequest {
    RequestHeader requestHeader;
    std::uint32_t subscriptionId = 0;
    std::vector<std::uint32_t> monitoredItemIds;
    static const TypeDesc &desc();
};

struct DeleteMonitoredItemsResponse {
    ResponseHeader responseHeader;
    std::vector<StatusCode> results;
    std::vector<DiagnosticInfo> diagnosticInfos;
    static const TypeDesc &desc();
};

struct CreateSubscriptionRequest {
    RequestHeader requestHeader;
    double requestedPublishingInterval = 0;
    std::uint32_t requestedLifetimeCount = 0;
    std::uint32_t requestedMaxKeepAliveCount = 0;
    std::uint32_t maxNotificationsPerPublish = 0;
    bool publishingEnabled = false;
    std::uint8_t priority = 0;
    static const TypeDesc &desc();
};

struct CreateSubscriptionResponse {
    ResponseHeader responseHeader;
    std::uint32_t subscriptionId = 0;
    double revisedPublishingInterval = 0;
    std::uint32_t revisedLifetimeCount = 0;
    std::uint32_t revisedMaxKeepAliveCount = 0;
    static const TypeDesc &desc();
};

struct ModifySubscriptionRequest {
    RequestHeader requestHeader;
    std::uint32_t subscriptionId = 0;
    double requestedPublishingInterval = 0;
    std::uint32_t requestedLifetimeCount = 0;
    std::uint32_t requestedMaxKeepAliveCount = 0;
    std::uint32_t maxNotificationsPerPublish = 0;
    std::uint8_t priority = 0;
    static const TypeDesc &desc();
};

struct ModifySubscriptionResponse {
    ResponseHeader responseHeader;
    double revisedPublishingInterval = 0;
    std::uint32_t revisedLifetimeCount = 0;
    std::uint32_t revisedMaxKeepAliveCount = 0;
    static const TypeDesc &desc();
};

struct SetPublishingModeRequest {
    RequestHeader requestHeader;
    bool publishingEnabled = false;
    std::vector<std::uint32_t> subscriptionIds;
    static const TypeDesc &desc();
};

struct SetPublishingModeResponse {
    ResponseHeader responseHeader;
    std::vector<StatusCode> results;
    std::vector<DiagnosticInfo> diagnosticInfos;
    static const TypeDesc &desc();
};

struct NotificationMessage {
    std::uint32_t sequenceNumber = 0;
    DateTime publishTime = 0;
    std::vector<ExtensionObject> notificationData;
    static const TypeDesc &desc();
};

struct MonitoredItemNotification {
    std::uint32_t clientHandle = 0;
    DataValue value;
    static const TypeDesc &desc();
};

struct DataChangeNotification {
    std::vector<MonitoredItemNotification> monitoredItems;
    std::vector<DiagnosticInfo> diagnosticInfos;
    static const TypeDesc &desc();
};

struct StatusChangeNotification {
    StatusCode status = 0;
    DiagnosticInfo diagnosticInfo;
    static const TypeDesc &desc();
};

struct SubscriptionAcknowledgement {
    std::uint32_t subscriptionId = 0;
    std::uint32_t sequenceNumber = 0;
    static const TypeDesc &desc();
};

struct PublishRequest {
    RequestHeader requestHeader;
    std::vector<SubscriptionAcknowledgement> subscriptionAcknowledgements;
    static const TypeDesc &desc();
};

struct PublishResponse {
    ResponseHeader responseHeader;
    std::uint32_t subscriptionId = 0;
    std::vector<std::uint32_t> availableSequenceNumbers;
    bool moreNotifications = false;
    NotificationMessage notificationMessage;
    std::vector<StatusCode> results;
    std::vector<DiagnosticInfo> diagnosticInfos;
    static const TypeDesc &desc();
};

struct RepublishRequest {
    RequestHeader requestHeader;
    std::uint32_t subscriptionId = 0;
    std::uint32_t retransmitSequenceNumber = 0;
    static const TypeDesc &desc();
};

struct RepublishResponse {
    ResponseHeader responseHeader;
    NotificationMessage notificationMessage;
    static const TypeDesc &desc();
};

struct DeleteSubscriptionsRequest {
    RequestHeader requestHeader;
    std::vector<std::uint32_t> subscriptionIds;
    static const TypeDesc &desc();
};

struct DeleteSubscriptionsResponse {
    ResponseHeader responseHeader;
    std::vector<StatusCode> results;
    std::vector<DiagnosticInfo> diagnosticInfos;
    static const TypeDesc &desc();
};
} // namespace Ua
