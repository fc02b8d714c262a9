// View service set: Browse, BrowseNext with continuation points,
// TranslateBrowsePathsToNodeIds, RegisterNodes and UnregisterNodes.
#include "opc/OPCServer.h"
#include "ua/UaServerCore.h"

#include <QRandomGenerator>

namespace Ua {

namespace {
enum ResultMask : std::uint32_t {
    ReferenceTypeBit = 0x01,
    IsForwardBit = 0x02,
    NodeClassBit = 0x04,
    BrowseNameBit = 0x08,
    DisplayNameBit = 0x10,
    TypeDefinitionBit = 0x20
};

constexpr std::size_t MaxTranslateTargets = 1000;
} // namespace

void ServerCore::browseNode(Session &session, const BrowseDescription &description, std::uint32_t maxReferences,
                            std::size_t offset, NodeRef node, BrowseResult &result)
{
    const bool anyType = description.referenceTypeId.isNull();
    const std::uint32_t filterType = description.referenceTypeId.numeric;
    addressSpace_.references(node, referenceScratch_);
    result.references.reserve(maxReferences ? std::min<std::size_t>(maxReferences, referenceScratch_.size())
                                            : referenceScratch_.size());
    std::size_t matched = 0;
    bool more = false;
    for (const Reference &ref : referenceScratch_) {
        if (description.browseDirection == 0 && !ref.forward)
            continue;
        if (description.browseDirection == 1 && ref.forward)
            continue;
        if (!anyType &&
            !(description.includeSubtypes ? addressSpace_.isSubtypeOf(ref.type, filterType) : ref.type == filterType))
            continue;
        const NodeClass targetClass = addressSpace_.nodeClass(ref.target);
        if (description.nodeClassMask != 0 && (description.nodeClassMask & std::uint32_t(targetClass)) == 0)
            continue;
        if (matched++ < offset)
            continue;
        if (maxReferences != 0 && result.references.size() >= maxReferences) {
            more = true;
            break;
        }
        ReferenceDescription &rd = result.references.emplace_back();
        const std::uint32_t mask = description.resultMask;
        if (mask & ReferenceTypeBit)
            rd.referenceTypeId = NodeId(0, ref.type);
        rd.isForward = (mask & IsForwardBit) ? ref.forward : false;
        rd.nodeId = addressSpace_.nodeId(ref.target);
        if (mask & NodeClassBit)
            rd.nodeClass = std::int32_t(targetClass);
        if (mask & (BrowseNameBit | DisplayNameBit)) {
            if (const OPCItem *it = addressSpace_.item(ref.target)) {
                // The name points into the item's ID, which outlives this response (it
                // is encoded before the next event): no copy for each of the 7,648 items.
                const QStringView view = addressSpace_.itemName(*it);
                const QString name = QString::fromRawData(view.data(), view.size());
                if (mask & BrowseNameBit)
                    rd.browseName = QualifiedName{1, name};
                if (mask & DisplayNameBit)
                    rd.displayName = LocalizedText{QString(), name};
            } else {
                if (mask & BrowseNameBit)
                    rd.browseName = addressSpace_.browseName(ref.target);
                if (mask & DisplayNameBit)
                    rd.displayName = addressSpace_.displayName(ref.target);
            }
        }
        if ((mask & TypeDefinitionBit) && (targetClass == NodeClass::Object || targetClass == NodeClass::Variable)) {
            if (const std::uint32_t t = addressSpace_.typeDefinition(ref.target))
                rd.typeDefinition = NodeId(0, t);
        }
    }
    if (!more)
        return;
    if (int(session.continuationPoints.size()) >= config_.maxContinuationPoints) {
        result.references.clear();
        result.statusCode = Status::BadNoContinuationPoints;
        return;
    }
    ContinuationPoint cp;
    cp.id = QByteArray::number(qulonglong(nextContinuationPoint_++), 16) + '-' +
            QByteArray::number(QRandomGenerator::global()->generate64(), 16);
    cp.node = node;
    cp.description = description;
    cp.maxReferences = maxReferences;
    cp.offset = offset + result.references.size();
    result.continuationPoint = cp.id;
    session.continuationPoints.push_back(std::move(cp));
}

void ServerCore::browse(RequestContext &context, const BrowseRequest &request, BrowseResponse &response)
{
    if (!request.view.viewId.isNull())
        throw ServiceError{Status::BadViewIdUnknown};
    response.results.resize(request.nodesToBrowse.size());
    for (std::size_t k = 0; k < request.nodesToBrowse.size(); ++k) {
        const BrowseDescription &description = request.nodesToBrowse[k];
        BrowseResult &result = response.results[k];
        const NodeRef node = addressSpace_.resolve(description.nodeId);
        if (node == NoNode) {
            result.statusCode = Status::BadNodeIdUnknown;
            continue;
        }
        if (description.browseDirection < 0 || description.browseDirection > 2) {
            result.statusCode = Status::BadBrowseDirectionInvalid;
            continue;
        }
        if (!description.referenceTypeId.isNull() &&
            (description.referenceTypeId.ns != 0 || description.referenceTypeId.kind != NodeId::Kind::Numeric ||
             !addressSpace_.isReferenceType(description.referenceTypeId.numeric))) {
            result.statusCode = Status::BadReferenceTypeIdInvalid;
            continue;
        }
        browseNode(*context.session, description, request.requestedMaxReferencesPerNode, 0, node, result);
    }
    if (traceOn(4))
        trace(4, QStringLiteral("UA Browse of %1 nodes").arg(request.nodesToBrowse.size()));
}

void ServerCore::browseNext(RequestContext &context, const BrowseNextRequest &request, BrowseNextResponse &response)
{
    Session &session = *context.session;
    response.results.resize(request.continuationPoints.size());
    for (std::size_t k = 0; k < request.continuationPoints.size(); ++k) {
        BrowseResult &result = response.results[k];
        auto it = std::find_if(session.continuationPoints.begin(), session.continuationPoints.end(),
                               [&](const ContinuationPoint &cp) { return cp.id == request.continuationPoints[k]; });
        if (it == session.continuationPoints.end()) {
            result.statusCode = Status::BadContinuationPointInvalid;
            continue;
        }
        ContinuationPoint cp = std::move(*it);
        session.continuationPoints.erase(it);
        if (request.releaseContinuationPoints)
            continue;
        browseNode(session, cp.description, cp.maxReferences, cp.offset, cp.node, result);
    }
}

void ServerCore::translateBrowsePaths(RequestContext &, const TranslateBrowsePathsToNodeIdsRequest &request,
                                      TranslateBrowsePathsToNodeIdsResponse &response)
{
    response.results.resize(request.browsePaths.size());
    std::vector<NodeRef> current, next;
    for (std::size_t k = 0; k < request.browsePaths.size(); ++k) {
        const BrowsePath &path = request.browsePaths[k];
        BrowsePathResult &result = response.results[k];
        const NodeRef start = addressSpace_.resolve(path.startingNode);
        if (start == NoNode) {
            result.statusCode = Status::BadNodeIdUnknown;
            continue;
        }
        const auto &elements = path.relativePath.elements;
        if (elements.empty()) {
            result.statusCode = Status::BadNothingToDo;
            continue;
        }
        current.assign(1, start);
        for (const RelativePathElement &element : elements) {
            if (element.targetName.name.isEmpty()) {
                result.statusCode = Status::BadBrowseNameInvalid;
                break;
            }
            const bool anyType = element.referenceTypeId.isNull();
            next.clear();
            for (NodeRef node : current) {
                addressSpace_.references(node, referenceScratch_);
                for (const Reference &ref : referenceScratch_) {
                    if (ref.forward == element.isInverse)
                        continue;
                    if (!anyType &&
                        !(element.includeSubtypes ? addressSpace_.isSubtypeOf(ref.type, element.referenceTypeId.numeric)
                                                  : element.referenceTypeId.isNumeric(ref.type)))
                        continue;
                    if (std::find(next.begin(), next.end(), ref.target) != next.end())
                        continue;
                    if (addressSpace_.browseName(ref.target) == element.targetName && next.size() < MaxTranslateTargets)
                        next.push_back(ref.target);
                }
            }
            current.swap(next);
            if (current.empty()) {
                result.statusCode = Status::BadNoMatch;
                break;
            }
        }
        if (result.statusCode != Status::Good)
            continue;
        for (NodeRef target : current)
            result.targets.push_back(BrowsePathTarget{ExpandedNodeId(addressSpace_.nodeId(target)), 0xFFFFFFFFu});
    }
}

void ServerCore::registerNodes(RequestContext &, const RegisterNodesRequest &request, RegisterNodesResponse &response)
{
    // Every NodeId here is already cheap to resolve: registering hands the same ids back.
    response.registeredNodeIds = request.nodesToRegister;
}

void ServerCore::unregisterNodes(RequestContext &, const UnregisterNodesRequest &, UnregisterNodesResponse &) {}

} // namespace Ua
