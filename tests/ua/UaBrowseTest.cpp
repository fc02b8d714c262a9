// View services: the whole tree is reachable, filters, continuation points,
// browse paths and node registration.
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

} // namespace

TEST(UaBrowse, EveryItemAndStandardNodeIsReachableFromRoot)
{
    UaCore ua;
    ua.addPanelItems(50);
    ua.start();
    MemoryPeer &p = ua.client();

    QSet<QString> seen;
    std::vector<NodeId> queue{NodeId(0, Id::RootFolder)};
    seen.insert(queue[0].toString());
    int variables = 0;
    for (std::size_t head = 0, rounds = 0; head < queue.size() && rounds < 1000; ++rounds) {
        BrowseRequest request;
        const std::size_t end = std::min(queue.size(), head + 50);
        for (; head < end; ++head)
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
    for (const OPCItem *it : ua.server.Tags())
        EXPECT_TRUE(seen.contains(QStringLiteral("ns=1;s=") + it->ItemID())) << it->ItemID().toStdString();
    for (const char *id :
         {"ns=1;s=C01", "ns=1;s=C01.Z1", "ns=1;s=C01.Z1.G1", "ns=1;s=Big", "i=2253", "i=2256", "i=2259", "i=2262",
          "i=2255", "i=11705", "i=45", "i=47", "i=61", "i=63", "i=4", "i=862", "i=852"})
        EXPECT_TRUE(seen.contains(QString::fromLatin1(id))) << id;
}

TEST(UaBrowse, FoldersFollowThePathDelimiterAndItemsPointBack)
{
    UaCore ua;
    ua.server.PathDelimiter = QStringLiteral("/");
    ua.server.Tags().Add(QStringLiteral("Line/Zone/Gas"), AccessRights::Read, ::Variant(std::int16_t(1)),
                         Quality::Good);
    ua.server.Tags().Add(QStringLiteral("Line/Flag"), AccessRights::Read, ::Variant(false), Quality::Good);
    ua.server.Tags().Add(QStringLiteral("Loose"), AccessRights::Read, ::Variant(false), Quality::Good);
    ua.start();
    MemoryPeer &p = ua.client();

    const BrowseResult objects = browseOne(p, describe(NodeId(0, Id::ObjectsFolder)));
    EXPECT_TRUE(names(objects).contains(QStringLiteral("Line")));
    EXPECT_TRUE(names(objects).contains(QStringLiteral("Loose")));
    EXPECT_TRUE(names(objects).contains(QStringLiteral("Server")));
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
    const BrowseResult both = browseOne(p, describe(NodeId(1, QStringLiteral("Line/Zone/Gas")), 2, 0));
    EXPECT_EQ(both.references.size(), 2u);

    // Items added after the start appear on the next request.
    ua.server.Tags().Add(QStringLiteral("Line/Zone/Late"), AccessRights::Read, ::Variant(std::int16_t(2)),
                         Quality::Good);
    EXPECT_TRUE(names(browseOne(p, describe(NodeId(1, QStringLiteral("Line/Zone"))))).contains(QStringLiteral("Late")));
}

TEST(UaBrowse, ReferenceTypeFilterNodeClassMaskAndResultMask)
{
    UaCore ua;
    ua.addPanelItems();
    ua.start();
    MemoryPeer &p = ua.client();
    const NodeId server(0, Id::Server);

    const QStringList components = names(browseOne(p, describe(server, 0, Id::HasComponent, false)));
    EXPECT_TRUE(components.contains(QStringLiteral("ServerStatus")));
    EXPECT_FALSE(components.contains(QStringLiteral("NamespaceArray")));
    const QStringList properties = names(browseOne(p, describe(server, 0, Id::HasProperty, false)));
    EXPECT_TRUE(properties.contains(QStringLiteral("NamespaceArray")));
    EXPECT_FALSE(properties.contains(QStringLiteral("ServerStatus")));
    const QStringList children = names(browseOne(p, describe(server, 0, Id::HasChild, true)));
    EXPECT_TRUE(children.contains(QStringLiteral("NamespaceArray")) &&
                children.contains(QStringLiteral("ServerStatus")));
    EXPECT_TRUE(browseOne(p, describe(server, 0, Id::HasChild, false)).references.empty());

    BrowseDescription objectsOnly = describe(server, 0, Id::HierarchicalReferences);
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
    const QStringList numberKinds = names(browseOne(p, describe(NodeId(0, Id::Integer), 0, Id::HasSubtype)));
    EXPECT_TRUE(numberKinds.contains(QStringLiteral("Int16")) && numberKinds.contains(QStringLiteral("Int32")));
    const BrowseResult super = browseOne(p, describe(NodeId(0, Id::HasComponent), 1, Id::HasSubtype));
    ASSERT_EQ(super.references.size(), 1u);
    EXPECT_TRUE(super.references[0].nodeId.nodeId.isNumeric(Id::Aggregates));
}

TEST(UaBrowse, PerNodeErrors)
{
    UaCore ua;
    ua.start();
    MemoryPeer &p = ua.client();
    BrowseRequest request;
    request.nodesToBrowse = {describe(NodeId(1, QStringLiteral("No.Such")), 0), describe(NodeId(0, Id::RootFolder), 7),
                             describe(NodeId(0, Id::RootFolder), 0, Id::Boolean), describe(NodeId(0, Id::RootFolder))};
    BrowseResponse response;
    ASSERT_TRUE(p.call(request, response).ok);
    EXPECT_EQ(response.results[0].statusCode, Status::BadNodeIdUnknown);
    EXPECT_EQ(response.results[1].statusCode, Status::BadBrowseDirectionInvalid);
    EXPECT_EQ(response.results[2].statusCode, Status::BadReferenceTypeIdInvalid);
    EXPECT_EQ(response.results[3].statusCode, Status::Good);
    request.nodesToBrowse.clear();
    EXPECT_EQ(p.call(request, response).fault, Status::BadNothingToDo);
    request.nodesToBrowse = {describe(NodeId(0, Id::RootFolder))};
    request.view.viewId = NodeId(0, 12345);
    EXPECT_EQ(p.call(request, response).fault, Status::BadViewIdUnknown);
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
    int pages = 1;
    while (!page.continuationPoint.isEmpty() && pages < 50) {
        BrowseNextRequest next;
        next.continuationPoints = {page.continuationPoint};
        BrowseNextResponse response;
        ASSERT_TRUE(p.call(next, response).ok);
        ASSERT_EQ(response.results.size(), 1u);
        page = response.results[0];
        EXPECT_EQ(page.statusCode, Status::Good);
        EXPECT_LE(page.references.size(), 10u);
        all += names(page);
        ++pages;
    }
    EXPECT_EQ(pages, 10);
    ASSERT_EQ(all.size(), 95);
    for (int k = 0; k < 95; ++k)
        EXPECT_EQ(all[k], QStringLiteral("I%1").arg(k, 4, 10, QLatin1Char('0')));

    // A used continuation point is gone.
    BrowseNextRequest again;
    again.continuationPoints = {QByteArray("1-0"), QByteArray()};
    BrowseNextResponse response;
    ASSERT_TRUE(p.call(again, response).ok);
    EXPECT_EQ(response.results[0].statusCode, Status::BadContinuationPointInvalid);
    EXPECT_EQ(response.results[1].statusCode, Status::BadContinuationPointInvalid);

    // Two may be held at once; the third request gets none until one is released.
    const QByteArray first = browseOne(p, big, 10).continuationPoint;
    const QByteArray second = browseOne(p, big, 10).continuationPoint;
    EXPECT_FALSE(first.isEmpty() || second.isEmpty());
    const BrowseResult refused = browseOne(p, big, 10);
    EXPECT_EQ(refused.statusCode, Status::BadNoContinuationPoints);
    BrowseNextRequest release;
    release.releaseContinuationPoints = true;
    release.continuationPoints = {first};
    ASSERT_TRUE(p.call(release, response).ok);
    EXPECT_EQ(response.results[0].statusCode, Status::Good);
    EXPECT_TRUE(response.results[0].references.empty());
    EXPECT_FALSE(browseOne(p, big, 10).continuationPoint.isEmpty());

    // Continuation points belong to their session.
    MemoryPeer &other = ua.client();
    BrowseNextRequest foreign;
    foreign.continuationPoints = {second};
    ASSERT_TRUE(other.call(foreign, response).ok);
    EXPECT_EQ(response.results[0].statusCode, Status::BadContinuationPointInvalid);
}

TEST(UaBrowse, TranslateBrowsePathsFollowsNames)
{
    UaCore ua;
    ua.addPanelItems();
    ua.start();
    MemoryPeer &p = ua.client();
    auto path = [](NodeId start, std::initializer_list<std::pair<int, const char *>> steps) {
        BrowsePath b;
        b.startingNode = std::move(start);
        for (const auto &[ns, name] : steps) {
            RelativePathElement e;
            e.referenceTypeId = NodeId(0, Id::HierarchicalReferences);
            e.includeSubtypes = true;
            e.targetName = QualifiedName{std::uint16_t(ns), QString::fromLatin1(name)};
            b.relativePath.elements.push_back(e);
        }
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
    EXPECT_EQ(response.results[2].statusCode, Status::BadNoMatch);
    EXPECT_EQ(response.results[3].statusCode, Status::BadNoMatch);
    EXPECT_EQ(response.results[4].statusCode, Status::BadNodeIdUnknown);
    EXPECT_EQ(response.results[5].statusCode, Status::BadNothingToDo);
    EXPECT_EQ(response.results[6].statusCode, Status::BadBrowseNameInvalid);
}

TEST(UaBrowse, RegisterNodesHandsTheSameIdsBack)
{
    UaCore ua;
    ua.addPanelItems();
    ua.start();
    MemoryPeer &p = ua.client();
    RegisterNodesRequest reg;
    reg.nodesToRegister = {item("C01.Panel"), NodeId(0, Id::State)};
    RegisterNodesResponse registered;
    ASSERT_TRUE(p.call(reg, registered).ok);
    EXPECT_EQ(registered.registeredNodeIds, reg.nodesToRegister);
    UnregisterNodesRequest unreg;
    unreg.nodesToUnregister = registered.registeredNodeIds;
    UnregisterNodesResponse unregistered;
    const auto reply = p.call(unreg, unregistered);
    EXPECT_TRUE(reply.ok);
    EXPECT_EQ(reply.fault, Status::Good);
    reg.nodesToRegister.clear();
    EXPECT_EQ(p.call(reg, registered).fault, Status::BadNothingToDo);
}
