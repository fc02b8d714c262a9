// View services: the whole tree is reachable, filters, continuation points, browse
// paths and node registration.
#include "UaFixture.h"

#include <QSet>
#include <gtest/gtest.h>

using namespace Ua;

namespace {

BrowseDescription describe(const NodeId &id, std::int32_t direction = 0,
                           std::uint32_t refType = Id::HierarchicalReferences, bool subtypes = true)
{
    BrowseDescription d;
    d.nodeId = id;
    d.browseDirection = direction;
    if (refType)
        d.referenceTypeId = NodeId(0, refType);
    d.includeSubtypes = subtypes;
    d.resultMask = 0x3F;
    return d;
}

BrowseResult browseOne(UaTestPeer &p, const BrowseDescription &d, std::uint32_t maxRefs = 0)
{
    BrowseRequest request;
    request.requestedMaxReferencesPerNode = maxRefs;
    request.nodesToBrowse = {d};
    BrowseResponse response;
    const auto reply = p.call(request, response);
    EXPECT_TRUE(reply.ok && reply.fault == 0);
    return response.results.empty() ? BrowseResult{} : response.results[0];
}

QStringList names(const BrowseResult &r)
{
    QStringList out;
    for (const auto &ref : r.references)
        out << ref.browseName.name;
    return out;
}

BrowseResult browseNext(UaTestPeer &p, const QByteArray &point, bool release = false)
{
    BrowseNextRequest next;
    next.releaseContinuationPoints = release;
    next.continuationPoints = {point};
    BrowseNextResponse response;
    EXPECT_TRUE(p.call(next, response).ok);
    return response.results.empty() ? BrowseResult{} : response.results[0];
}

} // namespace

TEST(UaBrowse, EveryItemAndStandardNodeIsReachableFromRoot)
{
    UaCore ua;
    ua.addPanelItems(50);
    ua.start();
    MemoryPeer &p = ua.client();
    QSet<QString> seen{QStringLiteral("i=84")};
    std::vector<NodeId> queue{NodeId(0, Id::RootFolder)};
    int variables = 0;
    for (std::size_t head = 0, rounds = 0; head < queue.size() && rounds < 1000; ++rounds) {
        BrowseRequest request;
        for (const std::size_t end = std::min(queue.size(), head + 50); head < end; ++head)
            request.nodesToBrowse.push_back(describe(queue[head]));
        BrowseResponse response;
        ASSERT_TRUE(p.call(request, response).ok);
        ASSERT_EQ(response.results.size(), request.nodesToBrowse.size());
        for (const auto &result : response.results) {
            EXPECT_EQ(result.statusCode, Status::Good);
            for (const auto &ref : result.references) {
                EXPECT_TRUE(ref.isForward);
                EXPECT_FALSE(ref.browseName.name.isEmpty());
                EXPECT_EQ(ref.displayName.text, ref.browseName.name);
                const QString key = ref.nodeId.nodeId.toString();
                if (seen.contains(key))
                    continue;
                seen.insert(key);
                queue.push_back(ref.nodeId.nodeId);
                if (ref.nodeClass == std::int32_t(NodeClass::Variable) && ref.nodeId.nodeId.ns == 1) {
                    ++variables;
                    EXPECT_TRUE(ref.typeDefinition.nodeId.isNumeric(Id::BaseDataVariableType));
                }
            }
        }
    }
    EXPECT_EQ(variables, ua.server.Tags().Count());
    for (const char *id :
         {"ns=1;s=C01.Z1.G1", "ns=1;s=Big.I0049", "ns=1;s=Test.WriteOnly", "i=2253", "i=2256", "i=2259", "i=2262",
          "i=2255", "i=11705", "i=45", "i=47", "i=61", "i=63", "i=4", "i=862", "i=852"})
        EXPECT_TRUE(seen.contains(QString::fromLatin1(id))) << id;
}

