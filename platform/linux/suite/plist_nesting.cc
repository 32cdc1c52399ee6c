#include "platform/linux/suite/plist_nesting.h"

#include <cstdint>
#include <utility>
#include <vector>

namespace platform::linux_platform {
namespace {

constexpr std::string_view kBinaryMagic = "bplist00";

bool StartsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

// The element name right after "<" or "</" at `at`.
std::string_view NameAt(std::string_view text, std::size_t at) {
  std::size_t end = at;
  while (end < text.size() && text[end] != '>' && text[end] != '/' && text[end] != ' ' && text[end] != '\t' &&
         text[end] != '\n' && text[end] != '\r') {
    ++end;
  }
  return text.substr(at, end - at);
}

bool XmlNestingIsSafe(std::string_view text, std::size_t maxDepth) {
  std::size_t depth = 0;
  std::size_t i = 0;
  while ((i = text.find('<', i)) != std::string_view::npos) {
    const std::string_view rest = text.substr(i);
    std::string_view closer = ">";
    if (StartsWith(rest, "<!--")) closer = "-->";
    else if (StartsWith(rest, "<![CDATA[")) closer = "]]>";
    const std::size_t end = text.find(closer, i + 1);
    if (end == std::string_view::npos) return true;  // unterminated: the parser will refuse it
    const bool closing = StartsWith(rest, "</");
    const std::string_view name = NameAt(text, i + (closing ? 2 : 1));
    const bool container = name == "array" || name == "dict";
    const bool selfClosing = !closing && text[end - 1] == '/';
    if (container && closing && depth > 0) --depth;
    if (container && !closing && !selfClosing && ++depth > maxDepth) return false;
    i = end + closer.size();
  }
  return true;
}

std::uint64_t BigEndian(std::string_view bytes, std::size_t at, std::size_t size) {
  std::uint64_t value = 0;
  for (std::size_t k = 0; k < size; ++k) value = (value << 8) | static_cast<unsigned char>(bytes[at + k]);
  return value;
}

// Walks the object graph from the top object without recursion, counting
// every node libplist would build.
bool BinaryNestingIsSafe(std::string_view bytes, std::size_t maxDepth) {
  constexpr std::size_t kTrailer = 32;
  if (bytes.size() < kBinaryMagic.size() + kTrailer) return true;  // the parser will refuse it
  const std::size_t trailer = bytes.size() - kTrailer;
  const std::size_t offsetSize = static_cast<unsigned char>(bytes[trailer + 6]);
  const std::size_t refSize = static_cast<unsigned char>(bytes[trailer + 7]);
  const std::uint64_t objects = BigEndian(bytes, trailer + 8, 8);
  const std::uint64_t top = BigEndian(bytes, trailer + 16, 8);
  const std::uint64_t table = BigEndian(bytes, trailer + 24, 8);
  if (offsetSize == 0 || offsetSize > 8 || refSize == 0 || refSize > 8 || top >= objects ||
      table >= trailer || objects > (trailer - table) / offsetSize) {
    return true;  // malformed: the parser will refuse it
  }

  std::uint64_t budget = bytes.size();  // nodes libplist may build
  std::vector<std::pair<std::uint64_t, std::size_t>> pending{{top, 1}};
  while (!pending.empty()) {
    const auto [object, depth] = pending.back();
    pending.pop_back();
    if (budget-- == 0 || depth > maxDepth) return false;
    if (object >= objects) continue;
    const std::uint64_t offset = BigEndian(bytes, table + object * offsetSize, offsetSize);
    if (offset >= table) continue;
    const unsigned marker = static_cast<unsigned char>(bytes[offset]);
    const unsigned kind = marker >> 4;
    if (kind != 0xA && kind != 0xC && kind != 0xD) continue;  // not a collection
    std::uint64_t count = marker & 0xF;
    std::uint64_t at = offset + 1;
    if (count == 0xF) {
      if (at >= table) continue;
      const unsigned intMarker = static_cast<unsigned char>(bytes[at]);
      const std::size_t intSize = std::size_t{1} << (intMarker & 0xF);
      if ((intMarker >> 4) != 0x1 || intSize > 8 || at + 1 + intSize > table) continue;
      count = BigEndian(bytes, at + 1, intSize);
      at += 1 + intSize;
    }
    const std::uint64_t refs = kind == 0xD ? count * 2 : count;
    if (count > table || refs > (table - at) / refSize) continue;  // the parser will refuse it
    for (std::uint64_t r = 0; r < refs; ++r) {
      pending.emplace_back(BigEndian(bytes, at + r * refSize, refSize), depth + 1);
      if (pending.size() > budget) return false;
    }
  }
  return true;
}

}  // namespace

bool PlistNestingIsSafe(std::string_view contents, std::size_t maxDepth) {
  if (StartsWith(contents, kBinaryMagic)) return BinaryNestingIsSafe(contents, maxDepth);
  return XmlNestingIsSafe(contents, maxDepth);
}

}  // namespace platform::linux_platform
