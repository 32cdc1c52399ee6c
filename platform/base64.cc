#include "platform/base64.h"

#include <glib.h>

#include <cstdint>

namespace platform {
namespace {

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

std::string Base64EncodedString(const Data& data) {
  gchar* encoded = g_base64_encode(data.data(), data.size());
  std::string text(encoded ? encoded : "");
  g_free(encoded);
  return text;
}

// By hand: GLib's decoder skips characters outside the alphabet and accepts
// a missing pad, where this one refuses both.
std::optional<Data> Base64DecodedData(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  std::size_t padding = 0;
  if (!text.empty() && text.back() == '=') padding = text[text.size() - 2] == '=' ? 2 : 1;
  Data out;
  out.reserve(text.size() / 4 * 3);
  std::uint32_t bits = 0;
  int count = 0;
  for (std::size_t i = 0; i < text.size() - padding; ++i) {
    const int value = Base64Value(text[i]);
    if (value < 0) return std::nullopt;  // also a "=" before the end
    bits = (bits << 6) | static_cast<std::uint32_t>(value);
    if (++count == 4) {
      out.push_back(static_cast<std::uint8_t>((bits >> 16) & 0xff));
      out.push_back(static_cast<std::uint8_t>((bits >> 8) & 0xff));
      out.push_back(static_cast<std::uint8_t>(bits & 0xff));
      bits = 0;
      count = 0;
    }
  }
  if (count == 3) {  // one "=": two more bytes
    out.push_back(static_cast<std::uint8_t>((bits >> 10) & 0xff));
    out.push_back(static_cast<std::uint8_t>((bits >> 2) & 0xff));
  } else if (count == 2) {  // "==": one more byte
    out.push_back(static_cast<std::uint8_t>((bits >> 4) & 0xff));
  }
  return out;
}

}  // namespace platform
