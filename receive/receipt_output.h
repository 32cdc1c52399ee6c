#pragma once

#include <string>

#include "receive/receipt.h"

namespace halvernsignet_receive {

// One line of JSON for a receipt that was read:
//   {"kind":"text","texts":[...]}
//   {"kind":"media","records":[{"path":...,"thumbnail":...,"duration":...,"type":1,"missing":false}]}
// A record that is missing also carries "problem"; absent thumbnails and
// durations are left out, as in the payload.
std::string ReceiptJson(const Receipt& receipt);

// A short table for people, one line per text or record; control
// characters in texts are shown escaped so each stays on its line.
std::string ReceiptTable(const Receipt& receipt);

// "image", "video" or "file".
const char* TypeName(SharedMediaType type);

}  // namespace halvernsignet_receive
