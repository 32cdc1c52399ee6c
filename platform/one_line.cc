#include "platform/one_line.h"

namespace platform {

char OneLineByte(char byte) {
  const auto value = static_cast<unsigned char>(byte);
  return value < 0x20 || value == 0x7F ? ' ' : byte;
}

std::string OneLine(std::string_view text) {
  std::string line(text);
  for (char& byte : line) byte = OneLineByte(byte);
  return line;
}

}  // namespace platform
