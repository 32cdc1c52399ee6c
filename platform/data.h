#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// A byte buffer (the platform's Data).
using Data = std::vector<std::uint8_t>;

inline Data DataFromString(std::string_view text) { return Data(text.begin(), text.end()); }
inline std::string StringFromData(const Data& data) { return std::string(data.begin(), data.end()); }

}  // namespace platform
