#pragma once

// The item types of the distributed search network and the keys of its tree state, written once.
namespace DNetTypes {
constexpr const char* attemptedDNetConnection = "attempted_dnet_connection";
constexpr const char* dnetGlobal = "dnet_global";
constexpr const char* dnetValue = "dnet_value";
constexpr const char* dnetChild = "dnet_child";
constexpr const char* dnetChildDepth = "dnet_child_depth";
constexpr const char* dnetParentCandidate = "dnet_parent_candidate";
constexpr const char* dnetCandidateLevel = "dnet_candidate_level";
constexpr const char* dnetCandidateLeader = "dnet_candidate_leader";
} // namespace DNetTypes

// Keys of the `dnet_global` items: the client's place in the tree.
namespace DNetKeys {
constexpr const char* parentUser = "dnet_parent_user";
constexpr const char* parentSocket = "dnet_parent_socket";
constexpr const char* level = "dnet_level";
constexpr const char* groupLeader = "dnet_group_leader";
constexpr const char* childDepth = "dnet_child_depth";
} // namespace DNetKeys
