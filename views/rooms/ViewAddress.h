#pragma once

#include "ItemPtr.h"
#include "Value.h"

// The views find their open widgets again through store items whose value is the widget's
// address. A widget enters itself while it lives, so that an item left behind by a fault can
// never lead to a deleted widget.
namespace ViewAddress {
void Enter(const void* widget);
void Leave(const void* widget);
bool IsLive(const void* widget);

template <class T> Value Of(T* widget)
{
    return Value(widget);
}

// The live widget whose address the item holds, or null.
template <class T> T* Find(ItemPtr item)
{
    if (item.IsNull())
        return nullptr;
    T* widget = item.AsPointer<T>();
    return IsLive(widget) ? widget : nullptr;
}
} // namespace ViewAddress
