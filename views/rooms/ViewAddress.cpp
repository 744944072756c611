#include "ViewAddress.h"

#include <unordered_set>

namespace ViewAddress {
namespace {
std::unordered_set<const void*>& Live()
{
    static std::unordered_set<const void*> live;
    return live;
}
} // namespace

void Enter(const void* widget)
{
    Live().insert(widget);
}

void Leave(const void* widget)
{
    Live().erase(widget);
}

bool IsLive(const void* widget)
{
    return widget && Live().count(widget) != 0;
}
} // namespace ViewAddress
