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

// The browse names of the references found, in their order, space-separated.
std::string names(const BrowseResult &r)
{
    QStringList out;
    for (const auto &ref : r.references)
        out << ref.browseName.name;
    return out.join(u' ').toStdString();
}

// What a browse found: those names, or its status when it failed.
std::string found(const BrowseResult &r) { return isGood(r.statusCode) ? names(r) : statusName(r.statusCode); }

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

    // The folder "Line" takes the delimiter as a suffix; inverse from an item leads to its folder, both ways to
    // its type as well.
    const NodeId gas(1, QStringLiteral("Line/Zone/Gas"));
    const auto r = browse(p, {describe(NodeId(1, QStringLiteral("Line/"))), describe(gas, 1, 0), describe(gas, 2, 0)});
    EXPECT_EQ((std::vector{found(r[0]), found(r[1]), found(r[2])}),
              (std::vector<std::string>{"Zone Flag", "Zone", "Zone BaseDataVariableType"}));
    EXPECT_TRUE(r[0].references.at(0).referenceTypeId.isNumeric(Id::Organizes) && !r[1].references.at(0).isForward);
    // Items added after the start appear on the next request.
    ua.server.Tags().Add(QStringLiteral("Line/Zone/Late"), AccessRights::Read, ::Variant(false), Quality::Good);
    EXPECT_EQ(names(browse(p, {describe(NodeId(1, QStringLiteral("Line/Zone")))})[0]), "Gas Late");
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
    auto subtypes = [](std::uint32_t type) { return describe(NodeId(0, type), 0, Id::HasSubtype, false); };
    // The type hierarchies hold every type the server's nodes name.
    const struct {
        BrowseDescription node;
        const char *names; // or the status
    } cases[] = {
        {describe(server, 0, Id::HasComponent, false),
         "ServerCapabilities ServerDiagnostics GetMonitoredItems ResendData ServerStatus"},
        {describe(server, 0, Id::HasChild, true), "ServerCapabilities ServerDiagnostics GetMonitoredItems ResendData "
                                                  "ServerArray NamespaceArray ServerStatus ServiceLevel Auditing"},
        {describe(server, 0, Id::HasChild, false), ""}, // no reference is of HasChild itself
        {objectsOnly, "ServerCapabilities ServerDiagnostics"},
        {describe(NodeId(0, Id::Integer), 0, Id::HasSubtype), "SByte Int16 Int32 Int64"},
        {describe(NodeId(0, Id::HasComponent), 1, Id::HasSubtype), "Aggregates"},
        {describe(NodeId(1, QStringLiteral("No.Such"))), "BadNodeIdUnknown"},
        {describe(NodeId(0, Id::RootFolder), 7), "BadBrowseDirectionInvalid"},
        {describe(NodeId(0, Id::RootFolder), 0, Id::Boolean), "BadReferenceTypeIdInvalid"},
        {subtypes(Id::BaseDataType),
         "Boolean Number String DateTime Guid ByteString XmlElement NodeId ExpandedNodeId StatusCode QualifiedName "
         "LocalizedText Structure DataValue DiagnosticInfo Enumeration"},
        {subtypes(Id::Structure), "BuildInfo ServerStatusDataType Argument ServerDiagnosticsSummaryDataType"},
        {subtypes(Id::References), "HierarchicalReferences NonHierarchicalReferences"},
        {subtypes(Id::HierarchicalReferences), "HasChild Organizes HasEventSource"},
        {subtypes(Id::Aggregates), "HasComponent HasProperty"},
        {subtypes(Id::NonHierarchicalReferences), "HasModellingRule HasEncoding HasDescription HasTypeDefinition "
                                                  "GeneratesEvent HasCause HasEffect HasInterface"},
        {subtypes(Id::BaseObjectType),
         "FolderType ServerType ServerCapabilitiesType ModellingRuleType ServerDiagnosticsType"},
        {subtypes(Id::BaseDataVariableType), "ServerStatusType BuildInfoType ServerDiagnosticsSummaryType"}};
    std::vector<BrowseDescription> nodes;
    for (const auto &c : cases)
        nodes.push_back(c.node);
    nodes.push_back(bare);
    const auto r = browse(p, nodes);
    ASSERT_EQ(r.size(), nodes.size());
    for (std::size_t k = 0; k < std::size(cases); ++k)
        EXPECT_EQ(found(r[k]), cases[k].names) << k;
    ASSERT_FALSE(r.back().references.empty());
    const ReferenceDescription &plain = r.back().references[0];
    EXPECT_TRUE(plain.referenceTypeId.isNull() && plain.browseName.name.isNull() && !plain.nodeId.nodeId.isNull());
    BrowseRequest request{{}, {NodeId(0, 12345), 0, 0}, 0, {describe(server)}};
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

TEST(UaBrowse, TranslateBrowsePathsFollowsNamesAndRegisterNodesHandsIdsBack)
{
    UaCore ua;
    ua.addPanelItems();
    ua.start();
    MemoryPeer &p = ua.client();
    // Rows of start node, path of "namespace:name" steps, and what it leads to.
    const QJsonArray rows = uaCases("browsePaths");
    TranslateBrowsePathsToNodeIdsRequest request;
    for (const QJsonValue &row : rows) {
        BrowsePath &path = request.browsePaths.emplace_back(BrowsePath{nodeIdOf(row[0]), {}});
        for (const QString &step : row[1].toString().split(u'/', Qt::SkipEmptyParts))
            path.relativePath.elements.push_back(
                {NodeId(0, Id::HierarchicalReferences), false, true,
                 QualifiedName{std::uint16_t(step.section(u':', 0, 0).toUInt()), step.section(u':', 1)}});
    }
    const auto response = ask<TranslateBrowsePathsToNodeIdsResponse>(p, request);
    ASSERT_EQ(response.results.size(), std::size_t(rows.size()));
    for (std::size_t k = 0; k < response.results.size(); ++k) {
        std::string outcome = statusName(response.results[k].statusCode);
        for (const BrowsePathTarget &t : response.results[k].targets) // the whole path followed: no index left
            outcome +=
                (t.remainingPathIndex == 0xFFFFFFFFu ? " " : " partly ") + t.targetId.nodeId.toString().toStdString();
        EXPECT_EQ(outcome, str(rows[qsizetype(k)][2])) << str(rows[qsizetype(k)][1]);
    }

    RegisterNodesRequest reg{{}, {item("C01.Panel"), NodeId(0, Id::State)}};
    EXPECT_EQ(ask<RegisterNodesResponse>(p, reg).registeredNodeIds, reg.nodesToRegister);
    EXPECT_EQ(p.faultOf(UnregisterNodesRequest{{}, reg.nodesToRegister}), Status::Good);
    EXPECT_EQ(p.faultOf(UnregisterNodesRequest{{}, {}}), Status::BadNothingToDo);
}
