#include "ua/UaStructures.h"

namespace Ua {

UA_STRUCT(RequestHeader, 391, UA_FIELD(RequestHeader, authenticationToken, "AuthenticationToken"),
          UA_FIELD(RequestHeader, timestamp, "Timestamp"), UA_FIELD(RequestHeader, requestHandle, "RequestHandle"),
          UA_FIELD(RequestHeader, returnDiagnostics, "ReturnDiagnostics"),
          UA_FIELD(RequestHeader, auditEntryId, "AuditEntryId"), UA_FIELD(RequestHeader, timeoutHint, "TimeoutHint"),
          UA_FIELD(RequestHeader, additionalHeader, "AdditionalHeader"))
UA_STRUCT(ResponseHeader, 394, UA_FIELD(ResponseHeader, timestamp, "Timestamp"),
          UA_FIELD(ResponseHeader, requestHandle, "RequestHandle"),
          UA_FIELD(ResponseHeader, serviceResult, "ServiceResult"),
          UA_FIELD(ResponseHeader, serviceDiagnostics, "ServiceDiagnostics"),
          UA_FIELD(ResponseHeader, stringTable, "StringTable"),
          UA_FIELD(ResponseHeader, additionalHeader, "AdditionalHeader"))
UA_STRUCT(ChannelSecurityToken, 443, UA_FIELD(ChannelSecurityToken, channelId, "ChannelId"),
          UA_FIELD(ChannelSecurityToken, tokenId, "TokenId"), UA_FIELD(ChannelSecurityToken, createdAt, "CreatedAt"),
          UA_FIELD(ChannelSecurityToken, revisedLifetime, "RevisedLifetime"))
UA_STRUCT(OpenSecureChannelRequest, 446, UA_FIELD(OpenSecureChannelRequest, requestHeader, "RequestHeader"),
          UA_FIELD(OpenSecureChannelRequest, clientProtocolVersion, "ClientProtocolVersion"),
          UA_FIELD(OpenSecureChannelRequest, requestType, "RequestType"),
          UA_FIELD(OpenSecureChannelRequest, securityMode, "SecurityMode"),
          UA_FIELD(OpenSecureChannelRequest, clientNonce, "ClientNonce"),
          UA_FIELD(OpenSecureChannelRequest, requestedLifetime, "RequestedLifetime"))
UA_STRUCT(OpenSecureChannelResponse, 449, UA_FIELD(OpenSecureChannelResponse, responseHeader, "ResponseHeader"),
          UA_FIELD(OpenSecureChannelResponse, serverProtocolVersion, "ServerProtocolVersion"),
          UA_FIELD(OpenSecureChannelResponse, securityToken, "SecurityToken"),
          UA_FIELD(OpenSecureChannelResponse, serverNonce, "ServerNonce"))
UA_STRUCT(CloseSecureChannelRequest, 452, UA_FIELD(CloseSecureChannelRequest, requestHeader, "RequestHeader"))
UA_STRUCT(UserTokenPolicy, 306, UA_FIELD(UserTokenPolicy, policyId, "PolicyId"),
          UA_FIELD(UserTokenPolicy, tokenType, "TokenType"),
          UA_FIELD(UserTokenPolicy, issuedTokenType, "IssuedTokenType"),
          UA_FIELD(UserTokenPolicy, issuerEndpointUrl, "IssuerEndpointUrl"),
          UA_FIELD(UserTokenPolicy, securityPolicyUri, "SecurityPolicyUri"))
UA_STRUCT(ApplicationDescription, 310, UA_FIELD(ApplicationDescription, applicationUri, "ApplicationUri"),
          UA_FIELD(ApplicationDescription, productUri, "ProductUri"),
          UA_FIELD(ApplicationDescription, applicationName, "ApplicationName"),
          UA_FIELD(ApplicationDescription, applicationType, "ApplicationType"),
          UA_FIELD(ApplicationDescription, gatewayServerUri, "GatewayServerUri"),
          UA_FIELD(ApplicationDescription, discoveryProfileUri, "DiscoveryProfileUri"),
          UA_FIELD(ApplicationDescription, discoveryUrls, "DiscoveryUrls"))
UA_STRUCT(EndpointDescription, 314, UA_FIELD(EndpointDescription, endpointUrl, "EndpointUrl"),
          UA_FIELD(EndpointDescription, server, "Server"),
          UA_FIELD(EndpointDescription, serverCertificate, "ServerCertificate"),
          UA_FIELD(EndpointDescription, securityMode, "SecurityMode"),
          UA_FIELD(EndpointDescription, securityPolicyUri, "SecurityPolicyUri"),
          UA_FIELD(EndpointDescription, userIdentityTokens, "UserIdentityTokens"),
          UA_FIELD(EndpointDescription, transportProfileUri, "TransportProfileUri"),
          UA_FIELD(EndpointDescription, securityLevel, "SecurityLevel"))
UA_STRUCT(GetEndpointsRequest, 428, UA_FIELD(GetEndpointsRequest, requestHeader, "RequestHeader"),
          UA_FIELD(GetEndpointsRequest, endpointUrl, "EndpointUrl"),
          UA_FIELD(GetEndpointsRequest, localeIds, "LocaleIds"),
          UA_FIELD(GetEndpointsRequest, profileUris, "ProfileUris"))
UA_STRUCT(GetEndpointsResponse, 431, UA_FIELD(GetEndpointsResponse, responseHeader, "ResponseHeader"),
          UA_FIELD(GetEndpointsResponse, endpoints, "Endpoints"))
UA_STRUCT(FindServersRequest, 422, UA_FIELD(FindServersRequest, requestHeader, "RequestHeader"),
          UA_FIELD(FindServersRequest, endpointUrl, "EndpointUrl"),
          UA_FIELD(FindServersRequest, localeIds, "LocaleIds"), UA_FIELD(FindServersRequest, serverUris, "ServerUris"))
UA_STRUCT(FindServersResponse, 425, UA_FIELD(FindServersResponse, responseHeader, "ResponseHeader"),
          UA_FIELD(FindServersResponse, servers, "Servers"))
UA_STRUCT(SignatureData, 458, UA_FIELD(SignatureData, algorithm, "Algorithm"),
          UA_FIELD(SignatureData, signature, "Signature"))
UA_STRUCT(SignedSoftwareCertificate, 346, UA_FIELD(SignedSoftwareCertificate, certificateData, "CertificateData"),
          UA_FIELD(SignedSoftwareCertificate, signature, "Signature"))
UA_STRUCT(CreateSessionRequest, 461, UA_FIELD(CreateSessionRequest, requestHeader, "RequestHeader"),
          UA_FIELD(CreateSessionRequest, clientDescription, "ClientDescription"),
          UA_FIELD(CreateSessionRequest, serverUri, "ServerUri"),
          UA_FIELD(CreateSessionRequest, endpointUrl, "EndpointUrl"),
          UA_FIELD(CreateSessionRequest, sessionName, "SessionName"),
          UA_FIELD(CreateSessionRequest, clientNonce, "ClientNonce"),
          UA_FIELD(CreateSessionRequest, clientCertificate, "ClientCertificate"),
          UA_FIELD(CreateSessionRequest, requestedSessionTimeout, "RequestedSessionTimeout"),
          UA_FIELD(CreateSessionRequest, maxResponseMessageSize, "MaxResponseMessageSize"))
UA_STRUCT(CreateSessionResponse, 464, UA_FIELD(CreateSessionResponse, responseHeader, "ResponseHeader"),
          UA_FIELD(CreateSessionResponse, sessionId, "SessionId"),
          UA_FIELD(CreateSessionResponse, authenticationToken, "AuthenticationToken"),
          UA_FIELD(CreateSessionResponse, revisedSessionTimeout, "RevisedSessionTimeout"),
          UA_FIELD(CreateSessionResponse, serverNonce, "ServerNonce"),
          UA_FIELD(CreateSessionResponse, serverCertificate, "ServerCertificate"),
          UA_FIELD(CreateSessionResponse, serverEndpoints, "ServerEndpoints"),
          UA_FIELD(CreateSessionResponse, serverSoftwareCertificates, "ServerSoftwareCertificates"),
          UA_FIELD(CreateSessionResponse, serverSignature, "ServerSignature"),
          UA_FIELD(CreateSessionResponse, maxRequestMessageSize, "MaxRequestMessageSize"))
UA_STRUCT(ActivateSessionRequest, 467, UA_FIELD(ActivateSessionRequest, requestHeader, "RequestHeader"),
          UA_FIELD(ActivateSessionRequest, clientSignature, "ClientSignature"),
          UA_FIELD(ActivateSessionRequest, clientSoftwareCertificates, "ClientSoftwareCertificates"),
          UA_FIELD(ActivateSessionRequest, localeIds, "LocaleIds"),
          UA_FIELD(ActivateSessionRequest, userIdentityToken, "UserIdentityToken"),
          UA_FIELD(ActivateSessionRequest, userTokenSignature, "UserTokenSignature"))
UA_STRUCT(ActivateSessionResponse, 470, UA_FIELD(ActivateSessionResponse, responseHeader, "ResponseHeader"),
          UA_FIELD(ActivateSessionResponse, serverNonce, "ServerNonce"),
          UA_FIELD(ActivateSessionResponse, results, "Results"),
          UA_FIELD(ActivateSessionResponse, diagnosticInfos, "DiagnosticInfos"))
UA_STRUCT(CloseSessionRequest, 473, UA_FIELD(CloseSessionRequest, requestHeader, "RequestHeader"),
          UA_FIELD(CloseSessionRequest, deleteSubscriptions, "DeleteSubscriptions"))
UA_STRUCT(CloseSessionResponse, 476, UA_FIELD(CloseSessionResponse, responseHeader, "ResponseHeader"))
UA_STRUCT(CancelRequest, 479, UA_FIELD(CancelRequest, requestHeader, "RequestHeader"),
          UA_FIELD(CancelRequest, requestHandle, "RequestHandle"))
UA_STRUCT(CancelResponse, 482, UA_FIELD(CancelResponse, responseHeader, "ResponseHeader"),
          UA_FIELD(CancelResponse, cancelCount, "CancelCount"))
UA_STRUCT(AnonymousIdentityToken, 321, UA_FIELD(AnonymousIdentityToken, policyId, "PolicyId"))
UA_STRUCT(ViewDescription, 513, UA_FIELD(ViewDescription, viewId, "ViewId"),
          UA_FIELD(ViewDescription, timestamp, "Timestamp"), UA_FIELD(ViewDescription, viewVersion, "ViewVersion"))
UA_STRUCT(BrowseDescription, 516, UA_FIELD(BrowseDescription, nodeId, "NodeId"),
          UA_FIELD(BrowseDescription, browseDirection, "BrowseDirection"),
          UA_FIELD(BrowseDescription, referenceTypeId, "ReferenceTypeId"),
          UA_FIELD(BrowseDescription, includeSubtypes, "IncludeSubtypes"),
          UA_FIELD(BrowseDescription, nodeClassMask, "NodeClassMask"),
          UA_FIELD(BrowseDescription, resultMask, "ResultMask"))
UA_STRUCT(ReferenceDescription, 520, UA_FIELD(ReferenceDescription, referenceTypeId, "ReferenceTypeId"),
          UA_FIELD(ReferenceDescription, isForward, "IsForward"), UA_FIELD(ReferenceDescription, nodeId, "NodeId"),
          UA_FIELD(ReferenceDescription, browseName, "BrowseName"),
          UA_FIELD(ReferenceDescription, displayName, "DisplayName"),
          UA_FIELD(ReferenceDescription, nodeClass, "NodeClass"),
          UA_FIELD(ReferenceDescription, typeDefinition, "TypeDefinition"))
UA_STRUCT(BrowseResult, 524, UA_FIELD(BrowseResult, statusCode, "StatusCode"),
          UA_FIELD(BrowseResult, continuationPoint, "ContinuationPoint"),
          UA_FIELD(BrowseResult, references, "References"))
UA_STRUCT(BrowseRequest, 527, UA_FIELD(BrowseRequest, requestHeader, "RequestHeader"),
          UA_FIELD(BrowseRequest, view, "View"),
          UA_FIELD(BrowseRequest, requestedMaxReferencesPerNode, "RequestedMaxReferencesPerNode"),
          UA_FIELD(BrowseRequest, nodesToBrowse, "NodesToBrowse"))
UA_STRUCT(BrowseResponse, 530, UA_FIELD(BrowseResponse, responseHeader, "ResponseHeader"),
          UA_FIELD(BrowseResponse, results, "Results"), UA_FIELD(BrowseResponse, diagnosticInfos, "DiagnosticInfos"))
UA_STRUCT(BrowseNextRequest, 533, UA_FIELD(BrowseNextRequest, requestHeader, "RequestHeader"),
          UA_FIELD(BrowseNextRequest, releaseContinuationPoints, "ReleaseContinuationPoints"),
          UA_FIELD(BrowseNextRequest, continuationPoints, "ContinuationPoints"))
UA_STRUCT(BrowseNextResponse, 536, UA_FIELD(BrowseNextResponse, responseHeader, "ResponseHeader"),
          UA_FIELD(BrowseNextResponse, results, "Results"),
          UA_FIELD(BrowseNextResponse, diagnosticInfos, "DiagnosticInfos"))
UA_STRUCT(RelativePathElement, 539, UA_FIELD(RelativePathElement, referenceTypeId, "ReferenceTypeId"),
          UA_FIELD(RelativePathElement, isInverse, "IsInverse"),
          UA_FIELD(RelativePathElement, includeSubtypes, "IncludeSubtypes"),
          UA_FIELD(RelativePathElement, targetName, "TargetName"))
UA_STRUCT(RelativePath, 542, UA_FIELD(RelativePath, elements, "Elements"))
UA_STRUCT(BrowsePath, 545, UA_FIELD(BrowsePath, startingNode, "StartingNode"),
          UA_FIELD(BrowsePath, relativePath, "RelativePath"))
UA_STRUCT(BrowsePathTarget, 548, UA_FIELD(BrowsePathTarget, targetId, "TargetId"),
          UA_FIELD(BrowsePathTarget, remainingPathIndex, "RemainingPathIndex"))
UA_STRUCT(BrowsePathResult, 551, UA_FIELD(BrowsePathResult, statusCode, "StatusCode"),
          UA_FIELD(BrowsePathResult, targets, "Targets"))
UA_STRUCT(TranslateBrowsePathsToNodeIdsRequest, 554,
          UA_FIELD(TranslateBrowsePathsToNodeIdsRequest, requestHeader, "RequestHeader"),
          UA_FIELD(TranslateBrowsePathsToNodeIdsRequest, browsePaths, "BrowsePaths"))
UA_STRUCT(TranslateBrowsePathsToNodeIdsResponse, 557,
          UA_FIELD(TranslateBrowsePathsToNodeIdsResponse, responseHeader, "ResponseHeader"),
          UA_FIELD(TranslateBrowsePathsToNodeIdsResponse, results, "Results"),
          UA_FIELD(TranslateBrowsePathsToNodeIdsResponse, diagnosticInfos, "DiagnosticInfos"))
UA_STRUCT(RegisterNodesRequest, 560, UA_FIELD(RegisterNodesRequest, requestHeader, "RequestHeader"),
          UA_FIELD(RegisterNodesRequest, nodesToRegister, "NodesToRegister"))
UA_STRUCT(RegisterNodesResponse, 563, UA_FIELD(RegisterNodesResponse, responseHeader, "ResponseHeader"),
          UA_FIELD(RegisterNodesResponse, registeredNodeIds, "RegisteredNodeIds"))
UA_STRUCT(UnregisterNodesRequest, 566, UA_FIELD(UnregisterNodesRequest, requestHeader, "RequestHeader"),
          UA_FIELD(UnregisterNodesRequest, nodesToUnregister, "NodesToUnregister"))
UA_STRUCT(UnregisterNodesResponse, 569, UA_FIELD(UnregisterNodesResponse, responseHeader, "ResponseHeader"))
UA_STRUCT(ReadValueId, 628, UA_FIELD(ReadValueId, nodeId, "NodeId"), UA_FIELD(ReadValueId, attributeId, "AttributeId"),
          UA_FIELD(ReadValueId, indexRange, "IndexRange"), UA_FIELD(ReadValueId, dataEncoding, "DataEncoding"))
UA_STRUCT(ReadRequest, 631, UA_FIELD(ReadRequest, requestHeader, "RequestHeader"),
          UA_FIELD(ReadRequest, maxAge, "MaxAge"), UA_FIELD(ReadRequest, timestampsToReturn, "TimestampsToReturn"),
          UA_FIELD(ReadRequest, nodesToRead, "NodesToRead"))
UA_STRUCT(ReadResponse, 634, UA_FIELD(ReadResponse, responseHeader, "ResponseHeader"),
          UA_FIELD(ReadResponse, results, "Results"), UA_FIELD(ReadResponse, diagnosticInfos, "DiagnosticInfos"))
UA_STRUCT(WriteValue, 670, UA_FIELD(WriteValue, nodeId, "NodeId"), UA_FIELD(WriteValue, attributeId, "AttributeId"),
          UA_FIELD(WriteValue, indexRange, "IndexRange"), UA_FIELD(WriteValue, value, "Value"))
UA_STRUCT(WriteRequest, 673, UA_FIELD(WriteRequest, requestHeader, "RequestHeader"),
          UA_FIELD(WriteRequest, nodesToWrite, "NodesToWrite"))
UA_STRUCT(WriteResponse, 676, UA_FIELD(WriteResponse, responseHeader, "ResponseHeader"),
          UA_FIELD(WriteResponse, results, "Results"), UA_FIELD(WriteResponse, diagnosticInfos, "DiagnosticInfos"))
UA_STRUCT(ServiceFault, 397, UA_FIELD(ServiceFault, responseHeader, "ResponseHeader"))
UA_STRUCT(BuildInfo, 340, UA_FIELD(BuildInfo, productUri, "ProductUri"),
          UA_FIELD(BuildInfo, manufacturerName, "ManufacturerName"), UA_FIELD(BuildInfo, productName, "ProductName"),
          UA_FIELD(BuildInfo, softwareVersion, "SoftwareVersion"), UA_FIELD(BuildInfo, buildNumber, "BuildNumber"),
          UA_FIELD(BuildInfo, buildDate, "BuildDate"))
UA_STRUCT(ServerStatusDataType, 864, UA_FIELD(ServerStatusDataType, startTime, "StartTime"),
          UA_FIELD(ServerStatusDataType, currentTime, "CurrentTime"), UA_FIELD(ServerStatusDataType, state, "State"),
          UA_FIELD(ServerStatusDataType, buildInfo, "BuildInfo"),
          UA_FIELD(ServerStatusDataType, secondsTillShutdown, "SecondsTillShutdown"),
          UA_FIELD(ServerStatusDataType, shutdownReason, "ShutdownReason"))

UA_STRUCT(DataChangeFilter, 724, UA_FIELD(DataChangeFilter, trigger, "Trigger"),
          UA_FIELD(DataChangeFilter, deadbandType, "DeadbandType"),
          UA_FIELD(DataChangeFilter, deadbandValue, "DeadbandValue"))
UA_STRUCT(MonitoringParameters, 742, UA_FIELD(MonitoringParameters, clientHandle, "ClientHandle"),
          UA_FIELD(MonitoringParameters, samplingInterval, "SamplingInterval"),
          UA_FIELD(MonitoringParameters, filter, "Filter"), UA_FIELD(MonitoringParameters, queueSize, "QueueSize"),
          UA_FIELD(MonitoringParameters, discardOldest, "DiscardOldest"))
UA_STRUCT(MonitoredItemCreateRequest, 745, UA_FIELD(MonitoredItemCreateRequest, itemToMonitor, "ItemToMonitor"),
          UA_FIELD(MonitoredItemCreateRequest, monitoringMode, "MonitoringMode"),
          UA_FIELD(MonitoredItemCreateRequest, requestedParameters, "RequestedParameters"))
UA_STRUCT(MonitoredItemCreateResult, 748, UA_FIELD(MonitoredItemCreateResult, statusCode, "StatusCode"),
          UA_FIELD(MonitoredItemCreateResult, monitoredItemId, "MonitoredItemId"),
          UA_FIELD(MonitoredItemCreateResult, revisedSamplingInterval, "RevisedSamplingInterval"),
          UA_FIELD(MonitoredItemCreateResult, revisedQueueSize, "RevisedQueueSize"),
          UA_FIELD(MonitoredItemCreateResult, filterResult, "FilterResult"))
UA_STRUCT(CreateMonitoredItemsRequest, 751, UA_FIELD(CreateMonitoredItemsRequest, requestHeader, "RequestHeader"),
          UA_FIELD(CreateMonitoredItemsRequest, subscriptionId, "SubscriptionId"),
          UA_FIELD(CreateMonitoredItemsRequest, timestampsToReturn, "TimestampsToReturn"),
          UA_FIELD(CreateMonitoredItemsRequest, itemsToCreate, "ItemsToCreate"))
UA_STRUCT(CreateMonitoredItemsResponse, 754, UA_FIELD(CreateMonitoredItemsResponse, responseHeader, "ResponseHeader"),
          UA_FIELD(CreateMonitoredItemsResponse, results, "Results"),
          UA_FIELD(CreateMonitoredItemsResponse, diagnosticInfos, "DiagnosticInfos"))
UA_STRUCT(MonitoredItemModifyRequest, 757, UA_FIELD(MonitoredItemModifyRequest, monitoredItemId, "MonitoredItemId"),
          UA_FIELD(MonitoredItemModifyRequest, requestedParameters, "RequestedParameters"))
UA_STRUCT(MonitoredItemModifyResult, 760, UA_FIELD(MonitoredItemModifyResult, statusCode, "StatusCode"),
          UA_FIELD(MonitoredItemModifyResult, revisedSamplingInterval, "RevisedSamplingInterval"),
          UA_FIELD(MonitoredItemModifyResult, revisedQueueSize, "RevisedQueueSize"),
          UA_FIELD(MonitoredItemModifyResult, filterResult, "FilterResult"))
UA_STRUCT(ModifyMonitoredItemsRequest, 763, UA_FIELD(ModifyMonitoredItemsRequest, requestHeader, "RequestHeader"),
          UA_FIELD(ModifyMonitoredItemsRequest, subscriptionId, "SubscriptionId"),
          UA_FIELD(ModifyMonitoredItemsRequest, timestampsToReturn, "TimestampsToReturn"),
          UA_FIELD(ModifyMonitoredItemsRequest, itemsToModify, "ItemsToModify"))
UA_STRUCT(ModifyMonitoredItemsResponse, 766, UA_FIELD(ModifyMonitoredItemsResponse, responseHeader, "ResponseHeader"),
          UA_FIELD(ModifyMonitoredItemsResponse, results, "Results"),
          UA_FIELD(ModifyMonitoredItemsResponse, diagnosticInfos, "DiagnosticInfos"))
UA_STRUCT(SetMonitoringModeRequest, 769, UA_FIELD(SetMonitoringModeRequest, requestHeader, "RequestHeader"),
          UA_FIELD(SetMonitoringModeRequest, subscriptionId, "SubscriptionId"),
          UA_FIELD(SetMonitoringModeRequest, monitoringMode, "MonitoringMode"),
          UA_FIELD(SetMonitoringModeRequest, monitoredItemIds, "MonitoredItemIds"))
UA_STRUCT(SetMonitoringModeResponse, 772, UA_FIELD(SetMonitoringModeResponse, responseHeader, "ResponseHeader"),
          UA_FIELD(SetMonitoringModeResponse, results, "Results"),
          UA_FIELD(SetMonitoringModeResponse, diagnosticInfos, "DiagnosticInfos"))
UA_STRUCT(DeleteMonitoredItemsRequest, 781, UA_FIELD(DeleteMonitoredItemsRequest, requestHeader, "RequestHeader"),
          UA_FIELD(DeleteMonitoredItemsRequest, subscriptionId, "SubscriptionId"),
          UA_FIELD(DeleteMonitoredItemsRequest, monitoredItemIds, "MonitoredItemIds"))
UA_STRUCT(DeleteMonitoredItemsResponse, 784, UA_FIELD(DeleteMonitoredItemsResponse, responseHeader, "ResponseHeader"),
          UA_FIELD(DeleteMonitoredItemsResponse, results, "Results"),
          UA_FIELD(DeleteMonitoredItemsResponse, diagnosticInfos, "DiagnosticInfos"))
UA_STRUCT(CreateSubscriptionRequest, 787, UA_FIELD(CreateSubscriptionRequest, requestHeader, "RequestHeader"),
          UA_FIELD(CreateSubscriptionRequest, requestedPublishingInterval, "RequestedPublishingInterval"),
          UA_FIELD(CreateSubscriptionRequest, requestedLifetimeCount, "RequestedLifetimeCount"),
          UA_FIELD(CreateSubscriptionRequest, requestedMaxKeepAliveCount, "RequestedMaxKeepAliveCount"),
          UA_FIELD(CreateSubscriptionRequest, maxNotificationsPerPublish, "MaxNotificationsPerPublish"),
          UA_FIELD(CreateSubscriptionRequest, publishingEnabled, "PublishingEnabled"),
          UA_FIELD(CreateSubscriptionRequest, priority, "Priority"))
UA_STRUCT(CreateSubscriptionResponse, 790, UA_FIELD(CreateSubscriptionResponse, responseHeader, "ResponseHeader"),
          UA_FIELD(CreateSubscriptionResponse, subscriptionId, "SubscriptionId"),
          UA_FIELD(CreateSubscriptionResponse, revisedPublishingInterval, "RevisedPublishingInterval"),
          UA_FIELD(CreateSubscriptionResponse, revisedLifetimeCount, "RevisedLifetimeCount"),
          UA_FIELD(CreateSubscriptionResponse, revisedMaxKeepAliveCount, "RevisedMaxKeepAliveCount"))
UA_STRUCT(ModifySubscriptionRequest, 793, UA_FIELD(ModifySubscriptionRequest, requestHeader, "RequestHeader"),
          UA_FIELD(ModifySubscriptionRequest, subscriptionId, "SubscriptionId"),
          UA_FIELD(ModifySubscriptionRequest, requestedPublishingInterval, "RequestedPublishingInterval"),
          UA_FIELD(ModifySubscriptionRequest, requestedLifetimeCount, "RequestedLifetimeCount"),
          UA_FIELD(ModifySubscriptionRequest, requestedMaxKeepAliveCount, "RequestedMaxKeepAliveCount"),
          UA_FIELD(ModifySubscriptionRequest, maxNotificationsPerPublish, "MaxNotificationsPerPublish"),
          UA_FIELD(ModifySubscriptionRequest, priority, "Priority"))
UA_STRUCT(ModifySubscriptionResponse, 796, UA_FIELD(ModifySubscriptionResponse, responseHeader, "ResponseHeader"),
          UA_FIELD(ModifySubscriptionResponse, revisedPublishingInterval, "RevisedPublishingInterval"),
          UA_FIELD(ModifySubscriptionResponse, revisedLifetimeCount, "RevisedLifetimeCount"),
          UA_FIELD(ModifySubscriptionResponse, revisedMaxKeepAliveCount, "RevisedMaxKeepAliveCount"))
UA_STRUCT(SetPublishingModeRequest, 799, UA_FIELD(SetPublishingModeRequest, requestHeader, "RequestHeader"),
          UA_FIELD(SetPublishingModeRequest, publishingEnabled, "PublishingEnabled"),
          UA_FIELD(SetPublishingModeRequest, subscriptionIds, "SubscriptionIds"))
UA_STRUCT(SetPublishingModeResponse, 802, UA_FIELD(SetPublishingModeResponse, responseHeader, "ResponseHeader"),
          UA_FIELD(SetPublishingModeResponse, results, "Results"),
          UA_FIELD(SetPublishingModeResponse, diagnosticInfos, "DiagnosticInfos"))
UA_STRUCT(NotificationMessage, 805, UA_FIELD(NotificationMessage, sequenceNumber, "SequenceNumber"),
          UA_FIELD(NotificationMessage, publishTime, "PublishTime"),
          UA_FIELD(NotificationMessage, notificationData, "NotificationData"))
UA_STRUCT(MonitoredItemNotification, 808, UA_FIELD(MonitoredItemNotification, clientHandle, "ClientHandle"),
          UA_FIELD(MonitoredItemNotification, value, "Value"))
UA_STRUCT(DataChangeNotification, 811, UA_FIELD(DataChangeNotification, monitoredItems, "MonitoredItems"),
          UA_FIELD(DataChangeNotification, diagnosticInfos, "DiagnosticInfos"))
UA_STRUCT(StatusChangeNotification, 820, UA_FIELD(StatusChangeNotification, status, "Status"),
          UA_FIELD(StatusChangeNotification, diagnosticInfo, "DiagnosticInfo"))
UA_STRUCT(SubscriptionAcknowledgement, 823, UA_FIELD(SubscriptionAcknowledgement, subscriptionId, "SubscriptionId"),
          UA_FIELD(SubscriptionAcknowledgement, sequenceNumber, "SequenceNumber"))
UA_STRUCT(PublishRequest, 826, UA_FIELD(PublishRequest, requestHeader, "RequestHeader"),
          UA_FIELD(PublishRequest, subscriptionAcknowledgements, "SubscriptionAcknowledgements"))
UA_STRUCT(PublishResponse, 829, UA_FIELD(PublishResponse, responseHeader, "ResponseHeader"),
          UA_FIELD(PublishResponse, subscriptionId, "SubscriptionId"),
          UA_FIELD(PublishResponse, availableSequenceNumbers, "AvailableSequenceNumbers"),
          UA_FIELD(PublishResponse, moreNotifications, "MoreNotifications"),
          UA_FIELD(PublishResponse, notificationMessage, "NotificationMessage"),
          UA_FIELD(PublishResponse, results, "Results"), UA_FIELD(PublishResponse, diagnosticInfos, "DiagnosticInfos"))
UA_STRUCT(RepublishRequest, 832, UA_FIELD(RepublishRequest, requestHeader, "RequestHeader"),
          UA_FIELD(RepublishRequest, subscriptionId, "SubscriptionId"),
          UA_FIELD(RepublishRequest, retransmitSequenceNumber, "RetransmitSequenceNumber"))
UA_STRUCT(RepublishResponse, 835, UA_FIELD(RepublishResponse, responseHeader, "ResponseHeader"),
          UA_FIELD(RepublishResponse, notificationMessage, "NotificationMessage"))
UA_STRUCT(DeleteSubscriptionsRequest, 847, UA_FIELD(DeleteSubscriptionsRequest, requestHeader, "RequestHeader"),
          UA_FIELD(DeleteSubscriptionsRequest, subscriptionIds, "SubscriptionIds"))
UA_STRUCT(DeleteSubscriptionsResponse, 850, UA_FIELD(DeleteSubscriptionsResponse, responseHeader, "ResponseHeader"),
          UA_FIELD(DeleteSubscriptionsResponse, results, "Results"),
          UA_FIELD(DeleteSubscriptionsResponse, diagnosticInfos, "DiagnosticInfos"))

QByteArray encodeServiceFault(std::uint32_t requestHandle, StatusCode status)
{
    ServiceFault fault;
    fault.responseHeader.timestamp = nowDateTime();
    fault.responseHeader.requestHandle = requestHandle;
    fault.responseHeader.serviceResult = status;
    QByteArray body;
    Encoder e(body);
    encodeMessage(e, fault);
    return body;
}

} // namespace Ua
