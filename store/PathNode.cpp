#include "PathNode.h"

#include "Data.h"
#include "Item.h"

PathNode::PathNode(Data* store, const char* type) : store(store), type(store->GetType(type))
{}

PathNode::PathNode(ItemPtr item)
    : store(item->type->data), type(item->type), hasValue(true), value(item->value.Bytes())
{}

PathNode::PathNode(PathNode* parent, const char* type, PathNodeRelation relation)
    : store(parent->store), parent(parent), relation(relation), type(store->GetType(type))
{
    parent->children.emplace(this, relation);
}

PathNode::PathNode(PathNode* parent, ItemPtr item, PathNodeRelation relation)
    : store(parent->store), parent(parent), relation(relation), type(item->type), hasValue(true),
      value(item->value.Bytes())
{
    parent->children.emplace(this, relation);
}

PathNode::~PathNode()
{
    for (const auto& child : children)
        delete child.first;
}
