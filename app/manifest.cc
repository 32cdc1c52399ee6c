#include "app/manifest.h"

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/base64.h"
#include "platform/status_or.h"
#include "platform/url.h"

namespace app {
namespace {

using nlohmann::json;
using platform::Status;
using platform::StatusOr;

// A refusal of the manifest: the first problem met, and the parse stops there.
Status Refusal(std::string message) { return Status::InvalidArgument(std::move(message)); }

std::string TypeName(const json& value) { return value.type_name(); }

constexpr std::array<const char*, 4> kPayloadKeys = {"string", "url", "data", "error"};

Status RequireOnlyKeys(const json& object, std::initializer_list<std::string_view> allowed, const std::string& where) {
  for (const auto& [key, value] : object.items()) {
    bool known = false;
    for (auto name : allowed) known = known || key == name;
    if (!known) return Refusal(where + ": unknown key \"" + key + "\"");
  }
  return Status::OK();
}

StatusOr<std::vector<std::string>> ParseTypes(const json& object, const std::string& where) {
  const auto types = object.find("types");
  if (types == object.end()) return Refusal(where + ": \"types\" is missing");
  if (!types->is_array()) return Refusal(where + ".types: must be an array of type identifiers, not " + TypeName(*types));
  std::vector<std::string> result;
  for (std::size_t i = 0; i < types->size(); ++i) {
    const json& type = (*types)[i];
    if (!type.is_string()) {
      return Refusal(where + ".types[" + std::to_string(i) + "]: must be a string, not " + TypeName(type));
    }
    result.push_back(type.get<std::string>());
  }
  return result;
}

// The one payload an attachment delivers, if it names one, into `result`.
Status ParsePayload(const json& object, const std::string& where, AttachmentSpec& result) {
  const char* payloadKey = nullptr;
  for (const char* key : kPayloadKeys) {
    if (!object.contains(key)) continue;
    if (payloadKey) {
      return Refusal(where + ": \"" + payloadKey + "\" and \"" + key + "\" both given; an attachment delivers one");
    }
    payloadKey = key;
  }
  if (!payloadKey) return Status::OK();
  const json& value = object.at(payloadKey);
  const std::string at = where + "." + payloadKey;
  if (!value.is_string()) return Refusal(at + ": must be a string, not " + TypeName(value));
  const std::string text = value.get<std::string>();
  const std::string_view key = payloadKey;
  if (key == "string") {
    // The suite stores a text only up to its first NUL; never store it cut.
    if (text.find('\0') != std::string::npos) {
      return Refusal(at + ": the text holds a NUL character (\\u0000), which the settings suite cannot store");
    }
    result.payload = AttachmentSpec::Payload::string;
    result.value = text;
  } else if (key == "url") {
    if (!platform::URL::URLWithString(text)) return Refusal(at + ": \"" + text + "\" is not a valid URL");
    result.payload = AttachmentSpec::Payload::url;
    result.value = text;
  } else if (key == "data") {
    const std::optional<platform::Data> bytes = platform::Base64DecodedData(text);
    if (!bytes) return Refusal(at + ": not valid Base64 (standard alphabet, padded, no blanks)");
    result.payload = AttachmentSpec::Payload::data;
    result.value = platform::StringFromData(*bytes);
  } else {
    result.payload = AttachmentSpec::Payload::error;
    result.value = text;
  }
  return Status::OK();
}

StatusOr<int> ParseDelay(const json& delay, const std::string& where) {
  const std::string range = "an integer from 0 to " + std::to_string(kMaxDelayMs);
  if (!delay.is_number_integer()) return Refusal(where + ".delayMs: must be " + range + ", not " + TypeName(delay));
  const bool inRange = delay.is_number_unsigned() ? delay.get<std::uint64_t>() <= kMaxDelayMs
                                                  : delay.get<std::int64_t>() >= 0 &&
                                                        delay.get<std::int64_t>() <= kMaxDelayMs;
  if (!inRange) return Refusal(where + ".delayMs: must be " + range + ", not " + delay.dump());
  return delay.get<int>();
}

StatusOr<AttachmentSpec> ParseAttachment(const json& object, const std::string& where) {
  if (!object.is_object()) return Refusal(where + ": an attachment must be an object, not " + TypeName(object));
  if (Status keys = RequireOnlyKeys(object, {"types", "string", "url", "data", "error", "delayMs"}, where); !keys.ok()) {
    return keys;
  }
  AttachmentSpec result;
  StatusOr<std::vector<std::string>> types = ParseTypes(object, where);
  if (!types.ok()) return types.status();
  result.types = std::move(types).value();
  if (Status payload = ParsePayload(object, where, result); !payload.ok()) return payload;
  if (const auto delay = object.find("delayMs"); delay != object.end()) {
    StatusOr<int> delayMs = ParseDelay(*delay, where);
    if (!delayMs.ok()) return delayMs.status();
    result.delayMs = *delayMs;
  }
  return result;
}

StatusOr<ItemSpec> ParseItem(const json& item, const std::string& where) {
  ItemSpec result;
  if (!item.is_object()) {
    result.isExtensionItem = false;
    return result;
  }
  if (Status keys = RequireOnlyKeys(item, {"attachments"}, where); !keys.ok()) return keys;
  const auto attachments = item.find("attachments");
  if (attachments == item.end() || attachments->is_null()) return result;
  if (!attachments->is_array()) {
    return Refusal(where + ".attachments: must be an array, not " + TypeName(*attachments));
  }
  result.attachments.emplace();
  for (std::size_t i = 0; i < attachments->size(); ++i) {
    StatusOr<AttachmentSpec> attachment =
        ParseAttachment((*attachments)[i], where + ".attachments[" + std::to_string(i) + "]");
    if (!attachment.ok()) return attachment.status();
    result.attachments->push_back(std::move(attachment).value());
  }
  return result;
}

StatusOr<std::vector<ItemSpec>> ParseDocument(const json& document) {
  if (!document.is_object()) return Refusal("the top level must be an object, not " + TypeName(document));
  if (Status keys = RequireOnlyKeys(document, {"inputItems"}, "the top level"); !keys.ok()) return keys;
  const auto items = document.find("inputItems");
  if (items == document.end()) return Refusal("\"inputItems\" is missing");
  if (!items->is_array()) return Refusal("inputItems: must be an array, not " + TypeName(*items));
  std::vector<ItemSpec> parsed;
  for (std::size_t i = 0; i < items->size(); ++i) {
    StatusOr<ItemSpec> item = ParseItem((*items)[i], "inputItems[" + std::to_string(i) + "]");
    if (!item.ok()) return item.status();
    parsed.push_back(std::move(item).value());
  }
  return parsed;
}

}  // namespace

namespace {

// Finds the first key that appears twice in one object, as the parser meets
// it, and says where: JSON leaves duplicates undefined and readers resolve
// them differently, so a manifest holding one is refused, never guessed at.
class DuplicateKeyFinder {
 public:
  bool operator()(int /*depth*/, json::parse_event_t event, json& parsed) {
    using Event = json::parse_event_t;
    if (found_) return true;
    if (event == Event::object_end || event == Event::array_end) {
      frames_.pop_back();
      return true;
    }
    if (event == Event::key) {
      Frame& object = frames_.back();
      object.key = parsed.get<std::string>();
      if (!object.keys.insert(object.key).second) found_ = pathText() + ": the key \"" + object.key + "\" appears twice";
      return true;
    }
    // A value, or the start of one: in an array, the next element.
    if (!frames_.empty() && frames_.back().isArray) ++frames_.back().index;
    if (event == Event::object_start) frames_.push_back(Frame{false});
    if (event == Event::array_start) frames_.push_back(Frame{true});
    return true;
  }

