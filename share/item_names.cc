#include "share/item_names.h"

namespace halvernsignet_mobile_Share {
namespace {

constexpr std::size_t kExcerptCharacters = 40;

// Whether the byte starts a character (is not a UTF-8 continuation byte).
bool StartsCharacter(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) != 0x80; }

// Control characters (a line feed in a file name, say) would break the line.
char Printable(char byte) {
  const auto value = static_cast<unsigned char>(byte);
  return value < 0x20 || value == 0x7F ? ' ' : byte;
}

}  // namespace

std::string ItemNameOfURL(const platform::URL& url) {
  std::string name = url.isFileURL() ? url.lastPathComponent() : url.absoluteString();
  for (char& byte : name) byte = Printable(byte);
  return name;
}

std::string ItemNameOfText(std::string_view text) {
  std::string excerpt = "\"";
  std::size_t characters = 0;
  for (std::size_t at = 0; at < text.size(); ++at) {
    const char byte = text[at];
    if (StartsCharacter(byte) && ++characters > kExcerptCharacters) {
      excerpt += "...";
      break;
    }
    excerpt += Printable(byte);
  }
  return excerpt + "\"";
}

}  // namespace halvernsignet_mobile_Share
