#include "platform/linux/files/run_record.h"

#include <cerrno>
#include <cstdlib>
#include <set>
#include <utility>

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/linux/base/file_tree.h"

namespace platform::linux_platform::run_record {
namespace {

std::string Unescape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    const char next = text[++i];
    out += next == 'n' ? '\n' : next == 't' ? '\t' : next;
  }
  return out;
}

std::string BaseName(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// Temporaries and aside names are hidden names under an absolute path; an
// entry that names anything else is not one this program wrote.
bool IsOwnHiddenName(const std::string& path) {
  return !path.empty() && path.front() == '/' && BaseName(path).size() > 1 && BaseName(path)[0] == '.';
}

}  // namespace

// A record line holds its path last; these three characters would end or
// split it, so they are escaped.
std::string Escape(std::string_view path) {
  std::string out;
  out.reserve(path.size());
  for (char c : path) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      default: out += c;
    }
  }
  return out;
}

std::string IdentityText(const ItemIdentity& id) {
  return std::to_string(id.device) + " " + std::to_string(id.inode) + " " +
         std::to_string(id.modifiedSeconds) + " " + std::to_string(id.modifiedNanoseconds);
}

bool WriteText(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t put = ::write(fd, text.data(), text.size());
    if (put < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    text.remove_prefix(static_cast<std::size_t>(put));
  }
  return true;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

std::optional<Entry> ParseLine(std::string_view line) {
  if (line.size() < 1) return std::nullopt;
  Entry entry;
  entry.kind = line[0];
  if (entry.kind == 'W' || entry.kind == 'U') return entry;
  if (line.size() < 3 || line[1] != ' ') return std::nullopt;
  std::string_view rest = line.substr(2);
  switch (entry.kind) {
    case 'T':
    case 'S':
      entry.path = Unescape(rest);
      return entry;
    case 'A': {
      const auto tab = rest.find('\t');
      if (tab == std::string_view::npos) return std::nullopt;
      entry.path = Unescape(rest.substr(0, tab));
      entry.other = Unescape(rest.substr(tab + 1));
      return entry;
    }
    case 'N':
    case 'R': {
      std::int64_t numbers[4];
      for (std::int64_t& number : numbers) {
        const auto space = rest.find(' ');
        if (space == std::string_view::npos) return std::nullopt;
        const std::string digits(rest.substr(0, space));
        char* end = nullptr;
        errno = 0;
        number = std::strtoll(digits.c_str(), &end, 10);
        if (digits.empty() || *end != '\0' || errno != 0) return std::nullopt;
        rest = rest.substr(space + 1);
      }
      entry.identity = {static_cast<std::uint64_t>(numbers[0]), static_cast<std::uint64_t>(numbers[1]),
                        numbers[2], numbers[3]};
      entry.path = Unescape(rest);
      return entry;
    }
    default:
      return std::nullopt;
  }
}

// The record's entries; none when it lacks its header. A last line without
// its line feed was cut short by the run's end and is ignored.
std::optional<std::vector<Entry>> ReadRecord(int fd) {
  std::string text;
  char buffer[16384];
  for (off_t offset = 0;;) {
    const ssize_t n = ::pread(fd, buffer, sizeof buffer, offset);
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    if (n == 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
    offset += n;
  }
  if (!text.starts_with(kHeader)) return std::nullopt;
  std::vector<Entry> entries;
  for (std::size_t start = kHeader.size();;) {
    const std::size_t end = text.find('\n', start);
    if (end == std::string::npos) break;
    if (auto entry = ParseLine(std::string_view(text).substr(start, end - start))) {
      entries.push_back(std::move(*entry));
    }
    start = end + 1;
  }
  return entries;
}

namespace {

// Removes the item at `path` if it is still the one `identity` describes.
bool RemoveIfSame(const std::string& path, const ItemIdentity& identity, SweepReport& report) {
  StatusOr<ParentAndName> item = OpenParent(path);
  ItemIdentity now;
  if (!item.ok() || !IdentityAt(item->parent.get(), item->name, now) || !(now == identity)) return false;
  if (RemoveTreeAt(item->parent.get(), item->name, path).ok()) {
    ++report.itemsRemoved;
    return true;
  }
  ++report.failures;
  return false;
}

void RemoveIfPresent(const std::string& path, SweepReport& report) {
  if (!IsOwnHiddenName(path) || !Exists(path)) return;
  StatusOr<ParentAndName> item = OpenParent(path);
  if (item.ok() && RemoveTreeAt(item->parent.get(), item->name, path).ok()) {
    ++report.itemsRemoved;
  } else if (Exists(path)) {
    ++report.failures;
  }
}

// Puts an item that was moved aside back under its name, unless that name
// has been filled since (then the aside item was replaced, and goes).
void SettleAside(const std::string& aside, const std::string& original, SweepReport& report) {
  if (!IsOwnHiddenName(aside) || original.empty() || original.front() != '/' || !Exists(aside)) return;
  if (::renameat2(AT_FDCWD, aside.c_str(), AT_FDCWD, original.c_str(), RENAME_NOREPLACE) == 0) {
    ++report.itemsRestored;
    return;
  }
  if ((errno == EINVAL || errno == ENOSYS) && !Exists(original) &&
      ::rename(aside.c_str(), original.c_str()) == 0) {
    ++report.itemsRestored;
    return;
  }
  RemoveIfPresent(aside, report);
}


}  // namespace

// Clears what a record names. `runDied`: the run ended without finishing, so
// the new items it placed are removed unless its suite may name them; a run
// that finished keeps them.
void Clear(const std::vector<Entry>& entries, bool runDied, SweepReport& report,
           const std::unordered_set<std::string>& knownGone) {
  std::vector<const Entry*> placed;  // new items no written suite can name
  std::set<std::pair<std::string, std::string>> replaced;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const Entry& entry = entries[i];
    if (entry.kind == 'N') placed.push_back(&entry);
    if (entry.kind == 'R') replaced.emplace(entry.path, IdentityText(entry.identity));
    if (entry.kind != 'S') continue;
    // Once the rename was under way and the suite's temporary is gone, the
    // suite may name everything placed before.
    bool renaming = false;
    bool failed = false;
    for (std::size_t j = i + 1; j < entries.size() && entries[j].kind != 'S'; ++j) {
      renaming = renaming || entries[j].kind == 'W';
      failed = failed || entries[j].kind == 'U';
    }
    if (renaming && !failed && !Exists(entry.path)) placed.clear();
  }
  // New items first, temporaries last: should this sweep itself be cut short,
  // the next one still finds the suite's temporary and judges the same way.
  if (runDied) {
    for (const Entry* entry : placed) {
      if (replaced.contains({entry->path, IdentityText(entry->identity)})) continue;
      RemoveIfSame(entry->path, entry->identity, report);
    }
  }
  for (const Entry& entry : entries) {
    if (entry.kind == 'A') SettleAside(entry.path, entry.other, report);
  }
  for (const Entry& entry : entries) {
    if (entry.kind == 'S' || (entry.kind == 'T' && !knownGone.contains(entry.path))) {
      RemoveIfPresent(entry.path, report);
    }
  }
}

// Removes the new items a record names that `kept` does not, while each is
// still the item placed; an item that replaced one of its name stays.
void RemoveUnnamed(const std::vector<Entry>& entries, const std::unordered_set<std::string>& kept,
                   SweepReport& report) {
  std::set<std::pair<std::string, std::string>> replaced;
  for (const Entry& entry : entries) {
    if (entry.kind == 'R') replaced.emplace(entry.path, IdentityText(entry.identity));
  }
  for (const Entry& entry : entries) {
    if (entry.kind != 'N' || kept.contains(entry.path)) continue;
    if (replaced.contains({entry.path, IdentityText(entry.identity)})) continue;
    RemoveIfSame(entry.path, entry.identity, report);
  }
}

}  // namespace platform::linux_platform::run_record
