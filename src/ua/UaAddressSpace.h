#pragma once
#include "ua/UaBuiltins.h"
#include "ua/UaNodeIds.h"

#include <QHash>
#include <QString>
#include <climits>
#include <functional>
#include <vector>

class OPCServer;
class OPCItem;

// The nodes this server exposes. Namespace 0 holds the standard nodes a client
// needs (folders, the Server object, the type hierarchies); namespace 1 holds a
// folder per item ID prefix and a Variable per toolkit item. Item Variables are not
// stored as nodes: every attribute comes from the OPCItem when asked, so an item
// costs its place in its folder's reference list and its parent index.
namespace Ua {

// A node handle: >= 0 indexes a stored node, < 0 is an item (-(handle + 1)).
using NodeRef = std::int32_t;
constexpr NodeRef NoNode = INT_MIN;
inline bool isItemRef(NodeRef r) { return r < 0 && r != NoNode; }
inline int itemHandle(NodeRef r) { return -(r + 1); }
inline NodeRef itemRef(int handle) { return -(handle + 1); }

struct Reference {
    std::uint32_t type; // reference type, namespace 0
    bool forward;
    NodeRef target;
};

using ValueSource = std::function<Variant()>;

struct Node {
    NodeId nodeId;
    NodeClass nodeClass = NodeClass::Object;
    QualifiedName browseName;
    LocalizedText displayName;
    LocalizedText description;
    std::vector<Reference> references;
    std::uint32_t typeDefinition = 0; // objects and variables
    // Variables and variable types.
    std::uint32_t dataType = 0;
    std::int32_t valueRank = -1;
    std::uint8_t accessLevel = 1;
    ValueSource value;
    // Types.
    bool isAbstract = false;
    bool symmetric = false;
    LocalizedText inverseName;
    std::uint8_t eventNotifier = 0;
};

class AddressSpace {
public:
    AddressSpace(OPCServer &server, QString namespaceUri);

    const QString &namespaceUri() const { return namespaceUri_; }

    // Namespace 0. Values of the Server object's variables come from the sources the
    // server core passes in, keyed by node id.
    void buildStandard(const QHash<std::uint32_t, ValueSource> &values);
    // Namespace 1: folders and variables for every item created since the last call.
    void syncItems();

    NodeRef resolve(const NodeId &id) const;
    NodeRef standard(std::uint32_t id) const { return ns0_.value(id, NoNode); }
    const Node *node(NodeRef r) const
    {
        return r >= 0 && r < NodeRef(nodes_.size()) ? &nodes_[std::size_t(r)] : nullptr;
    }
    OPCItem *item(NodeRef r) const;
    std::size_t itemCount() const { return itemParent_.size(); }

    NodeId nodeId(NodeRef r) const;
    NodeClass nodeClass(NodeRef r) const;
    QualifiedName browseName(NodeRef r) const;
    LocalizedText displayName(NodeRef r) const;
    std::uint32_t typeDefinition(NodeRef r) const;
    QStringView itemName(const OPCItem &item) const; // last segment of its ID

    // All references of a node, both directions, items' implicit ones included.
    void references(NodeRef r, std::vector<Reference> &out) const;

    // True when type is base or (transitively) a subtype of it.
    bool isSubtypeOf(std::uint32_t type, std::uint32_t base) const;
    bool isReferenceType(std::uint32_t type) const;

    NodeRef addNode(Node node);
    void addReference(NodeRef source, std::uint32_t type, NodeRef target);

private:
    NodeRef folderFor(const QString &prefix);

    OPCServer &server_;
    QString namespaceUri_;
    std::vector<Node> nodes_;
    QHash<std::uint32_t, NodeRef> ns0_;
    QHash<QString, NodeRef> foldersByPrefix_;
    QHash<QString, NodeRef> foldersById_;
    std::vector<NodeRef> itemParent_;
    QHash<std::uint32_t, std::uint32_t> superType_;
};

} // namespace Ua
