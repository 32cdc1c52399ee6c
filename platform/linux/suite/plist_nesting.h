#pragma once

#include <cstddef>
#include <string_view>

namespace platform::linux_platform {

// Whether a property list file (XML or binary) is safe to hand to libplist:
// its arrays and dictionaries nest no deeper than `maxDepth`, and a binary
// one expands to no more nodes than it has bytes. libplist parses and frees
// recursively and expands shared binary objects into copies, so a small
// hostile suite could otherwise exhaust the stack or the memory of every
// program that reads it. A suite as the share program writes it nests two
// deep.
bool PlistNestingIsSafe(std::string_view contents, std::size_t maxDepth = 512);

}  // namespace platform::linux_platform
