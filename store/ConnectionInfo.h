#pragma once

#include "ItemPtr.h"

// The two items of a connection or disconnection event.
struct ConnectionInfo
{
    ItemPtr from;
    ItemPtr to;
};
