#pragma once

namespace platform::linux_platform {

// The movie module (libhalvernsignet-movies.so) exports one function under
// this name: `AVFoundation* ()`, a new FFmpeg service.
inline constexpr const char* kMovieModuleEntry = "halvernsignet_create_av_foundation";

}  // namespace platform::linux_platform
