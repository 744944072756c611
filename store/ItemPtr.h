#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include <QMetaType>
#include <QString>

#include "Value.h"

class Item;
class ItemSet;
class Type;

// The handle through which items are used: one pointer, null meaning no item.
// It does not keep the item alive. operator[], HasItem and the As* readers
// accept a null handle; every other operation needs a live item.
class ItemPtr
{
public:
    ItemPtr() = default;
    ItemPtr(Item* item) : item(item) {}

    Item* operator->() const { return item; }
    operator Item*() const { return item; }
    Item* Get() const { return item; }
    bool IsNull() const { return item == nullptr; }

    ItemPtr operator[](const char* type) const;
    ItemPtr HasItem(const char* type) const;
    ItemPtr GetItem(const char* type) const;
    ItemSet GetItems(const char* type) const;
    void GetItems(const char* type, ItemSet& into) const;

    std::string AsStdString() const;
    QString AsString() const;
    int AsInt() const;
    unsigned int AsUInt() const;
    long long AsInt64() const;
    unsigned long long AsUInt64() const;

    // Reads back an address that was stored through Value's pointer form.
    template <class T> T* AsPointer() const
    {
        return reinterpret_cast<T*>(static_cast<std::uintptr_t>(AsUInt64()));
    }

    Value GetValue() const;
    Type* GetType() const;

    bool IsConnected(ItemPtr other) const;
    bool IsConnected(const char* type) const;
    bool IsConnected(Type* type) const;
    bool IsDisconnectedFromAll() const;

    ItemPtr Connect(ItemPtr other) const;
    ItemPtr operator+=(ItemPtr other) const { return Connect(other); }
    void Disconnect(ItemPtr other) const;
    ItemPtr operator-=(ItemPtr other) const;
    void Disconnect(const char* type) const;
    ItemPtr NewItem(const char* type) const;
    void Remove() const;

private:
    Item* item = nullptr;
};

Q_DECLARE_METATYPE(ItemPtr)

template <> struct std::hash<ItemPtr>
{
    size_t operator()(ItemPtr item) const noexcept { return std::hash<Item*>()(item.Get()); }
};
