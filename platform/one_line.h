#pragma once

#include <string>
#include <string_view>

namespace platform {

// `text` fit to stand inside one line of a message: every control character
// (a line feed or an escape in a file name, say), which would break the line
// or drive the terminal, is shown as a blank. Every message that repeats a
// name, a path or a text the program was given goes through this.
std::string OneLine(std::string_view text);

// The same for one byte.
char OneLineByte(char byte);

}  // namespace platform
