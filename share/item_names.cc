#include "share/item_names.h"

#include "platform/one_line.h"

namespace halvernsignet_mobile_Share {
namespace {

constexpr std::size_t kExcerptCharacters = 40;

// Whether the byte starts a character (is not a UTF-8 continuation byte).
bool StartsCharacter(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) != 0x80; }

}  // namespace

std::string ItemNameOfURL(const platform::URL& url) {
  return platform::OneLine(url.isFileURL() ? url.lastPathComponent() : url.absoluteString());
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
    excerpt += platform::OneLineByte(byte);
  }
  return excerpt + "\"";
}

}  // namespace halvernsignet_mobile_Share
