// Path queries: registering handlers on paths and dispatching connection changes
// along them.

#include "Data.h"
#include "Snapshot.h"

namespace {
bool Fires(PathNodeRelation kind, bool onConnect)
{
    if (onConnect)
        return kind == PathRequired || kind == PathOnConnect;
    return kind == PathAbsent || kind == PathOnDisconnect;
}

// Keeps discarded registrations allocated until the outermost dispatch ends.
class DispatchDepth
{
public:
    DispatchDepth(int& depth) : depth(depth) { ++depth; }
    ~DispatchDepth() { --depth; }

private:
    int& depth;
};
} // namespace

void Data::GetPathNodePairs(PathNode* node, std::map<TypePair, PathNodePairInfo>& steps) const
{
    for (const auto& child : node->children)
    {
        steps[{node->type, child.first->type}] = PathNodePairInfo{node, child.first, child.second};
        GetPathNodePairs(child.first, steps);
    }
}

void Data::AddPathEventHandler(PathNode* root, EventHandlerBase<ItemPtr>* handler)
{
    std::map<TypePair, PathNodePairInfo> steps;
    GetPathNodePairs(root, steps);
    // Check every reacting step first, so that a throw changes nothing.
    for (const auto& step : steps)
        if (Fires(step.second.kind, true) || Fires(step.second.kind, false))
            step.first.first->GetRelation(step.first.second);

    auto* registration = new PathNodeHandlerInfo{std::move(steps), handler, root};
    pathRegistrations.insert(registration);
    for (const auto& step : registration->steps)
    {
        if (Fires(step.second.kind, true))
            RegisterPathPair(step.first, registration, pathConnectionRegistrations,
                             pathConnectionHandlers, connectionHandlers,
                             &Data::OnPathNodeEventConnection);
        else if (Fires(step.second.kind, false))
            RegisterPathPair(step.first, registration, pathDisconnectionRegistrations,
                             pathDisconnectionHandlers, disconnectionHandlers,
                             &Data::OnPathNodeEventDisconnection);
    }
}

void Data::RegisterPathPair(const TypePair& pair, PathNodeHandlerInfo* registration,
                            PathRegistrations& registrations, PathPairHandlers& pairHandlers,
                            PairHandlers& table, void (Data::*dispatch)(ConnectionInfo&))
{
    if (!pairHandlers.count(pair))
    {
        auto* handler = new EventHandler<Data, ConnectionInfo&>(this, dispatch);
        handlers.insert(handler);
        table[pair].Add(handler);
        pairHandlers[pair] = handler;
    }
    registrations[pair].insert(registration);
}

void Data::UnregisterPathPair(const TypePair& pair, PathNodeHandlerInfo* registration,
                              PathRegistrations& registrations, PathPairHandlers& pairHandlers,
                              PairHandlers& table)
{
    auto registered = registrations.find(pair);
    if (registered == registrations.end())
        return;
    registered->second.erase(registration);
    if (!registered->second.empty())
        return;
    registrations.erase(registered);

    auto pairHandler = pairHandlers.find(pair);
    if (pairHandler == pairHandlers.end())
        return;
    handlers.erase(pairHandler->second);
    auto pairEvent = table.find(pair);
    if (pairEvent != table.end())
    {
        pairEvent->second.Discard(pairHandler->second);
        // An event that is being notified must outlive its walk.
        if (pairEvent->second.Empty() && !pairEvent->second.Notifying())
            table.erase(pairEvent);
    }
    pairHandlers.erase(pairHandler);
}

void Data::RemovePathEventHandler(PathNodeHandlerInfo* registration)
{
    if (registration->discarded)
        return;
    registration->discarded = true;
    for (const auto& step : registration->steps)
    {
        if (Fires(step.second.kind, true))
            UnregisterPathPair(step.first, registration, pathConnectionRegistrations,
                               pathConnectionHandlers, connectionHandlers);
        else if (Fires(step.second.kind, false))
            UnregisterPathPair(step.first, registration, pathDisconnectionRegistrations,
                               pathDisconnectionHandlers, disconnectionHandlers);
    }
    pathRegistrations.erase(registration);
    discardedRegistrations.push_back(registration);
    if (pathDispatchDepth == 0)
        FreeDiscardedRegistrations();
}

