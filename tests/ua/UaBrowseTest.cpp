// View services: the whole tree is reachable, the type hierarchies, filters,
// continuation points, browse paths and node registration.
#include "UaFixture.h"

#include <QSet>

using namespace Ua;

namespace {

BrowseDescription describe(const NodeId &id, std::int32_t direction = 0,
                           std::uint32_t refType = Id::HierarchicalReferences, bool subtypes = true)
{
    return {id, direction, refType ? NodeId(0, refType) : NodeId(), subtypes, 0, 0x3F};
}

std::vector<BrowseResult> browse(UaTestPeer &p, std::vector<BrowseDescription> nodes, std::uint32_t maxRefs = 0)
{
    return ask<BrowseResponse>(p, BrowseRequest{{}, {}, maxRefs, std::move(nodes)}).results;
}

BrowseResult browseNext(UaTestPeer &p, const QByteArray &point, bool release = false)
{
    const auto response = ask<BrowseNextResponse>(p, BrowseNextRequest{{}, release, {point}});
    return response.results.empty() ? BrowseResult{} : response.results[0];
}

QStringList names(const BrowseResult &r)
{
    QStringList out;
    for (const auto &ref : r.references)
        out << ref.browseName.name;
    return out;
}

} // namespace

TEST(UaBrowse, EveryNodeIsReachableFromRootAndFoldersFollowThePathDelimiter)
{
    UaCore ua;
    ua.server.PathDelimiter = QStringLiteral("/");
    for (const char *id : {"Line/Zone/Gas", "Line/Flag", "Loose", "Line"}) // an item may hold a folder's ID
        ua.server.Tags().Add(QString::fromLatin1(id), AccessRights::Read, ::Variant(false), Quality::Good);
    ua.start();
    MemoryPeer &p = ua.client();
    QSet<QString> seen{QStringLiteral("i=84")};
    std::vector<NodeId> queue{NodeId(0, Id::RootFolder)};
    std::vector<ReadValueId> dataTypes; // of every variable
    for (std::size_t head = 0; head < queue.size() && head < 1000;) {
        std::vector<BrowseDescription> level;
        for (const std::size_t end = std::min(queue.size(), head + 50); head < end; ++head)
            level.push_back(describe(queue[head]));
        for (const auto &result : browse(p, level)) {
            EXPECT_EQ(result.statusCode, Status::Good);
            for (const auto &ref : result.references) {
                EXPECT_TRUE(ref.isForward && !ref.browseName.name.isEmpty());
                EXPECT_EQ(ref.displayName.text, ref.browseName.name);
                if (ref.nodeClass == std::int32_t(NodeClass::Variable))
                    dataTypes.push_back(readId(ref.nodeId.nodeId, Attr::DataType));
                if (!seen.contains(ref.nodeId.nodeId.toString()))
                    seen.insert(ref.nodeId.nodeId.toString()), queue.push_back(ref.nodeId.nodeId);
            }
        }
    }
    for (const char *id :
         {"ns=1;s=Line/Zone/Gas", "ns=1;s=Line/Flag", "ns=1;s=Loose", "ns=1;s=Line", "ns=1;s=Line/", "i=2253", "i=2256",
          "i=2259", "i=2262", "i=2255", "i=11705", "i=45", "i=47", "i=61", "i=63", "i=4", "i=862", "i=852"})
        EXPECT_TRUE(seen.contains(QString::fromLatin1(id))) << id;
    // Every data type a variable names exists, with its names.
    std::vector<ReadValueId> typeNames;
    for (const DataValue &type : p.read(dataTypes).results)
        for (std::uint32_t a : {Attr::BrowseName, Attr::DisplayName})
            typeNames.push_back(readId(type.value.x ? type.value.x->nodeId : NodeId(), a));
    ASSERT_GT(typeNames.size(), 80u);
    for (const DataValue &name : p.read(typeNames).results)
        EXPECT_EQ(name.status, Status::Good);

    const BrowseResult line = browse(p, {describe(NodeId(1, QStringLiteral("Line/")))})[0];
    EXPECT_EQ(names(line), (QStringList{QStringLiteral("Zone"), QStringLiteral("Flag")}));
    EXPECT_TRUE(line.references.at(0).referenceTypeId.isNumeric(Id::Organizes));
    // Inverse from an item leads to its folder; both ways, to its type as well.
    const auto up = browse(p, {describe(NodeId(1, QStringLiteral("Line/Zone/Gas")), 1, 0),
                               describe(NodeId(1, QStringLiteral("Line/Zone/Gas")), 2, 0)});
    ASSERT_EQ(up[0].references.size(), 1u);
    EXPECT_EQ(up[0].references[0].nodeId.nodeId, NodeId(1, QStringLiteral("Line/Zone")));
    EXPECT_FALSE(up[0].references[0].isForward);
    EXPECT_EQ(up[1].references.size(), 2u);
    // Items added after the start appear on the next request.
    ua.server.Tags().Add(QStringLiteral("Line/Zone/Late"), AccessRights::Read, ::Variant(false), Quality::Good);
    EXPECT_TRUE(
        names(browse(p, {describe(NodeId(1, QStringLiteral("Line/Zone")))})[0]).contains(QStringLiteral("Late")));
}

