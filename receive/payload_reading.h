#pragma once

#include <string>

#include "receive/receipt.h"
#include "receive/stored_value.h"

namespace halvernsignet_receive {

// Turns the value under "ShareKey" into a receipt: a list of strings is the
// texts; data is the JSON media list, read by the record reading rules and
// refused whole (with the reason) when any record is bad; anything else is
// refused. Every record is then checked against `containerDirectory`.
Receipt ReadPayload(const StoredValue& value, const std::string& containerDirectory);

// Why the URL text `urlText` cannot name a file of the container: not a
// local file URL, outside the container (after following links), nothing
// there, or a folder holding a link that leads out of the container. None
// when it names an existing file or folder inside it.
std::optional<std::string> ProblemWithContainerFile(const std::string& urlText,
                                                    const std::string& containerDirectory);

}  // namespace halvernsignet_receive
