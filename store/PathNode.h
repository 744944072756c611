#pragma once

#include <set>
#include <string>
#include <utility>

#include "ItemPtr.h"

class Data;
class Type;

// The kind of a step of a path: whether a change on it fires the path's
// handler, and how it counts as a condition when another step changes.
enum PathNodeRelation
{
    PathRequired = 0,       // fires on connect; must be present
    PathRequiredSilent = 1, // never fires; must be present
    PathOnConnect = 2,      // fires on connect; fails as a condition
    PathAbsent = 3,         // fires on disconnect; must be absent
    PathAbsentSilent = 4,   // never fires; must be absent
    PathOnDisconnect = 5    // fires on disconnect; fails as a condition
};

// One node of a path query. A node owns its children.
class PathNode
{
public:
    PathNode(Data* store, const char* type);
    explicit PathNode(ItemPtr item);
    PathNode(PathNode* parent, const char* type, PathNodeRelation relation);
    PathNode(PathNode* parent, ItemPtr item, PathNodeRelation relation);
    PathNode(const PathNode&) = delete;
    PathNode& operator=(const PathNode&) = delete;
    ~PathNode();

    Data* const store;
    PathNode* const parent = nullptr;
    const PathNodeRelation relation = PathRequired;
    Type* const type;
    const bool hasValue = false;
    const std::string value;
    std::set<std::pair<PathNode*, PathNodeRelation>> children;
};