TEST(UaBrowse, FiltersMasksPerNodeErrorsAndTypeHierarchies)
{
    UaCore ua;
    ua.start();
    MemoryPeer &p = ua.client();
    const NodeId server(0, Id::Server);
    BrowseDescription objectsOnly = describe(server), bare = describe(NodeId(0, Id::ObjectsFolder), 0, Id::Organizes);
    objectsOnly.nodeClassMask = std::uint32_t(NodeClass::Object);
    bare.resultMask = 0;
    const auto r = browse(p, {describe(server, 0, Id::HasComponent, false), describe(server, 0, Id::HasChild, true),
                              describe(server, 0, Id::HasChild, false), objectsOnly, bare,
                              describe(NodeId(0, Id::Integer), 0, Id::HasSubtype),
                              describe(NodeId(0, Id::HasComponent), 1, Id::HasSubtype),
                              describe(NodeId(1, QStringLiteral("No.Such"))), describe(NodeId(0, Id::RootFolder), 7),
                              describe(NodeId(0, Id::RootFolder), 0, Id::Boolean)});
    ASSERT_EQ(r.size(), 10u);
    EXPECT_TRUE(names(r[0]).contains(QStringLiteral("ServerStatus")) &&
                !names(r[0]).contains(QStringLiteral("NamespaceArray")));
    EXPECT_TRUE(names(r[1]).contains(QStringLiteral("ServerStatus")) &&
                names(r[1]).contains(QStringLiteral("NamespaceArray")));
    EXPECT_TRUE(r[2].references.empty()); // no reference is of HasChild itself
    EXPECT_EQ(names(r[3]), (QStringList{QStringLiteral("ServerCapabilities"), QStringLiteral("ServerDiagnostics")}));
    ASSERT_FALSE(r[4].references.empty());
    EXPECT_TRUE(r[4].references[0].referenceTypeId.isNull() && r[4].references[0].browseName.name.isNull() &&
                !r[4].references[0].nodeId.nodeId.isNull());
    EXPECT_TRUE(names(r[5]).contains(QStringLiteral("Int16")) && names(r[5]).contains(QStringLiteral("Int32")));
    ASSERT_EQ(r[6].references.size(), 1u);
    EXPECT_TRUE(r[6].references[0].nodeId.nodeId.isNumeric(Id::Aggregates));
    EXPECT_EQ((std::vector<StatusCode>{r[7].statusCode, r[8].statusCode, r[9].statusCode}),
              (std::vector<StatusCode>{Status::BadNodeIdUnknown, Status::BadBrowseDirectionInvalid,
                                       Status::BadReferenceTypeIdInvalid}));
    BrowseRequest request{{}, {NodeId(0, 12345), 0, 0}, 0, {describe(server)}};
    EXPECT_EQ(p.faultOf(request), Status::BadViewIdUnknown);
    request.nodesToBrowse.clear();
    EXPECT_EQ(p.faultOf(request), Status::BadNothingToDo);

    // The type hierarchies hold every type the server's nodes name.
    const std::pair<std::uint32_t, std::vector<const char *>> expected[] = {
        {Id::BaseDataType, {"Boolean", "Number", "String", "DateTime", "Structure", "Enumeration", "LocalizedText"}},
        {Id::Structure, {"Argument", "BuildInfo", "ServerStatusDataType", "ServerDiagnosticsSummaryDataType"}},
        {Id::References, {"HierarchicalReferences", "NonHierarchicalReferences"}},
        {Id::HierarchicalReferences, {"HasChild", "Organizes", "HasEventSource"}},
        {Id::Aggregates, {"HasComponent", "HasProperty"}},
        {Id::NonHierarchicalReferences, {"HasTypeDefinition", "HasModellingRule", "HasEncoding", "GeneratesEvent"}},
        {Id::BaseObjectType, {"FolderType", "ServerType", "ServerCapabilitiesType", "ServerDiagnosticsType"}},
        {Id::BaseDataVariableType, {"ServerStatusType", "BuildInfoType", "ServerDiagnosticsSummaryType"}}};
    std::vector<BrowseDescription> nodes;
    for (const auto &[type, subtypes] : expected)
        nodes.push_back(describe(NodeId(0, type), 0, Id::HasSubtype, false));
    const auto results = browse(p, nodes);
    ASSERT_EQ(results.size(), nodes.size());
    for (std::size_t k = 0; k < nodes.size(); ++k)
        for (const char *name : expected[k].second)
            EXPECT_TRUE(names(results[k]).contains(QLatin1String(name))) << name;
}

