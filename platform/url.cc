#include "platform/url.h"

#include <glib.h>

#include <memory>

#include "platform/glib_handles.h"

namespace platform {
namespace {

// What may stand unescaped in a file path besides letters, digits and -._~
constexpr const char* kPathCharactersAllowed = "!$&'()*+,;=:@/";

bool IsHexDigit(char c) { return g_ascii_isxdigit(c); }

// The characters a URL text may hold at all; anything else (blanks, controls,
// quotes, braces, non-ASCII) makes the text no URL.
bool HasOnlyURLCharacters(std::string_view text) {
  int fragments = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c <= 0x20 || c >= 0x7f) return false;
    switch (c) {
      case '"': case '<': case '>': case '\\': case '^': case '`':
      case '{': case '|': case '}':
        return false;
      case '#':
        if (++fragments > 1) return false;
        break;
      case '%':
        if (i + 2 >= text.size() || !IsHexDigit(text[i + 1]) || !IsHexDigit(text[i + 2])) return false;
        break;
      default:
        break;
    }
  }
  return true;
}

}  // namespace

struct URL::Parts {
  std::string scheme;
  std::string host;  // still escaped
  std::string path;  // still escaped
};

namespace {

std::shared_ptr<const URL::Parts> Split(const std::string& text) {
  char* scheme = nullptr;
  char* host = nullptr;
  char* path = nullptr;
  if (!g_uri_split(text.c_str(), G_URI_FLAGS_ENCODED, &scheme, nullptr, &host, nullptr, &path, nullptr,
                   nullptr, nullptr)) {
    return nullptr;
  }
  GCharPtr owned_scheme(scheme), owned_host(host), owned_path(path);
  auto parts = std::make_shared<URL::Parts>();
  if (scheme) parts->scheme = scheme;
  if (host) parts->host = host;
  if (path) parts->path = path;
  return parts;
}

}  // namespace

std::string EscapeURLPath(std::string_view path) {
  const std::string copy(path);
  GCharPtr escaped(g_uri_escape_string(copy.c_str(), kPathCharactersAllowed, FALSE));
  return escaped ? std::string(escaped.get()) : std::string();
}

URL URL::fileURLWithPath(std::string_view path, bool isDirectory) {
  std::string absolute(path);
  if (absolute.empty() || absolute.front() != '/') {
    GCharPtr cwd(g_get_current_dir());
    std::string base = cwd ? cwd.get() : "/";
    if (base.back() != '/') base += '/';
    absolute = base + absolute;
  }
  if (isDirectory && absolute.back() != '/') absolute += '/';
  return FromText("file://" + EscapeURLPath(absolute));
}

URL URL::FromText(std::string text) {
  std::shared_ptr<const Parts> parts = Split(text);
  return URL(std::move(text), std::move(parts));
}

std::optional<URL> URL::URLWithString(std::string_view text) {
  if (text.empty() || !HasOnlyURLCharacters(text)) return std::nullopt;
  std::string owned(text);
  std::shared_ptr<const Parts> parts = Split(owned);
  if (!parts) return std::nullopt;
  return URL(std::move(owned), std::move(parts));
}

std::string URL::scheme() const { return parts_ ? parts_->scheme : std::string(); }

bool URL::isLocalFileURL() const {
  const auto& parts = parts_;
  return parts && g_ascii_strcasecmp(parts->scheme.c_str(), "file") == 0 &&
         (parts->host.empty() || g_ascii_strcasecmp(parts->host.c_str(), "localhost") == 0);
}

std::string URL::path() const {
  if (!parts_) return std::string();
  std::string decoded = parts_->path;
  if (GCharPtr unescaped{g_uri_unescape_string(parts_->path.c_str(), nullptr)}) decoded = unescaped.get();
  while (decoded.size() > 1 && decoded.back() == '/') decoded.pop_back();
  return decoded;
}

std::string URL::lastPathComponent() const {
  // Split before decoding, so an escaped "/" (%2F) stays inside the name.
  if (!parts_) return std::string();
  std::string escaped = parts_->path;
  while (escaped.size() > 1 && escaped.back() == '/') escaped.pop_back();
  if (escaped.empty() || escaped == "/") return escaped;
  const auto slash = escaped.rfind('/');
  const std::string last = slash == std::string::npos ? escaped : escaped.substr(slash + 1);
  GCharPtr unescaped{g_uri_unescape_string(last.c_str(), nullptr)};
  return unescaped ? std::string(unescaped.get()) : last;
}

URL URL::appendingPathComponent(std::string_view component) const {
  // Query and fragment, if any, stay after the new path.
  const auto scheme_end = text_.find(':');
  auto rest_at = text_.find_first_of("?#", scheme_end == std::string::npos ? 0 : scheme_end);
  if (rest_at == std::string::npos) rest_at = text_.size();
  std::string base = text_.substr(0, rest_at);
  if (base.empty() || base.back() != '/') base += '/';
  return FromText(base + EscapeURLPath(component) + text_.substr(rest_at));
}

URL URL::deletingLastPathComponent() const {
  const auto scheme_end = text_.find(':');
  auto rest_at = text_.find_first_of("?#", scheme_end == std::string::npos ? 0 : scheme_end);
  if (rest_at == std::string::npos) rest_at = text_.size();
  std::string base = text_.substr(0, rest_at);
  while (base.size() > 1 && base.back() == '/' && base[base.size() - 2] != '/') base.pop_back();
  const auto slash = base.rfind('/');
  if (slash == std::string::npos || (slash > 0 && base[slash - 1] == '/')) return *this;
  return FromText(base.substr(0, slash + 1) + text_.substr(rest_at));
}

}  // namespace platform
