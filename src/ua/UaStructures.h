#pragma once
#include "ua/UaTypeDescription.h"

#include <vector>

// The structures of the services this server implements, each with the fields and
// field order of OPC 10000-4 (binary layouts as published with the standard).
// Enumerations are Int32 on the wire and are held as such.
namespace Ua {

UA_STRUCTURE(RequestHeader, (NodeId, authenticationToken), (DateTime, timestamp), (std::uint32_t, requestHandle),
             (std::uint32_t, returnDiagnostics), (QString, auditEntryId), (std::uint32_t, timeoutHint),
             (ExtensionObject, additionalHeader));

UA_STRUCTURE(ResponseHeader, (DateTime, timestamp), (std::uint32_t, requestHandle), (StatusCode, serviceResult),
             (DiagnosticInfo, serviceDiagnostics), (std::vector<QString>, stringTable),
             (ExtensionObject, additionalHeader));

UA_STRUCTURE(ChannelSecurityToken, (std::uint32_t, channelId), (std::uint32_t, tokenId), (DateTime, createdAt),
             (std::uint32_t, revisedLifetime));

UA_STRUCTURE(OpenSecureChannelRequest, (RequestHeader, requestHeader), (std::uint32_t, clientProtocolVersion),
             (std::int32_t, requestType), (std::int32_t, securityMode), (QByteArray, clientNonce),
             (std::uint32_t, requestedLifetime));

UA_STRUCTURE(OpenSecureChannelResponse, (ResponseHeader, responseHeader), (std::uint32_t, serverProtocolVersion),
             (ChannelSecurityToken, securityToken), (QByteArray, serverNonce));

UA_STRUCTURE(CloseSecureChannelRequest, (RequestHeader, requestHeader));

UA_STRUCTURE(UserTokenPolicy, (QString, policyId), (std::int32_t, tokenType), (QString, issuedTokenType),
             (QString, issuerEndpointUrl), (QString, securityPolicyUri));

UA_STRUCTURE(ApplicationDescription, (QString, applicationUri), (QString, productUri), (LocalizedText, applicationName),
             (std::int32_t, applicationType), (QString, gatewayServerUri), (QString, discoveryProfileUri),
             (std::vector<QString>, discoveryUrls));

UA_STRUCTURE(EndpointDescription, (QString, endpointUrl), (ApplicationDescription, server),
             (QByteArray, serverCertificate), (std::int32_t, securityMode), (QString, securityPolicyUri),
             (std::vector<UserTokenPolicy>, userIdentityTokens), (QString, transportProfileUri),
             (std::uint8_t, securityLevel));

UA_STRUCTURE(GetEndpointsRequest, (RequestHeader, requestHeader), (QString, endpointUrl),
             (std::vector<QString>, localeIds), (std::vector<QString>, profileUris));

UA_STRUCTURE(GetEndpointsResponse, (ResponseHeader, responseHeader), (std::vector<EndpointDescription>, endpoints));

UA_STRUCTURE(FindServersRequest, (RequestHeader, requestHeader), (QString, endpointUrl),
             (std::vector<QString>, localeIds), (std::vector<QString>, serverUris));

UA_STRUCTURE(FindServersResponse, (ResponseHeader, responseHeader), (std::vector<ApplicationDescription>, servers));

UA_STRUCTURE(SignatureData, (QString, algorithm), (QByteArray, signature));

UA_STRUCTURE(SignedSoftwareCertificate, (QByteArray, certificateData), (QByteArray, signature));

UA_STRUCTURE(CreateSessionRequest, (RequestHeader, requestHeader), (ApplicationDescription, clientDescription),
             (QString, serverUri), (QString, endpointUrl), (QString, sessionName), (QByteArray, clientNonce),
             (QByteArray, clientCertificate), (double, requestedSessionTimeout),
             (std::uint32_t, maxResponseMessageSize));

UA_STRUCTURE(CreateSessionResponse, (ResponseHeader, responseHeader), (NodeId, sessionId),
             (NodeId, authenticationToken), (double, revisedSessionTimeout), (QByteArray, serverNonce),
             (QByteArray, serverCertificate), (std::vector<EndpointDescription>, serverEndpoints),
             (std::vector<SignedSoftwareCertificate>, serverSoftwareCertificates), (SignatureData, serverSignature),
             (std::uint32_t, maxRequestMessageSize));

UA_STRUCTURE(ActivateSessionRequest, (RequestHeader, requestHeader), (SignatureData, clientSignature),
             (std::vector<SignedSoftwareCertificate>, clientSoftwareCertificates), (std::vector<QString>, localeIds),
             (ExtensionObject, userIdentityToken), (SignatureData, userTokenSignature));

UA_STRUCTURE(ActivateSessionResponse, (ResponseHeader, responseHeader), (QByteArray, serverNonce),
             (std::vector<StatusCode>, results), (std::vector<DiagnosticInfo>, diagnosticInfos));

UA_STRUCTURE(CloseSessionRequest, (RequestHeader, requestHeader), (bool, deleteSubscriptions));

UA_STRUCTURE(CloseSessionResponse, (ResponseHeader, responseHeader));

UA_STRUCTURE(CancelRequest, (RequestHeader, requestHeader), (std::uint32_t, requestHandle));

UA_STRUCTURE(CancelResponse, (ResponseHeader, responseHeader), (std::uint32_t, cancelCount));

UA_STRUCTURE(AnonymousIdentityToken, (QString, policyId));

UA_STRUCTURE(ViewDescription, (NodeId, viewId), (DateTime, timestamp), (std::uint32_t, viewVersion));

UA_STRUCTURE(BrowseDescription, (NodeId, nodeId), (std::int32_t, browseDirection), (NodeId, referenceTypeId),
             (bool, includeSubtypes), (std::uint32_t, nodeClassMask), (std::uint32_t, resultMask));

UA_STRUCTURE(ReferenceDescription, (NodeId, referenceTypeId), (bool, isForward), (ExpandedNodeId, nodeId),
             (QualifiedName, browseName), (LocalizedText, displayName), (std::int32_t, nodeClass),
             (ExpandedNodeId, typeDefinition));

UA_STRUCTURE(BrowseResult, (StatusCode, statusCode), (QByteArray, continuationPoint),
             (std::vector<ReferenceDescription>, references));

UA_STRUCTURE(BrowseRequest, (RequestHeader, requestHeader), (ViewDescription, view),
             (std::uint32_t, requestedMaxReferencesPerNode), (std::vector<BrowseDescription>, nodesToBrowse));

UA_STRUCTURE(BrowseResponse, (ResponseHeader, responseHeader), (std::vector<BrowseResult>, results),
             (std::vector<DiagnosticInfo>, diagnosticInfos));

UA_STRUCTURE(BrowseNextRequest, (RequestHeader, requestHeader), (bool, releaseContinuationPoints),
             (std::vector<QByteArray>, continuationPoints));

UA_STRUCTURE(BrowseNextResponse, (ResponseHeader, responseHeader), (std::vector<BrowseResult>, results),
             (std::vector<DiagnosticInfo>, diagnosticInfos));

UA_STRUCTURE(RelativePathElement, (NodeId, referenceTypeId), (bool, isInverse), (bool, includeSubtypes),
             (QualifiedName, targetName));

UA_STRUCTURE(RelativePath, (std::vector<RelativePathElement>, elements));

UA_STRUCTURE(BrowsePath, (NodeId, startingNode), (RelativePath, relativePath));

UA_STRUCTURE(BrowsePathTarget, (ExpandedNodeId, targetId), (std::uint32_t, remainingPathIndex));

UA_STRUCTURE(BrowsePathResult, (StatusCode, statusCode), (std::vector<BrowsePathTarget>, targets));

UA_STRUCTURE(TranslateBrowsePathsToNodeIdsRequest, (RequestHeader, requestHeader),
             (std::vector<BrowsePath>, browsePaths));

UA_STRUCTURE(TranslateBrowsePathsToNodeIdsResponse, (ResponseHeader, responseHeader),
             (std::vector<BrowsePathResult>, results), (std::vector<DiagnosticInfo>, diagnosticInfos));

UA_STRUCTURE(RegisterNodesRequest, (RequestHeader, requestHeader), (std::vector<NodeId>, nodesToRegister));

UA_STRUCTURE(RegisterNodesResponse, (ResponseHeader, responseHeader), (std::vector<NodeId>, registeredNodeIds));

UA_STRUCTURE(UnregisterNodesRequest, (RequestHeader, requestHeader), (std::vector<NodeId>, nodesToUnregister));

UA_STRUCTURE(UnregisterNodesResponse, (ResponseHeader, responseHeader));

UA_STRUCTURE(ReadValueId, (NodeId, nodeId), (std::uint32_t, attributeId), (QString, indexRange),
             (QualifiedName, dataEncoding));

UA_STRUCTURE(ReadRequest, (RequestHeader, requestHeader), (double, maxAge), (std::int32_t, timestampsToReturn),
             (std::vector<ReadValueId>, nodesToRead));

UA_STRUCTURE(ReadResponse, (ResponseHeader, responseHeader), (std::vector<DataValue>, results),
             (std::vector<DiagnosticInfo>, diagnosticInfos));

UA_STRUCTURE(WriteValue, (NodeId, nodeId), (std::uint32_t, attributeId), (QString, indexRange), (DataValue, value));

UA_STRUCTURE(WriteRequest, (RequestHeader, requestHeader), (std::vector<WriteValue>, nodesToWrite));

UA_STRUCTURE(WriteResponse, (ResponseHeader, responseHeader), (std::vector<StatusCode>, results),
             (std::vector<DiagnosticInfo>, diagnosticInfos));

UA_STRUCTURE(ServiceFault, (ResponseHeader, responseHeader));

// The encoded body of a ServiceFault answering the request with that handle.
inline QByteArray encodeServiceFault(std::uint32_t requestHandle, StatusCode status, DateTime now)
{
    ServiceFault fault;
    fault.responseHeader.timestamp = now;
    fault.responseHeader.requestHandle = requestHandle;
    fault.responseHeader.serviceResult = status;
    QByteArray body;
    Encoder e(body);
    encodeMessage(e, fault);
    return body;
}

UA_STRUCTURE(BuildInfo, (QString, productUri), (QString, manufacturerName), (QString, productName),
             (QString, softwareVersion), (QString, buildNumber), (DateTime, buildDate));

UA_STRUCTURE(ServerStatusDataType, (DateTime, startTime), (DateTime, currentTime), (std::int32_t, state),
             (BuildInfo, buildInfo), (std::uint32_t, secondsTillShutdown), (LocalizedText, shutdownReason));

// Subscriptions and monitored items.
UA_STRUCTURE(DataChangeFilter, (std::int32_t, trigger), (std::uint32_t, deadbandType), (double, deadbandValue));

UA_STRUCTURE(MonitoringParameters, (std::uint32_t, clientHandle), (double, samplingInterval), (ExtensionObject, filter),
             (std::uint32_t, queueSize), (bool, discardOldest));

UA_STRUCTURE(MonitoredItemCreateRequest, (ReadValueId, itemToMonitor), (std::int32_t, monitoringMode),
             (MonitoringParameters, requestedParameters));

UA_STRUCTURE(MonitoredItemCreateResult, (StatusCode, statusCode), (std::uint32_t, monitoredItemId),
             (double, revisedSamplingInterval), (std::uint32_t, revisedQueueSize), (ExtensionObject, filterResult));

UA_STRUCTURE(CreateMonitoredItemsRequest, (RequestHeader, requestHeader), (std::uint32_t, subscriptionId),
             (std::int32_t, timestampsToReturn), (std::vector<MonitoredItemCreateRequest>, itemsToCreate));

UA_STRUCTURE(CreateMonitoredItemsResponse, (ResponseHeader, responseHeader),
             (std::vector<MonitoredItemCreateResult>, results), (std::vector<DiagnosticInfo>, diagnosticInfos));

UA_STRUCTURE(MonitoredItemModifyRequest, (std::uint32_t, monitoredItemId), (MonitoringParameters, requestedParameters));

UA_STRUCTURE(MonitoredItemModifyResult, (StatusCode, statusCode), (double, revisedSamplingInterval),
             (std::uint32_t, revisedQueueSize), (ExtensionObject, filterResult));

UA_STRUCTURE(ModifyMonitoredItemsRequest, (RequestHeader, requestHeader), (std::uint32_t, subscriptionId),
             (std::int32_t, timestampsToReturn), (std::vector<MonitoredItemModifyRequest>, itemsToModify));

UA_STRUCTURE(ModifyMonitoredItemsResponse, (ResponseHeader, responseHeader),
             (std::vector<MonitoredItemModifyResult>, results), (std::vector<DiagnosticInfo>, diagnosticInfos));

UA_STRUCTURE(SetMonitoringModeRequest, (RequestHeader, requestHeader), (std::uint32_t, subscriptionId),
             (std::int32_t, monitoringMode), (std::vector<std::uint32_t>, monitoredItemIds));

UA_STRUCTURE(SetMonitoringModeResponse, (ResponseHeader, responseHeader), (std::vector<StatusCode>, results),
             (std::vector<DiagnosticInfo>, diagnosticInfos));

UA_STRUCTURE(DeleteMonitoredItemsRequest, (RequestHeader, requestHeader), (std::uint32_t, subscriptionId),
             (std::vector<std::uint32_t>, monitoredItemIds));

UA_STRUCTURE(DeleteMonitoredItemsResponse, (ResponseHeader, responseHeader), (std::vector<StatusCode>, results),
             (std::vector<DiagnosticInfo>, diagnosticInfos));

UA_STRUCTURE(CreateSubscriptionRequest, (RequestHeader, requestHeader), (double, requestedPublishingInterval),
             (std::uint32_t, requestedLifetimeCount), (std::uint32_t, requestedMaxKeepAliveCount),
             (std::uint32_t, maxNotificationsPerPublish), (bool, publishingEnabled), (std::uint8_t, priority));

UA_STRUCTURE(CreateSubscriptionResponse, (ResponseHeader, responseHeader), (std::uint32_t, subscriptionId),
             (double, revisedPublishingInterval), (std::uint32_t, revisedLifetimeCount),
             (std::uint32_t, revisedMaxKeepAliveCount));

UA_STRUCTURE(ModifySubscriptionRequest, (RequestHeader, requestHeader), (std::uint32_t, subscriptionId),
             (double, requestedPublishingInterval), (std::uint32_t, requestedLifetimeCount),
             (std::uint32_t, requestedMaxKeepAliveCount), (std::uint32_t, maxNotificationsPerPublish),
             (std::uint8_t, priority));

UA_STRUCTURE(ModifySubscriptionResponse, (ResponseHeader, responseHeader), (double, revisedPublishingInterval),
             (std::uint32_t, revisedLifetimeCount), (std::uint32_t, revisedMaxKeepAliveCount));

UA_STRUCTURE(SetPublishingModeRequest, (RequestHeader, requestHeader), (bool, publishingEnabled),
             (std::vector<std::uint32_t>, subscriptionIds));

UA_STRUCTURE(SetPublishingModeResponse, (ResponseHeader, responseHeader), (std::vector<StatusCode>, results),
             (std::vector<DiagnosticInfo>, diagnosticInfos));

UA_STRUCTURE(NotificationMessage, (std::uint32_t, sequenceNumber), (DateTime, publishTime),
             (std::vector<ExtensionObject>, notificationData));

UA_STRUCTURE(MonitoredItemNotification, (std::uint32_t, clientHandle), (DataValue, value));

UA_STRUCTURE(DataChangeNotification, (std::vector<MonitoredItemNotification>, monitoredItems),
             (std::vector<DiagnosticInfo>, diagnosticInfos));

UA_STRUCTURE(StatusChangeNotification, (StatusCode, status), (DiagnosticInfo, diagnosticInfo));

UA_STRUCTURE(SubscriptionAcknowledgement, (std::uint32_t, subscriptionId), (std::uint32_t, sequenceNumber));

UA_STRUCTURE(PublishRequest, (RequestHeader, requestHeader),
             (std::vector<SubscriptionAcknowledgement>, subscriptionAcknowledgements));

UA_STRUCTURE(PublishResponse, (ResponseHeader, responseHeader), (std::uint32_t, subscriptionId),
             (std::vector<std::uint32_t>, availableSequenceNumbers), (bool, moreNotifications),
             (NotificationMessage, notificationMessage), (std::vector<StatusCode>, results),
             (std::vector<DiagnosticInfo>, diagnosticInfos));

UA_STRUCTURE(RepublishRequest, (RequestHeader, requestHeader), (std::uint32_t, subscriptionId),
             (std::uint32_t, retransmitSequenceNumber));

UA_STRUCTURE(RepublishResponse, (ResponseHeader, responseHeader), (NotificationMessage, notificationMessage));

UA_STRUCTURE(DeleteSubscriptionsRequest, (RequestHeader, requestHeader), (std::vector<std::uint32_t>, subscriptionIds));

UA_STRUCTURE(DeleteSubscriptionsResponse, (ResponseHeader, responseHeader), (std::vector<StatusCode>, results),
             (std::vector<DiagnosticInfo>, diagnosticInfos));
} // namespace Ua