TEST(UaBrowse, ContinuationPointsPageThroughALargeFolder)
{
    UaCore ua;
    ua.addPanelItems(95);
    ua.config.maxContinuationPoints = 2;
    ua.start();
    MemoryPeer &p = ua.client();
    const BrowseDescription big = describe(NodeId(1, QStringLiteral("Big")), 0, Id::Organizes);
    BrowseResult page = browse(p, {big}, 10)[0];
    const QByteArray first = page.continuationPoint;
    QStringList all = names(page);
    int pages = 1;
    for (; !page.continuationPoint.isEmpty() && pages < 50; ++pages) {
        page = browseNext(p, page.continuationPoint);
        EXPECT_EQ(page.statusCode, Status::Good);
        all += names(page);
    }
    EXPECT_EQ(pages, 10);
    ASSERT_EQ(all.size(), 95);
    for (int k = 0; k < 95; ++k)
        EXPECT_EQ(all[k], QStringLiteral("I%1").arg(k, 4, 10, QLatin1Char('0')));
    for (const QByteArray &point : {first, QByteArray("1-0"), QByteArray()}) // used, made up, empty
        EXPECT_EQ(browseNext(p, point).statusCode, Status::BadContinuationPointInvalid);

    // Two may be held at once; the third browse gets none until one is released.
    const auto held = browse(p, {big, big, big}, 10);
    EXPECT_FALSE(held[0].continuationPoint.isEmpty() || held[1].continuationPoint.isEmpty());
    EXPECT_EQ(held[2].statusCode, Status::BadNoContinuationPoints);
    EXPECT_TRUE(held[2].references.empty());
    const BrowseResult released = browseNext(p, held[0].continuationPoint, true);
    EXPECT_EQ(released.statusCode, Status::Good);
    EXPECT_TRUE(released.references.empty());
    EXPECT_FALSE(browse(p, {big}, 10)[0].continuationPoint.isEmpty());
    // Continuation points belong to their session.
    EXPECT_EQ(browseNext(ua.client(), held[1].continuationPoint).statusCode, Status::BadContinuationPointInvalid);
    EXPECT_EQ(browseNext(p, held[1].continuationPoint).references.size(), 10u);
}

TEST(UaBrowse, TranslateBrowsePathsFollowsNamesAndRegisterNodesHandsIdsBack)
{
    UaCore ua;
    ua.addPanelItems();
    ua.start();
    MemoryPeer &p = ua.client();
    auto path = [](NodeId start, std::initializer_list<std::pair<int, const char *>> steps) {
        BrowsePath b{std::move(start), {}};
        for (const auto &[ns, name] : steps)
            b.relativePath.elements.push_back({NodeId(0, Id::HierarchicalReferences), false, true,
                                               QualifiedName{std::uint16_t(ns), QString::fromLatin1(name)}});
        return b;
    };
    TranslateBrowsePathsToNodeIdsRequest request{
        {},
        {path(NodeId(0, Id::ObjectsFolder), {{1, "C01"}, {1, "Z1"}, {1, "State"}}),
         path(NodeId(0, Id::RootFolder), {{0, "Objects"}, {0, "Server"}, {0, "ServerStatus"}, {0, "State"}}),
         path(NodeId(0, Id::ObjectsFolder), {{1, "C01"}, {1, "Nope"}}),
         path(NodeId(0, Id::ObjectsFolder), {{0, "C01"}}), // wrong namespace
         path(NodeId(1, QStringLiteral("Missing")), {{1, "X"}}), path(NodeId(0, Id::ObjectsFolder), {}),
         path(NodeId(0, Id::ObjectsFolder), {{1, ""}})}};
    TranslateBrowsePathsToNodeIdsResponse response;
    ASSERT_TRUE(p.call(request, response).ok);
    ASSERT_EQ(response.results.size(), 7u);
    ASSERT_EQ(response.results[0].targets.size(), 1u);
    EXPECT_EQ(response.results[0].targets[0].targetId.nodeId, item("C01.Z1.State"));
    EXPECT_EQ(response.results[0].targets[0].remainingPathIndex, 0xFFFFFFFFu);
    ASSERT_EQ(response.results[1].targets.size(), 1u);
    EXPECT_TRUE(response.results[1].targets[0].targetId.nodeId.isNumeric(Id::State));
    std::vector<StatusCode> errors;
    for (std::size_t k = 2; k < 7; ++k)
        errors.push_back(response.results[k].statusCode);
    EXPECT_EQ(errors, (std::vector<StatusCode>{Status::BadNoMatch, Status::BadNoMatch, Status::BadNodeIdUnknown,
                                               Status::BadNothingToDo, Status::BadBrowseNameInvalid}));

    RegisterNodesRequest reg{{}, {item("C01.Panel"), NodeId(0, Id::State)}};
    RegisterNodesResponse registered;
    ASSERT_TRUE(p.call(reg, registered).ok);
    EXPECT_EQ(registered.registeredNodeIds, reg.nodesToRegister);
    EXPECT_EQ(p.faultOf(UnregisterNodesRequest{{}, registered.registeredNodeIds}), Status::Good);
    EXPECT_EQ(p.faultOf(UnregisterNodesRequest{{}, {}}), Status::BadNothingToDo);
}
