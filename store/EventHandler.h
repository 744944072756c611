#pragma once

// Base of every store handler. A handler is owned by the event (or path
// registration) that holds it; its owner only marks it removed.
class EventHandlerRoot
{
public:
    virtual ~EventHandlerRoot() = default;

    bool removed = false;
};

template <class T> class EventHandlerBase : public EventHandlerRoot
{
public:
    virtual void Handle(T argument) = 0;
};

// Calls a member function of its owner.
template <class Owner, class T> class EventHandler : public EventHandlerBase<T>
{
public:
    using Method = void (Owner::*)(T);

    EventHandler(Owner* object, Method method) : object(object), method(method) {}

    void Handle(T argument) override { (object->*method)(argument); }

    Owner* object;
    Method method;
};
