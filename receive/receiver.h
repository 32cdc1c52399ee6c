#pragma once

#include <functional>
#include <string>

#include "receive/receipt.h"

namespace halvernsignet_receive {

// Where the suite and the container of an app group are.
struct ReceiveOptions {
  std::string appGroupIdentifier;  // "group." + the host application's bundle identifier
  std::string configHome;          // the suite is <configHome>/<group>.plist
  std::string dataHome;            // the container is <dataHome>/group-containers/<group>/
  // Read and remove "ShareKey" in one step, so that one payload is taken
  // once however many readers run; every other key is kept.
  bool take = false;
  // Called with a payload that was read, while the lock is still held; with
  // `take`, the payload is removed only when it returns true (it was handed
  // on whole), so a reader that dies or fails on the way loses nothing.
  std::function<bool(const Receipt&)> deliver;
};

// The options for `appGroupIdentifier` by the same rules halvernsignet-share
// follows: $XDG_CONFIG_HOME (else ~/.config) and $XDG_DATA_HOME (else
// ~/.local/share).
ReceiveOptions DefaultReceiveOptions(std::string appGroupIdentifier);

// Reads (or takes) the payload under "ShareKey" under the suite's lock:
// shared to read, exclusive to take. A payload that is refused is not taken.
Receipt Receive(const ReceiveOptions& options);

// The container directory of the options' app group.
std::string ContainerDirectory(const ReceiveOptions& options);

}  // namespace halvernsignet_receive
