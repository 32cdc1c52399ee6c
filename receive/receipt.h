#pragma once

#include <optional>
#include <string>
#include <vector>

#include "share/shared_media_file.h"

namespace halvernsignet_receive {

using halvernsignet_mobile_Share::SharedMediaFile;
using halvernsignet_mobile_Share::SharedMediaType;

// One record of a media list, with what checking it against the container
// found.
struct ReceivedMedia {
  SharedMediaFile record;
  // Why the host application cannot import the record: its path or its
  // thumbnail is not a file URL naming something that exists inside the
  // container. None when it can.
  std::optional<std::string> problem;

  bool missing() const { return problem.has_value(); }
};

// What was found under "ShareKey". The outcomes' values are the exit
// statuses of halvernsignet-receive.
struct Receipt {
  enum class Outcome {
    read = 0,     // a payload: `kind` and its list
    failed = 1,   // the suite could not be read or written, or the payload was refused: `error`
    nothing = 3,  // no suite, or nothing under the key
  };
  enum class Kind { text, media };

  Outcome outcome = Outcome::nothing;
  std::string error;
  Kind kind = Kind::text;
  std::vector<std::string> texts;    // kind text: the texts and links, in order
  std::vector<ReceivedMedia> media;  // kind media: the records, in order

  static Receipt Failed(std::string why) {
    Receipt receipt;
    receipt.outcome = Outcome::failed;
    receipt.error = std::move(why);
    return receipt;
  }
};

}  // namespace halvernsignet_receive
