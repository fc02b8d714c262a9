#include "ua/UaAddressSpace.h"
#include "opc/OPCServer.h"

namespace Ua {

AddressSpace::AddressSpace(OPCServer &server, QString namespaceUri)
    : server_(server), namespaceUri_(std::move(namespaceUri))
{
}

NodeRef AddressSpace::addNode(Node node)
{
    const NodeRef r = NodeRef(nodes_.size());
    if (node.nodeId.ns == 0 && node.nodeId.kind == NodeId::Kind::Numeric)
        ns0_.insert(node.nodeId.numeric, r);
    nodes_.push_back(std::move(node));
    return r;
}

void AddressSpace::addReference(NodeRef source, std::uint32_t type, NodeRef target)
{
    if (source < 0 || source == NoNode || target == NoNode)
        return;
    nodes_[std::size_t(source)].references.push_back({type, true, target});
    // Types keep no back references to their instances: those lists would only
    // grow with the item count and no client needs them.
    if (target >= 0 && type != Id::HasTypeDefinition)
        nodes_[std::size_t(target)].references.push_back({type, false, source});
    if (type == Id::HasSubtype && target >= 0 && source >= 0 && nodes_[std::size_t(target)].nodeId.ns == 0)
        superType_.insert(nodes_[std::size_t(target)].nodeId.numeric, nodes_[std::size_t(source)].nodeId.numeric);
}

namespace {
struct ReferenceTypeInfo {
    std::uint32_t id;
    const char *name;
    std::uint32_t super;
    bool isAbstract;
    bool symmetric;
    const char *inverse;
};

const ReferenceTypeInfo ReferenceTypes[] = {
    {Id::References, "References", 0, true, true, nullptr},
    {Id::HierarchicalReferences, "HierarchicalReferences", Id::References, true, false,
     "InverseHierarchicalReferences"},
    {Id::NonHierarchicalReferences, "NonHierarchicalReferences", Id::References, true, true, nullptr},
    {Id::HasChild, "HasChild", Id::HierarchicalReferences, true, false, "ChildOf"},
    {Id::Organizes, "Organizes", Id::HierarchicalReferences, false, false, "OrganizedBy"},
    {Id::HasEventSource, "HasEventSource", Id::HierarchicalReferences, false, false, "EventSourceOf"},
    {Id::HasNotifier, "HasNotifier", Id::HasEventSource, false, false, "NotifierOf"},
    {Id::Aggregates, "Aggregates", Id::HasChild, true, false, "AggregatedBy"},
    {Id::HasSubtype, "HasSubtype", Id::HasChild, false, false, "SubtypeOf"},
    {Id::HasComponent, "HasComponent", Id::Aggregates, false, false, "ComponentOf"},
    {Id::HasOrderedComponent, "HasOrderedComponent", Id::HasComponent, false, false, "OrderedComponentOf"},
    {Id::HasProperty, "HasProperty", Id::Aggregates, false, false, "PropertyOf"},
    {Id::HasModellingRule, "HasModellingRule", Id::NonHierarchicalReferences, false, false, "ModellingRuleOf"},
    {Id::HasEncoding, "HasEncoding", Id::NonHierarchicalReferences, false, false, "EncodingOf"},
    {Id::HasDescription, "HasDescription", Id::NonHierarchicalReferences, false, false, "DescriptionOf"},
    {Id::HasTypeDefinition, "HasTypeDefinition", Id::NonHierarchicalReferences, false, false, "TypeDefinitionOf"},
    {Id::GeneratesEvent, "GeneratesEvent", Id::NonHierarchicalReferences, false, false, "GeneratedBy"},
    {Id::AlwaysGeneratesEvent, "AlwaysGeneratesEvent", Id::GeneratesEvent, false, false, "AlwaysGeneratedBy"},
    {Id::HasCause, "HasCause", Id::NonHierarchicalReferences, false, false, "MayBeCausedBy"},
    {Id::HasEffect, "HasEffect", Id::NonHierarchicalReferences, false, false, "MayBeEffectedBy"},
    {Id::HasInterface, "HasInterface", Id::NonHierarchicalReferences, false, false, "InterfaceOf"},
};

struct TypeInfo {
    std::uint32_t id;
    const char *name;
    std::uint32_t super;
    bool isAbstract;
};

const TypeInfo DataTypes[] = {
    {Id::BaseDataType, "BaseDataType", 0, true},
    {Id::Boolean, "Boolean", Id::BaseDataType, false},
    {Id::Number, "Number", Id::BaseDataType, true},
    {Id::Integer, "Integer", Id::Number, true},
    {Id::UInteger, "UInteger", Id::Number, true},
    {Id::SByte, "SByte", Id::Integer, false},
    {Id::Int16, "Int16", Id::Integer, false},
    {Id::Int32, "Int32", Id::Integer, false},
    {Id::Int64, "Int64", Id::Integer, false},
    {Id::Byte, "Byte", Id::UInteger, false},
    {Id::UInt16, "UInt16", Id::UInteger, false},
    {Id::UInt32, "UInt32", Id::UInteger, false},
    {Id::UInt64, "UInt64", Id::UInteger, false},
    {Id::Float, "Float", Id::Number, false},
    {Id::Double, "Double", Id::Number, false},
    {Id::Duration, "Duration", Id::Double, false},
    {Id::String, "String", Id::BaseDataType, false},
    {Id::LocaleId, "LocaleId", Id::String, false},
    {Id::DateTime, "DateTime", Id::BaseDataType, false},
    {Id::UtcTime, "UtcTime", Id::DateTime, false},
    {Id::Guid, "Guid", Id::BaseDataType, false},
    {Id::ByteString, "ByteString", Id::BaseDataType, false},
    {Id::XmlElement, "XmlElement", Id::BaseDataType, false},
    {Id::NodeId, "NodeId", Id::BaseDataType, false},
    {Id::ExpandedNodeId, "ExpandedNodeId", Id::BaseDataType, false},
    {Id::StatusCode, "StatusCode", Id::BaseDataType, false},
    {Id::QualifiedName, "QualifiedName", Id::BaseDataType, false},
    {Id::LocalizedText, "LocalizedText", Id::BaseDataType, false},
    {Id::Structure, "Structure", Id::BaseDataType, true},
    {Id::DataValue, "DataValue", Id::BaseDataType, false},
    {Id::DiagnosticInfo, "DiagnosticInfo", Id::BaseDataType, false},
    {Id::Enumeration, "Enumeration", Id::BaseDataType, true},
    {Id::ServerState, "ServerState", Id::Enumeration, false},
    {Id::BuildInfo, "BuildInfo", Id::Structure, false},
    {Id::ServerStatusDataType, "ServerStatusDataType", Id::Structure, false},
    {Id::Argument, "Argument", Id::Structure, false},
    {Id::ServerDiagnosticsSummaryDataType, "ServerDiagnosticsSummaryDataType", Id::Structure, false},
};

const TypeInfo ObjectTypes[] = {
    {Id::BaseObjectType, "BaseObjectType", 0, false},
    {Id::FolderType, "FolderType", Id::BaseObjectType, false},
    {Id::ServerType, "ServerType", Id::BaseObjectType, false},
    {Id::ServerCapabilitiesType, "ServerCapabilitiesType", Id::BaseObjectType, false},
    {Id::OperationLimitsType, "OperationLimitsType", Id::FolderType, false},
    {Id::ModellingRuleType, "ModellingRuleType", Id::BaseObjectType, false},
    {Id::ServerDiagnosticsType, "ServerDiagnosticsType", Id::BaseObjectType, false},
};

struct VariableTypeInfo {
    std::uint32_t id;
    const char *name;
    std::uint32_t super;
    bool isAbstract;
    std::uint32_t dataType;
    std::int32_t valueRank;
};

const VariableTypeInfo VariableTypes[] = {
    {Id::BaseVariableType, "BaseVariableType", 0, true, Id::BaseDataType, -2},
    {Id::BaseDataVariableType, "BaseDataVariableType", Id::BaseVariableType, false, Id::BaseDataType, -2},
    {Id::PropertyType, "PropertyType", Id::BaseVariableType, false, Id::BaseDataType, -2},
    {Id::ServerStatusType, "ServerStatusType", Id::BaseDataVariableType, false, Id::ServerStatusDataType, -1},
    {Id::BuildInfoType, "BuildInfoType", Id::BaseDataVariableType, false, Id::BuildInfo, -1},
    {Id::ServerDiagnosticsSummaryType, "ServerDiagnosticsSummaryType", Id::BaseDataVariableType, false,
     Id::ServerDiagnosticsSummaryDataType, -1},
};

enum class Kind { Component, Property };

struct VariableInfo {
    std::uint32_t id;
    const char *name;
    std::uint32_t parent;
    Kind kind;
    std::uint32_t dataType;
    std::int32_t valueRank;
    std::uint32_t typeDefinition; // 0: by kind
};

const VariableInfo Variables[] = {
    {Id::ServerArray, "ServerArray", Id::Server, Kind::Property, Id::String, 1, 0},
    {Id::NamespaceArray, "NamespaceArray", Id::Server, Kind::Property, Id::String, 1, 0},
    {Id::ServerStatus, "ServerStatus", Id::Server, Kind::Component, Id::ServerStatusDataType, -1, Id::ServerStatusType},
    {Id::ServiceLevel, "ServiceLevel", Id::Server, Kind::Property, Id::Byte, -1, 0},
    {Id::Auditing, "Auditing", Id::Server, Kind::Property, Id::Boolean, -1, 0},
    {Id::StartTime, "StartTime", Id::ServerStatus, Kind::Component, Id::UtcTime, -1, 0},
    {Id::CurrentTime, "CurrentTime", Id::ServerStatus, Kind::Component, Id::UtcTime, -1, 0},
    {Id::State, "State", Id::ServerStatus, Kind::Component, Id::ServerState, -1, 0},
    {Id::BuildInfoVar, "BuildInfo", Id::ServerStatus, Kind::Component, Id::BuildInfo, -1, Id::BuildInfoType},
    {Id::SecondsTillShutdown, "SecondsTillShutdown", Id::ServerStatus, Kind::Component, Id::UInt32, -1, 0},
    {Id::ShutdownReason, "ShutdownReason", Id::ServerStatus, Kind::Component, Id::LocalizedText, -1, 0},
    {Id::ProductUri, "ProductUri", Id::BuildInfoVar, Kind::Component, Id::String, -1, 0},
    {Id::ManufacturerName, "ManufacturerName", Id::BuildInfoVar, Kind::Component, Id::String, -1, 0},
    {Id::ProductName, "ProductName", Id::BuildInfoVar, Kind::Component, Id::String, -1, 0},
    {Id::SoftwareVersion, "SoftwareVersion", Id::BuildInfoVar, Kind::Component, Id::String, -1, 0},
    {Id::BuildNumber, "BuildNumber", Id::BuildInfoVar, Kind::Component, Id::String, -1, 0},
    {Id::BuildDate, "BuildDate", Id::BuildInfoVar, Kind::Component, Id::UtcTime, -1, 0},
    {Id::ServerProfileArray, "ServerProfileArray", Id::ServerCapabilities, Kind::Property, Id::String, 1, 0},
    {Id::LocaleIdArray, "LocaleIdArray", Id::ServerCapabilities, Kind::Property, Id::LocaleId, 1, 0},
    {Id::MinSupportedSampleRate, "MinSupportedSampleRate", Id::ServerCapabilities, Kind::Property, Id::Duration, -1, 0},
    {Id::MaxBrowseContinuationPoints, "MaxBrowseContinuationPoints", Id::ServerCapabilities, Kind::Property, Id::UInt16,
     -1, 0},
    {Id::MaxQueryContinuationPoints, "MaxQueryContinuationPoints", Id::ServerCapabilities, Kind::Property, Id::UInt16,
     -1, 0},
    {Id::MaxHistoryContinuationPoints, "MaxHistoryContinuationPoints", Id::ServerCapabilities, Kind::Property,
     Id::UInt16, -1, 0},
    {Id::MaxArrayLength, "MaxArrayLength", Id::ServerCapabilities, Kind::Property, Id::UInt32, -1, 0},
    {Id::MaxStringLength, "MaxStringLength", Id::ServerCapabilities, Kind::Property, Id::UInt32, -1, 0},
    {Id::MaxByteStringLength, "MaxByteStringLength", Id::ServerCapabilities, Kind::Property, Id::UInt32, -1, 0},
    {Id::MaxNodesPerRead, "MaxNodesPerRead", Id::OperationLimits, Kind::Property, Id::UInt32, -1, 0},
    {Id::MaxNodesPerWrite, "MaxNodesPerWrite", Id::OperationLimits, Kind::Property, Id::UInt32, -1, 0},
    {Id::MaxNodesPerBrowse, "MaxNodesPerBrowse", Id::OperationLimits, Kind::Property, Id::UInt32, -1, 0},
    {Id::MaxNodesPerRegisterNodes, "MaxNodesPerRegisterNodes", Id::OperationLimits, Kind::Property, Id::UInt32, -1, 0},
    {Id::MaxNodesPerTranslateBrowsePathsToNodeIds, "MaxNodesPerTranslateBrowsePathsToNodeIds", Id::OperationLimits,
     Kind::Property, Id::UInt32, -1, 0},
    {Id::MaxNodesPerMethodCall, "MaxNodesPerMethodCall", Id::OperationLimits, Kind::Property, Id::UInt32, -1, 0},
    {Id::MaxMonitoredItemsPerCall, "MaxMonitoredItemsPerCall", Id::OperationLimits, Kind::Property, Id::UInt32, -1, 0},
    {Id::EnabledFlag, "EnabledFlag", Id::ServerDiagnostics, Kind::Property, Id::Boolean, -1, 0},
    {Id::ServerDiagnosticsSummary, "ServerDiagnosticsSummary", Id::ServerDiagnostics, Kind::Component,
     Id::ServerDiagnosticsSummaryDataType, -1, Id::ServerDiagnosticsSummaryType},
    {Id::ServerViewCount, "ServerViewCount", Id::ServerDiagnosticsSummary, Kind::Component, Id::UInt32, -1, 0},
    {Id::CurrentSessionCount, "CurrentSessionCount", Id::ServerDiagnosticsSummary, Kind::Component, Id::UInt32, -1, 0},
    {Id::CumulatedSessionCount, "CumulatedSessionCount", Id::ServerDiagnosticsSummary, Kind::Component, Id::UInt32, -1,
     0},
    {Id::SecurityRejectedSessionCount, "SecurityRejectedSessionCount", Id::ServerDiagnosticsSummary, Kind::Component,
     Id::UInt32, -1, 0},
    {Id::RejectedSessionCount, "RejectedSessionCount", Id::ServerDiagnosticsSummary, Kind::Component, Id::UInt32, -1,
     0},
    {Id::SessionTimeoutCount, "SessionTimeoutCount", Id::ServerDiagnosticsSummary, Kind::Component, Id::UInt32, -1, 0},
    {Id::SessionAbortCount, "SessionAbortCount", Id::ServerDiagnosticsSummary, Kind::Component, Id::UInt32, -1, 0},
    {Id::CurrentSubscriptionCount, "CurrentSubscriptionCount", Id::ServerDiagnosticsSummary, Kind::Component,
     Id::UInt32, -1, 0},
    {Id::CumulatedSubscriptionCount, "CumulatedSubscriptionCount", Id::ServerDiagnosticsSummary, Kind::Component,
     Id::UInt32, -1, 0},
    {Id::PublishingIntervalCount, "PublishingIntervalCount", Id::ServerDiagnosticsSummary, Kind::Component, Id::UInt32,
     -1, 0},
    {Id::SecurityRejectedRequestsCount, "SecurityRejectedRequestsCount", Id::ServerDiagnosticsSummary, Kind::Component,
     Id::UInt32, -1, 0},
    {Id::RejectedRequestsCount, "RejectedRequestsCount", Id::ServerDiagnosticsSummary, Kind::Component, Id::UInt32, -1,
     0},
    {Id::GetMonitoredItemsInputArguments, "InputArguments", Id::GetMonitoredItems, Kind::Property, Id::Argument, 1, 0},
    {Id::GetMonitoredItemsOutputArguments, "OutputArguments", Id::GetMonitoredItems, Kind::Property, Id::Argument, 1,
     0},
    {Id::ResendDataInputArguments, "InputArguments", Id::ResendData, Kind::Property, Id::Argument, 1, 0},
};

Node makeNode(NodeClass cls, std::uint32_t id, const char *name)
{
    Node n;
    n.nodeId = NodeId(0, id);
    n.nodeClass = cls;
    n.browseName = QualifiedName{0, QString::fromLatin1(name)};
    n.displayName = LocalizedText{QString(), QString::fromLatin1(name)};
    return n;
}
} // namespace

void AddressSpace::buildStandard(const QHash<std::uint32_t, ValueSource> &values)
{
    auto ref = [this](std::uint32_t source, std::uint32_t type, std::uint32_t target) {
        addReference(standard(source), type, standard(target));
    };
    auto object = [&](std::uint32_t id, const char *name, std::uint32_t parent, std::uint32_t refType,
                      std::uint32_t typeDef) {
        Node n = makeNode(NodeClass::Object, id, name);
        n.typeDefinition = typeDef;
        addNode(std::move(n));
        if (parent)
            ref(parent, refType, id);
    };

    // Type nodes first, so instances can point at them.
    for (const auto &t : ReferenceTypes) {
        Node n = makeNode(NodeClass::ReferenceType, t.id, t.name);
        n.isAbstract = t.isAbstract;
        n.symmetric = t.symmetric;
        if (t.inverse)
            n.inverseName = LocalizedText{QString(), QString::fromLatin1(t.inverse)};
        addNode(std::move(n));
    }
    for (const auto &t : DataTypes) {
        Node n = makeNode(NodeClass::DataType, t.id, t.name);
        n.isAbstract = t.isAbstract;
        addNode(std::move(n));
    }
    for (const auto &t : ObjectTypes) {
        Node n = makeNode(NodeClass::ObjectType, t.id, t.name);
        n.isAbstract = t.isAbstract;
        addNode(std::move(n));
    }
    for (const auto &t : VariableTypes) {
        Node n = makeNode(NodeClass::VariableType, t.id, t.name);
        n.isAbstract = t.isAbstract;
        n.dataType = t.dataType;
        n.valueRank = t.valueRank;
        addNode(std::move(n));
    }

    object(Id::RootFolder, "Root", 0, 0, Id::FolderType);
    object(Id::ObjectsFolder, "Objects", Id::RootFolder, Id::Organizes, Id::FolderType);
    object(Id::TypesFolder, "Types", Id::RootFolder, Id::Organizes, Id::FolderType);
    object(Id::ViewsFolder, "Views", Id::RootFolder, Id::Organizes, Id::FolderType);
    object(Id::ObjectTypesFolder, "ObjectTypes", Id::TypesFolder, Id::Organizes, Id::FolderType);
    object(Id::VariableTypesFolder, "VariableTypes", Id::TypesFolder, Id::Organizes, Id::FolderType);
    object(Id::DataTypesFolder, "DataTypes", Id::TypesFolder, Id::Organizes, Id::FolderType);
    object(Id::ReferenceTypesFolder, "ReferenceTypes", Id::TypesFolder, Id::Organizes, Id::FolderType);

    ref(Id::ReferenceTypesFolder, Id::Organizes, Id::References);
    for (const auto &t : ReferenceTypes)
        if (t.super)
            ref(t.super, Id::HasSubtype, t.id);
    ref(Id::DataTypesFolder, Id::Organizes, Id::BaseDataType);
    for (const auto &t : DataTypes)
        if (t.super)
            ref(t.super, Id::HasSubtype, t.id);
    ref(Id::ObjectTypesFolder, Id::Organizes, Id::BaseObjectType);
    for (const auto &t : ObjectTypes)
        if (t.super)
            ref(t.super, Id::HasSubtype, t.id);
    ref(Id::VariableTypesFolder, Id::Organizes, Id::BaseVariableType);
    for (const auto &t : VariableTypes)
        if (t.super)
            ref(t.super, Id::HasSubtype, t.id);

    object(Id::Server, "Server", Id::ObjectsFolder, Id::Organizes, Id::ServerType);
    object(Id::ServerCapabilities, "ServerCapabilities", Id::Server, Id::HasComponent, Id::ServerCapabilitiesType);
    object(Id::OperationLimits, "OperationLimits", Id::ServerCapabilities, Id::HasComponent, Id::OperationLimitsType);
    nodes_[std::size_t(standard(Id::Server))].eventNotifier = 0;
    object(Id::ServerDiagnostics, "ServerDiagnostics", Id::Server, Id::HasComponent, Id::ServerDiagnosticsType);
    for (auto [id, name] :
         {std::pair{Id::GetMonitoredItems, "GetMonitoredItems"}, std::pair{Id::ResendData, "ResendData"}}) {
        addNode(makeNode(NodeClass::Method, id, name));
        ref(Id::Server, Id::HasComponent, id);
    }

    for (const auto &v : Variables) {
        Node n = makeNode(NodeClass::Variable, v.id, v.name);
        n.dataType = v.dataType;
        n.valueRank = v.valueRank;
        n.accessLevel = 1;
        n.typeDefinition = v.typeDefinition ? v.typeDefinition
                                            : (v.kind == Kind::Property ? Id::PropertyType : Id::BaseDataVariableType);
        n.value = values.value(v.id);
        addNode(std::move(n));
        ref(v.parent, v.kind == Kind::Property ? Id::HasProperty : Id::HasComponent, v.id);
    }

    // Every object and variable names its type.
    for (std::size_t k = 0; k < nodes_.size(); ++k)
        if (nodes_[k].typeDefinition)
            addReference(NodeRef(k), Id::HasTypeDefinition, standard(nodes_[k].typeDefinition));
}

NodeRef AddressSpace::folderFor(const QString &prefix)
{
    const auto found = foldersByPrefix_.constFind(prefix);
    if (found != foldersByPrefix_.constEnd())
        return *found;
    const QString &delimiter = server_.PathDelimiter;
    const qsizetype cut = delimiter.isEmpty() ? -1 : prefix.lastIndexOf(delimiter);
    const NodeRef parent = cut < 0 ? standard(Id::ObjectsFolder) : folderFor(prefix.left(cut));
    const QString name = cut < 0 ? prefix : prefix.mid(cut + delimiter.size());
    Node n;
    // An item may carry the very ID of a prefix; the folder then takes the delimiter
    // as a suffix so that NodeIds stay unique.
    QString id = prefix;
    while (server_.Tags().find(id) || foldersById_.contains(id))
        id += delimiter.isEmpty() ? QStringLiteral("/") : delimiter;
    n.nodeId = NodeId(1, id);
    n.nodeClass = NodeClass::Object;
    n.browseName = QualifiedName{1, name};
    n.displayName = LocalizedText{QString(), name};
    n.typeDefinition = Id::FolderType;
    const NodeRef r = addNode(std::move(n));
    foldersByPrefix_.insert(prefix, r);
    foldersById_.insert(id, r);
    addReference(parent, Id::Organizes, r);
    addReference(r, Id::HasTypeDefinition, standard(Id::FolderType));
    return r;
}

void AddressSpace::syncItems()
{
    const OPCTags &tags = server_.Tags();
    const int count = tags.Count();
    if (int(itemParent_.size()) >= count)
        return;
    itemParent_.reserve(std::size_t(count));
    // The panels' trees hold fewer folders than items: one reservation instead of a
    // dozen copies of every node made so far.
    nodes_.reserve(nodes_.size() + std::size_t(count) - itemParent_.size());
    const QString &delimiter = server_.PathDelimiter;
    for (int h = int(itemParent_.size()); h < count; ++h) {
        const QString &id = tags.at(h)->ItemID();
        const qsizetype cut = delimiter.isEmpty() ? -1 : id.lastIndexOf(delimiter);
        const NodeRef parent = cut < 0 ? standard(Id::ObjectsFolder) : folderFor(id.left(cut));
        itemParent_.push_back(parent);
        addReference(parent, Id::Organizes, itemRef(h));
    }
}

NodeRef AddressSpace::resolve(const NodeId &id) const
{
    if (id.ns == 0)
        return id.kind == NodeId::Kind::Numeric ? standard(id.numeric) : NoNode;
    if (id.ns != 1 || id.kind != NodeId::Kind::String)
        return NoNode;
    if (const OPCItem *it = server_.Tags().find(id.string); it && std::size_t(it->handle()) < itemParent_.size())
        return itemRef(it->handle());
    return foldersById_.value(id.string, NoNode);
}

OPCItem *AddressSpace::item(NodeRef r) const
{
    if (!isItemRef(r) || std::size_t(itemHandle(r)) >= itemParent_.size())
        return nullptr;
    return server_.Tags().at(itemHandle(r));
}

QStringView AddressSpace::itemName(const OPCItem &item) const
{
    const QString &id = item.ItemID();
    const QString &delimiter = server_.PathDelimiter;
    const qsizetype cut = delimiter.isEmpty() ? -1 : id.lastIndexOf(delimiter);
    return cut < 0 ? QStringView(id) : QStringView(id).mid(cut + delimiter.size());
}

NodeId AddressSpace::nodeId(NodeRef r) const
{
    if (const OPCItem *it = item(r))
        return NodeId(1, it->ItemID());
    if (const Node *n = node(r))
        return n->nodeId;
    return {};
}

NodeClass AddressSpace::nodeClass(NodeRef r) const
{
    if (item(r))
        return NodeClass::Variable;
    const Node *n = node(r);
    return n ? n->nodeClass : NodeClass::Unspecified;
}

QualifiedName AddressSpace::browseName(NodeRef r) const
{
    if (const OPCItem *it = item(r))
        return QualifiedName{1, itemName(*it).toString()};
    const Node *n = node(r);
    return n ? n->browseName : QualifiedName{};
}

LocalizedText AddressSpace::displayName(NodeRef r) const
{
    if (const OPCItem *it = item(r))
        return LocalizedText{QString(), itemName(*it).toString()};
    const Node *n = node(r);
    return n ? n->displayName : LocalizedText{};
}

std::uint32_t AddressSpace::typeDefinition(NodeRef r) const
{
    if (item(r))
        return Id::BaseDataVariableType;
    const Node *n = node(r);
    return n ? n->typeDefinition : 0;
}

void AddressSpace::references(NodeRef r, std::vector<Reference> &out) const
{
    out.clear();
    if (isItemRef(r)) {
        if (!item(r))
            return;
        out.push_back({Id::Organizes, false, itemParent_[std::size_t(itemHandle(r))]});
        out.push_back({Id::HasTypeDefinition, true, standard(Id::BaseDataVariableType)});
        return;
    }
    if (const Node *n = node(r))
        out = n->references;
}

bool AddressSpace::isSubtypeOf(std::uint32_t type, std::uint32_t base) const
{
    for (int guard = 0; guard < 32 && type != 0; ++guard) {
        if (type == base)
            return true;
        type = superType_.value(type, 0);
    }
    return false;
}

bool AddressSpace::isReferenceType(std::uint32_t type) const
{
    const Node *n = node(standard(type));
    return n && n->nodeClass == NodeClass::ReferenceType;
}

} // namespace Ua