TEST(UaBrowse, FoldersFollowThePathDelimiterAndItemsPointBack)
{
    UaCore ua;
    ua.server.PathDelimiter = QStringLiteral("/");
    for (const char *id : {"Line/Zone/Gas", "Line/Flag", "Loose"})
        ua.server.Tags().Add(QString::fromLatin1(id), AccessRights::Read, ::Variant(false), Quality::Good);
    ua.start();
    MemoryPeer &p = ua.client();
    const QStringList objects = names(browseOne(p, describe(NodeId(0, Id::ObjectsFolder))));
    EXPECT_TRUE(objects.contains(QStringLiteral("Line")) && objects.contains(QStringLiteral("Loose")) &&
                objects.contains(QStringLiteral("Server")));
    const BrowseResult line = browseOne(p, describe(NodeId(1, QStringLiteral("Line"))));
    EXPECT_EQ(names(line), (QStringList{QStringLiteral("Zone"), QStringLiteral("Flag")}));
    for (const auto &ref : line.references) {
        EXPECT_TRUE(ref.referenceTypeId.isNumeric(Id::Organizes));
        EXPECT_EQ(ref.browseName.ns, 1);
    }
    EXPECT_EQ(line.references[0].nodeClass, std::int32_t(NodeClass::Object));
    EXPECT_TRUE(line.references[0].typeDefinition.nodeId.isNumeric(Id::FolderType));

    // Inverse from an item leads to its folder; forward only to its type.
    const BrowseResult up = browseOne(p, describe(NodeId(1, QStringLiteral("Line/Zone/Gas")), 1, 0));
    ASSERT_EQ(up.references.size(), 1u);
    EXPECT_EQ(up.references[0].nodeId.nodeId, NodeId(1, QStringLiteral("Line/Zone")));
    EXPECT_FALSE(up.references[0].isForward);
    EXPECT_EQ(browseOne(p, describe(NodeId(1, QStringLiteral("Line/Zone/Gas")), 2, 0)).references.size(), 2u);

    // Items added after the start appear on the next request.
    ua.server.Tags().Add(QStringLiteral("Line/Zone/Late"), AccessRights::Read, ::Variant(false), Quality::Good);
    EXPECT_TRUE(names(browseOne(p, describe(NodeId(1, QStringLiteral("Line/Zone"))))).contains(QStringLiteral("Late")));
}

TEST(UaBrowse, FiltersMasksAndPerNodeErrors)
{
    UaCore ua;
    ua.addPanelItems();
    ua.start();
    MemoryPeer &p = ua.client();
    const NodeId server(0, Id::Server);
    const QStringList components = names(browseOne(p, describe(server, 0, Id::HasComponent, false)));
    EXPECT_TRUE(components.contains(QStringLiteral("ServerStatus")));
    EXPECT_FALSE(components.contains(QStringLiteral("NamespaceArray")));
    const QStringList children = names(browseOne(p, describe(server, 0, Id::HasChild, true)));
    EXPECT_TRUE(children.contains(QStringLiteral("NamespaceArray")) &&
                children.contains(QStringLiteral("ServerStatus")));
    EXPECT_TRUE(browseOne(p, describe(server, 0, Id::HasChild, false)).references.empty());
    BrowseDescription objectsOnly = describe(server);
    objectsOnly.nodeClassMask = std::uint32_t(NodeClass::Object);
    EXPECT_EQ(names(browseOne(p, objectsOnly)), QStringList{QStringLiteral("ServerCapabilities")});
    BrowseDescription bare = describe(NodeId(0, Id::ObjectsFolder), 0, Id::Organizes);
    bare.resultMask = 0;
    const BrowseResult r = browseOne(p, bare);
    ASSERT_FALSE(r.references.empty());
    EXPECT_TRUE(r.references[0].referenceTypeId.isNull());
    EXPECT_TRUE(r.references[0].browseName.name.isNull());
    EXPECT_FALSE(r.references[0].nodeId.nodeId.isNull());
    // Type hierarchies hang together through HasSubtype.
    const QStringList numbers = names(browseOne(p, describe(NodeId(0, Id::Integer), 0, Id::HasSubtype)));
    EXPECT_TRUE(numbers.contains(QStringLiteral("Int16")) && numbers.contains(QStringLiteral("Int32")));
    const BrowseResult super = browseOne(p, describe(NodeId(0, Id::HasComponent), 1, Id::HasSubtype));
    ASSERT_EQ(super.references.size(), 1u);
    EXPECT_TRUE(super.references[0].nodeId.nodeId.isNumeric(Id::Aggregates));

    BrowseRequest request;
    request.nodesToBrowse = {describe(NodeId(1, QStringLiteral("No.Such"))), describe(NodeId(0, Id::RootFolder), 7),
                             describe(NodeId(0, Id::RootFolder), 0, Id::Boolean), describe(NodeId(0, Id::RootFolder))};
    BrowseResponse response;
    ASSERT_TRUE(p.call(request, response).ok);
    ASSERT_EQ(response.results.size(), 4u);
    EXPECT_EQ(response.results[0].statusCode, Status::BadNodeIdUnknown);
    EXPECT_EQ(response.results[1].statusCode, Status::BadBrowseDirectionInvalid);
    EXPECT_EQ(response.results[2].statusCode, Status::BadReferenceTypeIdInvalid);
    EXPECT_EQ(response.results[3].statusCode, Status::Good);
    request.view.viewId = NodeId(0, 12345);
    EXPECT_EQ(p.faultOf(request), Status::BadViewIdUnknown);
    request.nodesToBrowse.clear();
    EXPECT_EQ(p.faultOf(request), Status::BadNothingToDo);
}

