#pragma once

#include <string>
#include <vector>

namespace halvernsignet_receive {

// The value of one key of a suite, in the forms the payload may take.
struct StoredValue {
  enum class Kind {
    absent,   // no such key
    strings,  // an array of strings: `strings`
    data,     // a data value: `bytes`
    other,    // anything else: `description` names it ("an integer", ...)
  };
  Kind kind = Kind::absent;
  std::vector<std::string> strings;
  std::string bytes;
  std::string description;
};

}  // namespace halvernsignet_receive
