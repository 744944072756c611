#pragma once

#include <map>
#include <set>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "ConnectionInfo.h"
#include "DataHandler.h"
#include "Event.h"
#include "Item.h"
#include "ItemPtr.h"
#include "ItemSet.h"
#include "PathNode.h"
#include "RelationInfo.h"
#include "StoreExceptions.h"
#include "Type.h"
#include "Value.h"

// The item store: every type and item of the running client. There is one,
// the global `d`; tests may make stores of their own.
class Data : public DataHandler
{
public:
    using TypePair = std::pair<Type*, Type*>;

    // One step of a path registration.
    struct PathNodePairInfo
    {
        PathNode* parent = nullptr;
        PathNode* child = nullptr;
        PathNodeRelation kind = PathRequired;
    };

    // A handler registered on a path, with the path it owns.
    struct PathNodeHandlerInfo
    {
        std::map<TypePair, PathNodePairInfo> steps;
        EventHandlerBase<ItemPtr>* handler = nullptr;
        PathNode* root = nullptr;
        bool discarded = false;
    };

    // While a guard lives, removed items stay allocated (and are reported dead
    // by IsAlive), so code walking a copy of a set, or the rest of an event's
    // handlers, never meets freed memory.
    class WalkGuard
    {
    public:
        explicit WalkGuard(Data& store) : store(store) { ++store.walkDepth; }
        WalkGuard(const WalkGuard&) = delete;
        WalkGuard& operator=(const WalkGuard&) = delete;
        ~WalkGuard()
        {
            if (--store.walkDepth == 0 && !store.buried.empty())
                store.FreeBuried();
        }

    private:
        Data& store;
    };

    Data() = default;
    ~Data() override;

    Type* NewType(const std::string& name, Primacy primacy, bool isNull, bool autoCreate);
    Type* GetType(const char* name) const;
    Type* GetType(const std::string& name) const { return GetType(name.c_str()); }
    Type* HasType(const char* name) const;
    Type* HasType(const std::string& name) const { return HasType(name.c_str()); }
    void GetTypes(std::map<std::string, Type*>& into) const;
    void GetTypeOwningTypes(Type* type, std::set<Type*>& owners) const;
    void RemoveAllItems();

    // Removes the items of owned types that lack an owner, and the items that
    // no chain of connections reaches from an item of a root type.
    void RemoveDisconnectedItems();
    // Takes the item, and everything reachable from it, out of the candidates.
    void MarkItemConnections(Item* item);
    // Rebuilds every type's index and every item's connections in fresh memory,
    // without events. Items keep their addresses, so handles held outside the
    // store stay valid.
    void Renew();

    void AddConnectionEventHandler(Type* a, Type* b, EventHandlerBase<ConnectionInfo&>* handler);
    void AddDisconnectionEventHandler(Type* a, Type* b, EventHandlerBase<ConnectionInfo&>* handler);
    void NotifyConnectionEventHandlers(Item* x, Item* y);
    void NotifyDisconnectionEventHandlers(Item* x, Item* y);
    // Takes ownership of the path and the handler; on a throw it takes neither.
    void AddPathEventHandler(PathNode* root, EventHandlerBase<ItemPtr>* handler);

    // Registration helpers: each makes the handler, lists it in the owner's
    // handler set and registers it.
    template <class Owner>
    void AddConnectionHandler(Type* a, Type* b, Owner* owner,
                              void (Owner::*method)(ConnectionInfo&))
    {
        AddPairHandler(a, b, owner, method, connectionHandlers);
    }
    template <class Owner>
    void AddDisconnectionHandler(Type* a, Type* b, Owner* owner,
                                 void (Owner::*method)(ConnectionInfo&))
    {
        AddPairHandler(a, b, owner, method, disconnectionHandlers);
    }
    template <class Owner>
    void AddPathHandler(PathNode* root, Owner* owner, void (Owner::*method)(ItemPtr))
    {
        auto* handler = new EventHandler<Owner, ItemPtr>(owner, method);
        try
        {
            AddPathEventHandler(root, handler);
        }
        catch (...)
        {
            delete handler;
            delete root;
            throw;
        }
        owner->handlers.insert(handler);
    }

