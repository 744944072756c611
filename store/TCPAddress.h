#pragma once

#include <utility>

// An IPv4 address (host order) and a port, as the server announces a peer.
using TCPAddress = std::pair<unsigned int, int>;
