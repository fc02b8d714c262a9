#pragma once
#include <cstdint>

// Numeric identifiers of namespace 0 (OPC 10000-6 NodeIds) used by this server.
namespace Ua::Id {

// Data types.
constexpr std::uint32_t Boolean = 1, SByte = 2, Byte = 3, Int16 = 4, UInt16 = 5, Int32 = 6, UInt32 = 7, Int64 = 8,
                        UInt64 = 9, Float = 10, Double = 11, String = 12, DateTime = 13, Guid = 14, ByteString = 15,
                        XmlElement = 16, NodeId = 17, ExpandedNodeId = 18, StatusCode = 19, QualifiedName = 20,
                        LocalizedText = 21, Structure = 22, DataValue = 23, BaseDataType = 24, DiagnosticInfo = 25,
                        Number = 26, Integer = 27, UInteger = 28, Enumeration = 29, Duration = 290, UtcTime = 294,
                        LocaleId = 295, BuildInfo = 338, ServerState = 852, ServerStatusDataType = 862;

// Reference types.
constexpr std::uint32_t References = 31, NonHierarchicalReferences = 32, HierarchicalReferences = 33, HasChild = 34,
                        Organizes = 35, HasEventSource = 36, HasModellingRule = 37, HasEncoding = 38,
                        HasDescription = 39, HasTypeDefinition = 40, GeneratesEvent = 41, Aggregates = 44,
                        HasSubtype = 45, HasProperty = 46, HasComponent = 47, HasNotifier = 48,
                        HasOrderedComponent = 49;

// Object and variable types.
constexpr std::uint32_t BaseObjectType = 58, FolderType = 61, BaseVariableType = 62, BaseDataVariableType = 63,
                        PropertyType = 68, ModellingRuleType = 77, ServerType = 2004, ServerCapabilitiesType = 2013,
                        ServerStatusType = 2138, BuildInfoType = 3051, OperationLimitsType = 11564;

// Folders and the Server object.
constexpr std::uint32_t RootFolder = 84, ObjectsFolder = 85, TypesFolder = 86, ViewsFolder = 87, ObjectTypesFolder = 88,
                        VariableTypesFolder = 89, DataTypesFolder = 90, ReferenceTypesFolder = 91, Server = 2253,
                        ServerArray = 2254, NamespaceArray = 2255, ServerStatus = 2256, StartTime = 2257,
                        CurrentTime = 2258, State = 2259, BuildInfoVar = 2260, ProductName = 2261, ProductUri = 2262,
                        ManufacturerName = 2263, SoftwareVersion = 2264, BuildNumber = 2265, BuildDate = 2266,
                        ServiceLevel = 2267, ServerCapabilities = 2268, ServerProfileArray = 2269, LocaleIdArray = 2271,
                        MinSupportedSampleRate = 2272, MaxBrowseContinuationPoints = 2735,
                        MaxQueryContinuationPoints = 2736, MaxHistoryContinuationPoints = 2737,
                        SecondsTillShutdown = 2992, ShutdownReason = 2993, Auditing = 2994, MaxArrayLength = 11702,
                        MaxStringLength = 11703, OperationLimits = 11704, MaxNodesPerRead = 11705,
                        MaxNodesPerWrite = 11707, MaxNodesPerBrowse = 11710, MaxNodesPerRegisterNodes = 11711,
                        MaxNodesPerTranslateBrowsePathsToNodeIds = 11712, MaxByteStringLength = 12911;

// Default Binary encodings of the messages and structures, named after them.
constexpr std::uint32_t RequestHeader_Binary = 391, ResponseHeader_Binary = 394, ServiceFault_Binary = 397,
                        ChannelSecurityToken_Binary = 443, OpenSecureChannelRequest_Binary = 446,
                        OpenSecureChannelResponse_Binary = 449, CloseSecureChannelRequest_Binary = 452,
                        UserTokenPolicy_Binary = 306, ApplicationDescription_Binary = 310,
                        EndpointDescription_Binary = 314, GetEndpointsRequest_Binary = 428,
                        GetEndpointsResponse_Binary = 431, FindServersRequest_Binary = 422,
                        FindServersResponse_Binary = 425, SignatureData_Binary = 458,
                        SignedSoftwareCertificate_Binary = 346, CreateSessionRequest_Binary = 461,
                        CreateSessionResponse_Binary = 464, ActivateSessionRequest_Binary = 467,
                        ActivateSessionResponse_Binary = 470, CloseSessionRequest_Binary = 473,
                        CloseSessionResponse_Binary = 476, CancelRequest_Binary = 479, CancelResponse_Binary = 482,
                        AnonymousIdentityToken_Binary = 321, UserNameIdentityToken_Binary = 324,
                        ViewDescription_Binary = 513, BrowseDescription_Binary = 516, ReferenceDescription_Binary = 520,
                        BrowseResult_Binary = 524, BrowseRequest_Binary = 527, BrowseResponse_Binary = 530,
                        BrowseNextRequest_Binary = 533, BrowseNextResponse_Binary = 536,
                        RelativePathElement_Binary = 539, RelativePath_Binary = 542, BrowsePath_Binary = 545,
                        BrowsePathTarget_Binary = 548, BrowsePathResult_Binary = 551,
                        TranslateBrowsePathsToNodeIdsRequest_Binary = 554,
                        TranslateBrowsePathsToNodeIdsResponse_Binary = 557, RegisterNodesRequest_Binary = 560,
                        RegisterNodesResponse_Binary = 563, UnregisterNodesRequest_Binary = 566,
                        UnregisterNodesResponse_Binary = 569, ReadValueId_Binary = 628, ReadRequest_Binary = 631,
                        ReadResponse_Binary = 634, WriteValue_Binary = 670, WriteRequest_Binary = 673,
                        WriteResponse_Binary = 676, BuildInfo_Binary = 340, ServerStatusDataType_Binary = 864,
                        DataChangeFilter_Binary = 724, EventFilter_Binary = 727, MonitoringParameters_Binary = 742,
                        MonitoredItemCreateRequest_Binary = 745, MonitoredItemCreateResult_Binary = 748,
                        CreateMonitoredItemsRequest_Binary = 751, CreateMonitoredItemsResponse_Binary = 754,
                        MonitoredItemModifyRequest_Binary = 757, MonitoredItemModifyResult_Binary = 760,
                        ModifyMonitoredItemsRequest_Binary = 763, ModifyMonitoredItemsResponse_Binary = 766,
                        SetMonitoringModeRequest_Binary = 769, SetMonitoringModeResponse_Binary = 772,
                        SetTriggeringRequest_Binary = 775, DeleteMonitoredItemsRequest_Binary = 781,
                        DeleteMonitoredItemsResponse_Binary = 784, CreateSubscriptionRequest_Binary = 787,
                        CreateSubscriptionResponse_Binary = 790, ModifySubscriptionRequest_Binary = 793,
                        ModifySubscriptionResponse_Binary = 796, SetPublishingModeRequest_Binary = 799,
                        SetPublishingModeResponse_Binary = 802, NotificationMessage_Binary = 805,
                        MonitoredItemNotification_Binary = 808, DataChangeNotification_Binary = 811,
                        StatusChangeNotification_Binary = 820, SubscriptionAcknowledgement_Binary = 823,
                        PublishRequest_Binary = 826, PublishResponse_Binary = 829, RepublishRequest_Binary = 832,
                        RepublishResponse_Binary = 835, TransferSubscriptionsRequest_Binary = 841,
                        DeleteSubscriptionsRequest_Binary = 847, DeleteSubscriptionsResponse_Binary = 850;

} // namespace Ua::Id

namespace Ua {

// Attribute ids (OPC 10000-6 AttributeIds).
namespace Attr {
constexpr std::uint32_t NodeId = 1, NodeClass = 2, BrowseName = 3, DisplayName = 4, Description = 5, WriteMask = 6,
                        UserWriteMask = 7, IsAbstract = 8, Symmetric = 9, InverseName = 10, ContainsNoLoops = 11,
                        EventNotifier = 12, Value = 13, DataType = 14, ValueRank = 15, ArrayDimensions = 16,
                        AccessLevel = 17, UserAccessLevel = 18, MinimumSamplingInterval = 19, Historizing = 20,
                        Executable = 21, UserExecutable = 22, DataTypeDefinition = 23, RolePermissions = 24,
                        UserRolePermissions = 25, AccessRestrictions = 26, AccessLevelEx = 27;
}

enum class NodeClass : std::uint32_t {
    Unspecified = 0,
    Object = 1,
    Variable = 2,
    Method = 4,
    ObjectType = 8,
    VariableType = 16,
    ReferenceType = 32,
    DataType = 64,
    View = 128
};

} // namespace Ua
