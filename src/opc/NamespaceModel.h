#pragma once
#include <QAbstractItemModel>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

class OPCTags;

// The tree of the toolkit's items as the window shows it, in the order the nodes
// are added. Folders come from the leading parts of the IDs split at "."; leaves
// are items. Thousands of items: a node keeps only its parent, its children's
// range, its segment (texts shared) and its item; the full path and the tag are
// derived when asked. The tree is built on the first question about it, so a
// window that never shows it pays nothing.
class NamespaceModel : public QAbstractItemModel {
public:
    enum Role {
        TagRole = Qt::UserRole, // the full item ID on leaves, empty on folders
        ImageRole,              // 1 folder, 3 leaf (a leaf at the top looks like a folder)
        SelectedImageRole,      // 2 folder, 3 leaf
    };

    explicit NamespaceModel(QObject *parent = nullptr);

    // Shows the items of `tags`, which must outlive the model.
    void setTags(const OPCTags &tags);

    // The texts from the top down to the node, joined with "." (the item ID,
    // save for an ID whose folder a leaf already held).
    QString fullPath(const QModelIndex &node) const;
    QString tag(const QModelIndex &node) const;
    // The first node, top down, whose full path is `path`; invalid when none.
    QModelIndex find(const QString &path) const;

    QModelIndex index(int row, int column, const QModelIndex &parent = {}) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

private:
    static constexpr std::uint32_t None = UINT32_MAX;
    // Children of a node lie next to each other, in the order they were added.
    struct Node {
        std::uint32_t parent = None;
        std::uint32_t firstChild = 0;
        std::uint32_t childCount = 0;
        std::uint32_t text = 0;    // in texts_
        std::uint32_t item = None; // the item's position in the toolkit; None on folders
    };

    void build() const;
    const Node &node(const QModelIndex &index) const { return nodes_[std::size_t(index.internalId())]; }
    QModelIndex indexOf(std::uint32_t node) const;
    QModelIndex find(std::uint32_t first, std::uint32_t count, const QStringList &segments, int depth) const;

    const OPCTags *tags_ = nullptr;
    mutable bool built_ = false;
    mutable std::vector<Node> nodes_;
    mutable std::uint32_t topCount_ = 0; // the top nodes come first
    mutable QStringList texts_;          // each distinct segment once
};
