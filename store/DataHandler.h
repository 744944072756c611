#pragma once

#include <set>

#include "Event.h"

class PathNode;

// Base of every object that registers store handlers. Its destruction marks
// those handlers removed; the events delete them later.
class DataHandler
{
public:
    DataHandler() = default;
    DataHandler(const DataHandler&) = delete;
    DataHandler& operator=(const DataHandler&) = delete;
    virtual ~DataHandler();

    void RemoveDataHandlers();

    std::set<EventHandlerRoot*> handlers;

protected:
    // Creates a handler calling owner->method, lists it in `handlers` and enters
    // it in the event.
    template <class Owner, class T>
    void Listen(Event<T>& event, Owner* owner, void (Owner::*method)(T))
    {
        auto* handler = new EventHandler<Owner, T>(owner, method);
        handlers.insert(handler);
        event.Add(handler);
    }
};