void Data::FreeDiscardedRegistrations()
{
    std::vector<PathNodeHandlerInfo*> doomed;
    doomed.swap(discardedRegistrations);
    for (PathNodeHandlerInfo* registration : doomed)
    {
        delete registration->handler;
        delete registration->root;
        delete registration;
    }
}

void Data::OnPathNodeEventConnection(ConnectionInfo& info)
{
    Dispatch(pathConnectionRegistrations, info);
}

void Data::OnPathNodeEventDisconnection(ConnectionInfo& info)
{
    Dispatch(pathDisconnectionRegistrations, info);
}

void Data::Dispatch(PathRegistrations& registrations, ConnectionInfo& info)
{
    const TypePair pair{info.from->type, info.to->type};
    auto found = registrations.find(pair);
    if (found == registrations.end())
        return;
    const Snapshot<PathNodeHandlerInfo*> snapshot(found->second);
    {
        DispatchDepth depth(pathDispatchDepth);
        for (PathNodeHandlerInfo* registration : snapshot)
        {
            if (registration->discarded)
                continue;
            if (registration->handler->removed)
            {
                RemovePathEventHandler(registration);
                continue;
            }
            const PathNodePairInfo& step = registration->steps.at(pair);
            Item* root = nullptr;
            if (!VerifyPathNodeParentNodeConnections(info.from, step.parent, step.child, root))
                continue;
            if (!VerifyPathNodeSubNodeConnections(info.to, step.child, nullptr))
                continue;
            // A check can pass without reaching the root (absent steps above the
            // change); there is then no item to report.
            if (root)
                registration->handler->Handle(ItemPtr(root));
        }
    }
    if (pathDispatchDepth == 0 && !discardedRegistrations.empty())
        FreeDiscardedRegistrations();
}

namespace {
const ItemSet* PartnersOf(Item* item, Type* type)
{
    return item->connections.ItemsOf(type);
}
} // namespace

bool Data::VerifyPathNodeSubNodeConnections(Item* item, PathNode* node, PathNode* excluded) const
{
    if (node->hasValue && item->value.Bytes() != node->value)
        return false;
    for (const auto& child : node->children)
    {
        PathNode* childNode = child.first;
        if (childNode == excluded)
            continue;
        const ItemSet* partners = PartnersOf(item, childNode->type);
        switch (child.second)
        {
        case PathOnConnect:
        case PathOnDisconnect:
            return false;
        case PathRequired:
        case PathRequiredSilent: {
            bool found = false;
            if (partners)
                for (ItemPtr partner : *partners)
                    if (VerifyPathNodeSubNodeConnections(partner, childNode, nullptr))
                    {
                        found = true;
                        break;
                    }
            if (!found)
                return false;
            break;
        }
        case PathAbsent:
        case PathAbsentSilent: {
            if (!partners)
                break;
            bool anyFails = false;
            for (ItemPtr partner : *partners)
                if (!VerifyPathNodeSubNodeConnections(partner, childNode, nullptr))
                {
                    anyFails = true;
                    break;
                }
            if (!anyFails)
                return false;
            break;
        }
        }
    }
    return true;
}

bool Data::VerifyPathNodeParentNodeConnections(Item* item, PathNode* node, PathNode* from,
                                               Item*& root) const
{
    if (!VerifyPathNodeSubNodeConnections(item, node, from))
        return false;
    if (!node->parent)
    {
        root = item;
        return true;
    }
    const ItemSet* partners = PartnersOf(item, node->parent->type);
    switch (node->relation)
    {
    case PathRequired:
    case PathRequiredSilent:
        if (partners)
            for (ItemPtr partner : *partners)
                if (VerifyPathNodeParentNodeConnections(partner, node->parent, node, root))
                    return true;
        return false;
    case PathAbsent:
    case PathAbsentSilent:
        if (!partners)
            return true;
        for (ItemPtr partner : *partners)
            if (!VerifyPathNodeParentNodeConnections(partner, node->parent, node, root))
                return true;
        return false;
    default:
        return false;
    }
}