  const std::optional<std::string>& found() const { return found_; }

 private:
  struct Frame {
    bool isArray;
    std::size_t index = 0;  // arrays: elements met so far
    std::string key;        // objects: the last key met
    std::set<std::string> keys;
  };

  // Where the object holding the current key sits.
  std::string pathText() const {
    std::string path;
    for (std::size_t i = 0; i + 1 < frames_.size(); ++i) {
      const Frame& frame = frames_[i];
      if (frame.isArray) path += "[" + std::to_string(frame.index - 1) + "]";
      else path += (path.empty() ? "" : ".") + frame.key;
    }
    return path.empty() ? "the top level" : path;
  }

  std::vector<Frame> frames_;
  std::optional<std::string> found_;
};

}  // namespace

ManifestResult ParseManifest(std::string_view text) {
  if (text.size() > kMaxManifestBytes) {
    return {std::nullopt, "larger than " + std::to_string(kMaxManifestBytes >> 20) + " MiB; not read"};
  }
  DuplicateKeyFinder duplicates;
  const json document = json::parse(
      text.begin(), text.end(), [&duplicates](int depth, json::parse_event_t event, json& parsed) {
        return duplicates(depth, event, parsed);
      }, /*allow_exceptions=*/false);
  if (document.is_discarded()) return {std::nullopt, "not valid JSON"};
  if (duplicates.found()) return {std::nullopt, *duplicates.found()};
  // The one place where what the JSON library throws is caught: the walk
  // checks each value's type before reading it, so this is a safety net,
  // never the way a refusal travels.
  try {
    StatusOr<std::vector<ItemSpec>> parsed = ParseDocument(document);
    if (!parsed.ok()) return {std::nullopt, parsed.status().message()};
    return {std::move(parsed).value(), {}};
  } catch (const json::exception& error) {
    return {std::nullopt, error.what()};
  }
}

ManifestResult ReadManifest(const std::string& path, std::istream& standardInput) {
  // Read no further than the limit: one byte more says it is too large.
  std::string text;
  char buffer[65536];
  if (path == "-") {
    while (text.size() <= kMaxManifestBytes && standardInput.read(buffer, sizeof buffer).gcount() > 0) {
      text.append(buffer, static_cast<std::size_t>(standardInput.gcount()));
    }
    if (standardInput.bad()) return {std::nullopt, "cannot read the manifest from standard input"};
  } else {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rbe"), std::fclose);
    if (!file) return {std::nullopt, "cannot open " + path + ": " + std::strerror(errno)};
    std::size_t n;
    while (text.size() <= kMaxManifestBytes && (n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
      text.append(buffer, n);
    }
    if (std::ferror(file.get())) return {std::nullopt, "cannot read " + path + ": " + std::strerror(errno)};
  }
  return ParseManifest(text);
}

}  // namespace app