TEST(UaBrowse, ContinuationPointsPageThroughALargeFolder)
{
    UaCore ua;
    ua.addPanelItems(95);
    ua.config.maxContinuationPoints = 2;
    ua.start();
    MemoryPeer &p = ua.client();
    const BrowseDescription big = describe(NodeId(1, QStringLiteral("Big")), 0, Id::Organizes);
    BrowseResult page = browseOne(p, big, 10);
    QStringList all = names(page);
    const QByteArray first = page.continuationPoint;
    int pages = 1;
    for (; !page.continuationPoint.isEmpty() && pages < 50; ++pages) {
        page = browseNext(p, page.continuationPoint);
        EXPECT_EQ(page.statusCode, Status::Good);
        EXPECT_LE(page.references.size(), 10u);
        all += names(page);
    }
    EXPECT_EQ(pages, 10);
    ASSERT_EQ(all.size(), 95);
    for (int k = 0; k < 95; ++k)
        EXPECT_EQ(all[k], QStringLiteral("I%1").arg(k, 4, 10, QLatin1Char('0')));
    // Used, made up or empty: invalid.
    for (const QByteArray &point : {first, QByteArray("1-0"), QByteArray()})
        EXPECT_EQ(browseNext(p, point).statusCode, Status::BadContinuationPointInvalid);

    // Two may be held at once; the third browse gets none until one is released.
    const QByteArray a = browseOne(p, big, 10).continuationPoint, b = browseOne(p, big, 10).continuationPoint;
    EXPECT_FALSE(a.isEmpty() || b.isEmpty());
    const BrowseResult refused = browseOne(p, big, 10);
    EXPECT_EQ(refused.statusCode, Status::BadNoContinuationPoints);
    EXPECT_TRUE(refused.references.empty());
    const BrowseResult released = browseNext(p, a, true);
    EXPECT_EQ(released.statusCode, Status::Good);
    EXPECT_TRUE(released.references.empty());
    EXPECT_FALSE(browseOne(p, big, 10).continuationPoint.isEmpty());
    // Continuation points belong to their session.
    EXPECT_EQ(browseNext(ua.client(), b).statusCode, Status::BadContinuationPointInvalid);
    EXPECT_EQ(browseNext(p, b).references.size(), 10u);
}

TEST(UaBrowse, TranslateBrowsePathsFollowsNamesAndRegisterNodesHandsIdsBack)
{
    UaCore ua;
    ua.addPanelItems();
    ua.start();
    MemoryPeer &p = ua.client();
    auto path = [](NodeId start, std::initializer_list<std::pair<int, const char *>> steps) {
        BrowsePath b;
        b.startingNode = std::move(start);
        for (const auto &[ns, name] : steps)
            b.relativePath.elements.push_back(
                RelativePathElement{NodeId(0, Id::HierarchicalReferences), false, true,
                                    QualifiedName{std::uint16_t(ns), QString::fromLatin1(name)}});
        return b;
    };
    TranslateBrowsePathsToNodeIdsRequest request;
    request.browsePaths = {
        path(NodeId(0, Id::ObjectsFolder), {{1, "C01"}, {1, "Z1"}, {1, "State"}}),
        path(NodeId(0, Id::RootFolder), {{0, "Objects"}, {0, "Server"}, {0, "ServerStatus"}, {0, "State"}}),
        path(NodeId(0, Id::ObjectsFolder), {{1, "C01"}, {1, "Nope"}}),
        path(NodeId(0, Id::ObjectsFolder), {{0, "C01"}}), // wrong namespace
        path(NodeId(1, QStringLiteral("Missing")), {{1, "X"}}),
        path(NodeId(0, Id::ObjectsFolder), {}),
        path(NodeId(0, Id::ObjectsFolder), {{1, ""}}),
    };
    TranslateBrowsePathsToNodeIdsResponse response;
    ASSERT_TRUE(p.call(request, response).ok);
    ASSERT_EQ(response.results.size(), 7u);
    ASSERT_EQ(response.results[0].targets.size(), 1u);
    EXPECT_EQ(response.results[0].targets[0].targetId.nodeId, item("C01.Z1.State"));
    EXPECT_EQ(response.results[0].targets[0].remainingPathIndex, 0xFFFFFFFFu);
    ASSERT_EQ(response.results[1].targets.size(), 1u);
    EXPECT_TRUE(response.results[1].targets[0].targetId.nodeId.isNumeric(Id::State));
    const StatusCode errors[] = {Status::BadNoMatch, Status::BadNoMatch, Status::BadNodeIdUnknown,
                                 Status::BadNothingToDo, Status::BadBrowseNameInvalid};
    for (std::size_t k = 0; k < std::size(errors); ++k)
        EXPECT_EQ(response.results[k + 2].statusCode, errors[k]) << k + 2;

    RegisterNodesRequest reg;
    reg.nodesToRegister = {item("C01.Panel"), NodeId(0, Id::State)};
    RegisterNodesResponse registered;
    ASSERT_TRUE(p.call(reg, registered).ok);
    EXPECT_EQ(registered.registeredNodeIds, reg.nodesToRegister);
    UnregisterNodesRequest unreg;
    unreg.nodesToUnregister = registered.registeredNodeIds;
    EXPECT_EQ(p.faultOf(unreg), Status::Good);
    reg.nodesToRegister.clear();
    EXPECT_EQ(p.faultOf(reg), Status::BadNothingToDo);
}
