#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// A URL that keeps the text it was made from, as the platform's URL type does:
// parsing neither removes "." and ".." segments nor decodes escapes. Escapes
// are decoded only where a plain file name or path is asked for. The text is
// split into its parts once, when the URL is made; copies share the parts.
class URL {
 public:
  // A file URL for an absolute path. Every byte of the path that may not
  // stand unescaped in a URL path is percent-escaped (all but letters,
  // digits and -._~!$&'()*+,;=:@/). A relative path is taken relative to
  // the current directory. With isDirectory, the URL ends in "/".
  static URL fileURLWithPath(std::string_view path, bool isDirectory = false);

  // The URL for a text, or none when the text is not a valid URL (blanks,
  // characters outside the URL character set, a malformed scheme or port).
  static std::optional<URL> URLWithString(std::string_view text);

  // The whole URL text: scheme, slashes, escapes as they stand.
  const std::string& absoluteString() const { return text_; }

  // Lower-case scheme, or empty for a relative URL.
  std::string scheme() const;
  bool isFileURL() const { return scheme() == "file"; }
  // A file URL that names a path on this machine: no host, or "localhost".
  // Only such a URL may be read as a path here; file://otherhost/etc/passwd
  // names a file elsewhere, not /etc/passwd.
  bool isLocalFileURL() const;

  // The path with escapes decoded and a trailing "/" removed ("/" stays "/").
  std::string path() const;

  // The last component of path() as a plain file name ("/" for the root,
  // empty for an empty path).
  std::string lastPathComponent() const;

  // This URL with one more path component, escaped as in fileURLWithPath.
  URL appendingPathComponent(std::string_view component) const;

  // This URL without its last path component, ending in "/".
  URL deletingLastPathComponent() const;

  bool operator==(const URL& other) const { return text_ == other.text_; }

  struct Parts;  // the scheme (lower-case), host and path (both still escaped)

 private:
  URL(std::string text, std::shared_ptr<const Parts> parts) : text_(std::move(text)), parts_(std::move(parts)) {}
  // For texts made here, which always split; one that did not would have no parts.
  static URL FromText(std::string text);

  std::string text_;
  std::shared_ptr<const Parts> parts_;
};

// Percent-escapes every byte but letters, digits and -._~!$&'()*+,;=:@/.
std::string EscapeURLPath(std::string_view path);

}  // namespace platform
