#pragma once

#include <plist/plist.h>

#include "receive/stored_value.h"

namespace halvernsignet_receive {

// The value under `key` in the suite's top-level dictionary `root`.
StoredValue ValueForKey(plist_t root, const char* key);

}  // namespace halvernsignet_receive
