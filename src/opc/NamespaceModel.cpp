#include "opc/NamespaceModel.h"
#include "opc/OPCTags.h"

#include <QHash>

NamespaceModel::NamespaceModel(QObject *parent) : QAbstractItemModel(parent) {}

void NamespaceModel::setTags(const OPCTags &tags)
{
    beginResetModel();
    tags_ = &tags;
    built_ = false;
    nodes_.clear();
    texts_.clear();
    topCount_ = 0;
    endResetModel();
}

void NamespaceModel::build() const
{
    if (built_ || !tags_)
        return;
    built_ = true;
    // The nodes in the order they are added, each with the position of its parent.
    struct Added {
        std::uint32_t parent, text, item;
    };
    std::vector<Added> added;
    added.reserve(std::size_t(tags_->Count()) * 9 / 8);
    // Only while building: node keys, level by level ("1-C01-", "1-C01-2-Z1-", ...),
    // so a key is never given twice; and the segments met so far.
    QHash<QString, std::uint32_t> byKey;
    byKey.reserve(qsizetype(added.capacity()));
    QHash<QStringView, std::uint32_t> textIds;
    const auto textOf = [&](QStringView segment) {
        auto found = textIds.constFind(segment);
        if (found == textIds.constEnd()) {
            found = textIds.insert(segment, std::uint32_t(texts_.size()));
            texts_.append(segment.toString());
        }
        return *found;
    };
    const auto isFolder = [&](std::uint32_t n) { return added[n].item == None; };

    for (int position = 0; position < tags_->Count(); ++position) {
        const QString &id = tags_->at(position)->ItemID(); // lives as long as the toolkit
        QStringView rest = id;
        QStringView segment;
        QString key;
        key.reserve(id.size() + 16);
        std::uint32_t parent = None;
        for (int level = 1;; ++level) {
            const qsizetype dot = rest.indexOf(QLatin1Char('.'));
            segment = dot < 0 ? rest : rest.left(dot);
            rest = dot < 0 ? QStringView() : rest.mid(dot + 1);
            key += QString::number(level);
            key += QLatin1Char('-');
            key += segment;
            key += QLatin1Char('-');
            const auto found = byKey.constFind(key);
            if (found != byKey.constEnd() && isFolder(*found)) {
                // An ID that is a folder's path gets one more level with an empty segment.
                parent = *found;
                continue;
            }
            if (rest.isEmpty())
                break;
            if (found != byKey.constEnd())
                continue; // a leaf holds this key: the folder cannot be added
            byKey.insert(key, std::uint32_t(added.size()));
            added.push_back({parent, textOf(segment), None});
            parent = std::uint32_t(added.size() - 1);
        }
        if (byKey.contains(key))
            continue; // duplicate key: the leaf cannot be added
        byKey.insert(key, std::uint32_t(added.size()));
        added.push_back({parent, textOf(segment), std::uint32_t(position)});
    }

    // Lay the nodes out breadth first, so each node's children are one range.
    const std::size_t count = added.size();
    std::vector<std::uint32_t> childCount(count + 1); // the last one counts the top nodes
    for (const Added &a : added)
        ++childCount[a.parent == None ? count : a.parent];
    std::vector<std::uint32_t> groupStart(count + 2); // children of each node, grouped
    for (std::size_t n = 0; n <= count; ++n)
        groupStart[n + 1] = groupStart[n] + childCount[n];
    std::vector<std::uint32_t> grouped(count), cursor(groupStart.begin(), groupStart.end() - 1);
    for (std::uint32_t n = 0; n < count; ++n)
        grouped[cursor[added[n].parent == None ? count : added[n].parent]++] = n;

    std::vector<std::uint32_t> order;        // position -> node as added
    std::vector<std::uint32_t> place(count); // node as added -> position
    order.reserve(count);
    const auto appendChildren = [&](std::size_t of) {
        for (std::uint32_t g = groupStart[of]; g < groupStart[of + 1]; ++g) {
            place[grouped[g]] = std::uint32_t(order.size());
            order.push_back(grouped[g]);
        }
    };
    appendChildren(count);
    topCount_ = childCount[count];
    nodes_.resize(count);
    for (std::size_t at = 0; at < count; ++at) {
        const Added &a = added[order[at]];
        Node &n = nodes_[at];
        n.parent = a.parent == None ? None : place[a.parent];
        n.text = a.text;
        n.item = a.item;
        n.firstChild = std::uint32_t(order.size());
        n.childCount = childCount[order[at]];
        appendChildren(order[at]);
    }
}

QString NamespaceModel::fullPath(const QModelIndex &index) const
{
    if (!index.isValid())
        return {};
    QStringList parts;
    for (std::uint32_t n = std::uint32_t(index.internalId()); n != None; n = nodes_[n].parent)
        parts.prepend(texts_[nodes_[n].text]);
    return parts.join(QLatin1Char('.'));
}

QString NamespaceModel::tag(const QModelIndex &index) const
{
    if (!index.isValid() || node(index).item == None)
        return {};
    return tags_->at(int(node(index).item))->ItemID();
}

QModelIndex NamespaceModel::find(const QString &path) const
{
    build();
    return find(0, topCount_, path.split(QLatin1Char('.')), 0);
}

QModelIndex NamespaceModel::find(std::uint32_t first, std::uint32_t count, const QStringList &segments, int depth) const
{
    for (std::uint32_t n = first; n < first + count; ++n) {
        if (texts_[nodes_[n].text] != segments[depth])
            continue;
        if (depth + 1 == segments.size())
            return indexOf(n);
        if (QModelIndex below = find(nodes_[n].firstChild, nodes_[n].childCount, segments, depth + 1); below.isValid())
            return below;
    }
    return {};
}

QModelIndex NamespaceModel::indexOf(std::uint32_t n) const
{
    const std::uint32_t parent = nodes_[n].parent;
    return createIndex(int(n - (parent == None ? 0 : nodes_[parent].firstChild)), 0, quintptr(n));
}

QModelIndex NamespaceModel::index(int row, int column, const QModelIndex &parent) const
{
    build();
    const std::uint32_t first = parent.isValid() ? node(parent).firstChild : 0;
    const std::uint32_t count = parent.isValid() ? node(parent).childCount : topCount_;
    if (column != 0 || row < 0 || std::uint32_t(row) >= count)
        return {};
    return createIndex(row, 0, quintptr(first + std::uint32_t(row)));
}

QModelIndex NamespaceModel::parent(const QModelIndex &child) const
{
    if (!child.isValid() || node(child).parent == None)
        return {};
    return indexOf(node(child).parent);
}

int NamespaceModel::rowCount(const QModelIndex &parent) const
{
    build();
    if (!parent.isValid())
        return int(topCount_);
    return parent.column() == 0 ? int(node(parent).childCount) : 0;
}

int NamespaceModel::columnCount(const QModelIndex &) const { return 1; }

QVariant NamespaceModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid())
        return {};
    const Node &n = node(index);
    // A folder, and a leaf at the top, show the folder images.
    const bool folderImages = n.item == None || n.parent == None;
    switch (role) {
    case Qt::DisplayRole: return texts_[n.text];
    case TagRole: return tag(index);
    case ImageRole: return folderImages ? 1 : 3;
    case SelectedImageRole: return folderImages ? 2 : 3;
    default: return {};
    }
}