    ItemSet GetItems(const ItemSet& set, const char* type) const;
    ItemSet GetItemSubset(const ItemSet& set, const char* type) const;
    ItemSet GetItems(ItemPtr a, ItemPtr b, const char* type) const;
    ItemPtr GetItem(const ItemSet& set, const char* type) const;
    ItemPtr GetItem(ItemPtr a, ItemPtr b, const char* type) const;

    bool IsAlive(Item* item) const { return buried.empty() || buried.count(item) == 0; }
    // Frees a removed item now, or when the outermost walk ends.
    void Bury(Item* item);

    void GetPathNodePairs(PathNode* root, std::map<TypePair, PathNodePairInfo>& steps) const;
    bool VerifyPathNodeSubNodeConnections(Item* item, PathNode* node, PathNode* excluded) const;
    bool VerifyPathNodeParentNodeConnections(Item* item, PathNode* node, PathNode* from,
                                             Item*& root) const;
    void OnPathNodeEventConnection(ConnectionInfo& info);
    void OnPathNodeEventDisconnection(ConnectionInfo& info);
    void RemovePathEventHandler(PathNodeHandlerInfo* registration);

    Event<ItemPtr> itemAdded;
    Event<ItemPtr> itemRemoved;

private:
    using PairHandlers = std::map<TypePair, Event<ConnectionInfo&>>;
    using PathRegistrations = std::map<TypePair, std::set<PathNodeHandlerInfo*>>;
    using PathPairHandlers = std::map<TypePair, EventHandlerBase<ConnectionInfo&>*>;

    template <class Owner>
    void AddPairHandler(Type* a, Type* b, Owner* owner, void (Owner::*method)(ConnectionInfo&),
                        PairHandlers& table)
    {
        a->GetRelation(b);
        auto* handler = new EventHandler<Owner, ConnectionInfo&>(owner, method);
        owner->handlers.insert(handler);
        table[{a, b}].Add(handler);
    }

    static void Notify(PairHandlers& table, Item* from, Item* to);
    void Dispatch(PathRegistrations& registrations, ConnectionInfo& info);
    void RegisterPathPair(const TypePair& pair, PathNodeHandlerInfo* registration,
                          PathRegistrations& registrations, PathPairHandlers& pairHandlers,
                          PairHandlers& table, void (Data::*dispatch)(ConnectionInfo&));
    void UnregisterPathPair(const TypePair& pair, PathNodeHandlerInfo* registration,
                            PathRegistrations& registrations, PathPairHandlers& pairHandlers,
                            PairHandlers& table);
    void FreeBuried();
    void FreeDiscardedRegistrations();

    std::map<std::string, Type*, std::less<>> types;
    PairHandlers connectionHandlers;
    PairHandlers disconnectionHandlers;
    PathRegistrations pathConnectionRegistrations;
    PathPairHandlers pathConnectionHandlers;
    PathRegistrations pathDisconnectionRegistrations;
    PathPairHandlers pathDisconnectionHandlers;
    std::set<PathNodeHandlerInfo*> pathRegistrations;

    // Items not yet proven reachable, during RemoveDisconnectedItems.
    ItemSet candidates;

    int walkDepth = 0;
    std::unordered_set<Item*> buried;
    int pathDispatchDepth = 0;
    std::vector<PathNodeHandlerInfo*> discardedRegistrations;
};

extern Data d;

// All items of the named type of `d`.
ItemSet g(const char* type);
// The item of the named valued type of `d` with that value, as a set (empty when
// there is none); never creates.
ItemSet i(const char* type, const Value& value);
