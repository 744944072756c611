#pragma once

#include <algorithm>
#include <vector>

#include "EventHandler.h"
#include "Snapshot.h"

// A set of handlers, ordered by their identity. A handler marked removed is
// never called again and is deleted lazily; while a notification of this event
// is running (possibly nested), deletions wait until the outermost one ends, so
// no walk in progress can meet freed memory.
template <class T> class Event
{
public:
    using Handler = EventHandlerBase<T>;

    Event() = default;
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;
    ~Event()
    {
        for (Handler* handler : handlers)
            delete handler;
        for (Handler* handler : retired)
            delete handler;
    }

    void Add(Handler* handler)
    {
        auto position = std::lower_bound(handlers.begin(), handlers.end(), handler);
        if (position == handlers.end() || *position != handler)
            handlers.insert(position, handler);
    }

    // Takes the handler out without calling it again; it is deleted at once or,
    // during a notification, when the outermost notification ends.
    void Discard(Handler* handler)
    {
        handler->removed = true;
        if (Erase(handler))
            Retire(handler);
    }

    bool Empty() const { return handlers.empty(); }
    bool Notifying() const { return depth > 0; }
    size_t Size() const { return handlers.size(); }

    template <class Argument> void Notify(Argument&& argument)
    {
        if (handlers.empty())
            return;
        // Handlers may register or retire handlers of this event while it runs.
        const Snapshot<Handler*> snapshot(handlers);
        ++depth;
        for (Handler* handler : snapshot)
        {
            if (!handler->removed)
            {
                handler->Handle(argument);
                continue;
            }
            if (Erase(handler))
                Retire(handler);
        }
        if (--depth == 0)
            DeleteRetired();
    }

private:
    bool Erase(Handler* handler)
    {
        auto position = std::lower_bound(handlers.begin(), handlers.end(), handler);
        if (position == handlers.end() || *position != handler)
            return false;
        handlers.erase(position);
        return true;
    }

    void Retire(Handler* handler)
    {
        if (depth == 0)
            delete handler;
        else
            retired.push_back(handler);
    }

    void DeleteRetired()
    {
        std::vector<Handler*> doomed;
        doomed.swap(retired);
        for (Handler* handler : doomed)
            delete handler;
    }

    std::vector<Handler*> handlers; // sorted by address
    std::vector<Handler*> retired;
    int depth = 0;
};
