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

// What a browse found: the browse names of the references in their order, or its status when it failed.
std::string found(const BrowseResult &r)
{
    QStringList names;
    for (const auto &ref : r.references)
        names << ref.browseName.name;
    return isGood(r.statusCode) ? names.join(u' ').toStdString() : statusName(r.statusCode);
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
    for (std::size_t k = 0; k < queue.size() && k < 1000; ++k) {
        const BrowseResult result = browse(p, {describe(queue[k])}).at(0);
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

    // The folder "Line" takes the delimiter as a suffix; inverse from an item leads to its folder, both ways to
    // its type as well.
    const NodeId gas(1, QStringLiteral("Line/Zone/Gas"));
    const auto r = browse(p, {describe(NodeId(1, QStringLiteral("Line/"))), describe(gas, 1, 0), describe(gas, 2, 0)});
    EXPECT_EQ((std::vector{found(r[0]), found(r[1]), found(r[2])}),
              (std::vector<std::string>{"Zone Flag", "Zone", "Zone BaseDataVariableType"}));
    EXPECT_TRUE(r[0].references.at(0).referenceTypeId.isNumeric(Id::Organizes) && !r[1].references.at(0).isForward);
    // Items added after the start appear on the next request.
    ua.server.Tags().Add(QStringLiteral("Line/Zone/Late"), AccessRights::Read, ::Variant(false), Quality::Good);
    EXPECT_EQ(found(browse(p, {describe(NodeId(1, QStringLiteral("Line/Zone")))})[0]), "Gas Late");
}

TEST(UaBrowse, FiltersMasksPerNodeErrorsTypeHierarchiesBrowsePathsRegisterNodesAndContinuationPoints)
{
    UaCore ua;
    ua.addPanelItems(95);
    ua.config.maxContinuationPoints = 2;
    ua.start();
    MemoryPeer &p = ua.client();
    // Rows of node, direction, reference type, its subtypes too, node class mask, what is found, and why.
    const QJsonArray rows = uaCases("browse");
    std::vector<BrowseDescription> nodes;
    for (const QJsonValue &row : rows)
        nodes.push_back(
            {nodeIdOf(row[0]), row[1].toInt(), nodeIdOf(row[2]), row[3].toBool(), std::uint32_t(row[4].toInt()), 0x3F});
    nodes.push_back({NodeId(0, Id::ObjectsFolder), 0, NodeId(0, Id::Organizes), true, 0, 0}); // no result fields
    const auto r = browse(p, nodes);
    ASSERT_EQ(r.size(), nodes.size());
    for (qsizetype k = 0; k < rows.size(); ++k)
        EXPECT_EQ(found(r[std::size_t(k)]), str(rows[k][5])) << str(rows[k][6]);
    ASSERT_FALSE(r.back().references.empty());
    const ReferenceDescription &plain = r.back().references[0];
    EXPECT_TRUE(plain.referenceTypeId.isNull() && plain.browseName.name.isNull() && !plain.nodeId.nodeId.isNull());
    BrowseRequest request{{}, {NodeId(0, 12345), 0, 0}, 0, {describe(NodeId(0, Id::Server))}};
    EXPECT_EQ(p.faultOf(request), Status::BadViewIdUnknown);
    request.nodesToBrowse.clear();
    EXPECT_EQ(p.faultOf(request), Status::BadNothingToDo);

    // Rows of start node, path of "namespace:name" steps, and what it leads to.
    const QJsonArray paths = uaCases("browsePaths");
    TranslateBrowsePathsToNodeIdsRequest translate;
    for (const QJsonValue &row : paths) {
        BrowsePath &path = translate.browsePaths.emplace_back(BrowsePath{nodeIdOf(row[0]), {}});
        for (const QString &step : row[1].toString().split(u'/', Qt::SkipEmptyParts))
            path.relativePath.elements.push_back(
                {NodeId(0, Id::HierarchicalReferences), false, true,
                 QualifiedName{std::uint16_t(step.section(u':', 0, 0).toUInt()), step.section(u':', 1)}});
    }
    const auto response = ask<TranslateBrowsePathsToNodeIdsResponse>(p, translate);
    ASSERT_EQ(response.results.size(), std::size_t(paths.size()));
    for (std::size_t k = 0; k < response.results.size(); ++k) {
        std::string outcome = statusName(response.results[k].statusCode);
        for (const BrowsePathTarget &t : response.results[k].targets) // the whole path followed: no index left
            outcome +=
                (t.remainingPathIndex == 0xFFFFFFFFu ? " " : " partly ") + t.targetId.nodeId.toString().toStdString();
        EXPECT_EQ(outcome, str(paths[qsizetype(k)][2])) << str(paths[qsizetype(k)][1]);
    }

    RegisterNodesRequest reg{{}, {item("C01.Panel"), NodeId(0, Id::State)}};
    EXPECT_EQ(ask<RegisterNodesResponse>(p, reg).registeredNodeIds, reg.nodesToRegister);
    EXPECT_EQ(p.faultOf(UnregisterNodesRequest{{}, reg.nodesToRegister}), Status::Good);
    EXPECT_EQ(p.faultOf(UnregisterNodesRequest{{}, {}}), Status::BadNothingToDo);

    // Continuation points page through a large folder.
    const BrowseDescription big = describe(NodeId(1, QStringLiteral("Big")), 0, Id::Organizes);
    BrowseResult page = browse(p, {big}, 10)[0];
    const QByteArray first = page.continuationPoint;
    std::vector<std::string> pages{found(page)}, expected;
    QStringList all;
    while (!page.continuationPoint.isEmpty() && pages.size() < 50)
        pages.push_back(found(page = browseNext(p, page.continuationPoint)));
    for (int k = 0; k < 95; ++k)
        all << UaCore::bigItem(k).section(u'.', 1);
    for (int k = 0; k < 95; k += 10)
        expected.push_back(all.mid(k, 10).join(u' ').toStdString());
    EXPECT_EQ(pages, expected);
    for (const QByteArray &point : {first, QByteArray("1-0"), QByteArray()}) // used, made up, empty
        EXPECT_EQ(found(browseNext(p, point)), "BadContinuationPointInvalid");

    // Two may be held at once; the third browse gets none until one is released.
    const auto held = browse(p, {big, big, big}, 10);
    EXPECT_FALSE(held[0].continuationPoint.isEmpty() || held[1].continuationPoint.isEmpty());
    EXPECT_EQ(std::pair(held[2].statusCode, held[2].references.size()),
              std::pair(Status::BadNoContinuationPoints, std::size_t(0)));
    EXPECT_EQ(found(browseNext(p, held[0].continuationPoint, true)), ""); // released: Good, nothing
    EXPECT_FALSE(browse(p, {big}, 10)[0].continuationPoint.isEmpty());
    // Continuation points belong to their session.
    EXPECT_EQ(found(browseNext(ua.client(), held[1].continuationPoint)), "BadContinuationPointInvalid");
    EXPECT_EQ(browseNext(p, held[1].continuationPoint).references.size(), 10u);
}
