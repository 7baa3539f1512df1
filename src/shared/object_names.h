// Names of the kernel objects of one rendezvous: a lower-case prefix followed
// by the rendezvous name, unchanged and case-sensitive.
#pragma once

#include <cstddef>

namespace orvex {

constexpr char kInfoPrefix[] = "info_";
constexpr char kInstallingPrefix[] = "installing_";
constexpr char kSyncPrefix[] = "sync_";
// A mutex the leading check owns while it leads; only the control knows it.
constexpr char kLeaderPrefix[] = "leader_";

// Room for the longest prefix, the longest name and the NUL.
constexpr std::size_t kObjectNameSize = 64;

// Writes prefix + name into out. Returns false, leaving out empty, when the
// result does not fit in outSize bytes.
bool BuildObjectName(const char* prefix, const char* name, char* out, std::size_t outSize);

}  // namespace orvex
