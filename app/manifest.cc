#include "app/manifest.h"

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>

#include <nlohmann/json.hpp>

#include "platform/base64.h"
#include "platform/url.h"

namespace app {
namespace {

using nlohmann::json;

// A refusal travels up as the first error met; the parse stops there.
struct Refusal {
  std::string message;
};

std::string TypeName(const json& value) { return value.type_name(); }

constexpr std::array<const char*, 4> kPayloadKeys = {"string", "url", "data", "error"};

void RequireOnlyKeys(const json& object, std::initializer_list<std::string_view> allowed, const std::string& where) {
  for (const auto& [key, value] : object.items()) {
    bool known = false;
    for (auto name : allowed) known = known || key == name;
    if (!known) throw Refusal{where + ": unknown key \"" + key + "\""};
  }
}

AttachmentSpec ParseAttachment(const json& object, const std::string& where) {
  if (!object.is_object()) throw Refusal{where + ": an attachment must be an object, not " + TypeName(object)};
  RequireOnlyKeys(object, {"types", "string", "url", "data", "error", "delayMs"}, where);

  AttachmentSpec result;
  const auto types = object.find("types");
  if (types == object.end()) throw Refusal{where + ": \"types\" is missing"};
  if (!types->is_array()) throw Refusal{where + ".types: must be an array of type identifiers, not " + TypeName(*types)};
  for (std::size_t i = 0; i < types->size(); ++i) {
    const json& type = (*types)[i];
    if (!type.is_string()) {
      throw Refusal{where + ".types[" + std::to_string(i) + "]: must be a string, not " + TypeName(type)};
    }
    result.types.push_back(type.get<std::string>());
  }

  const char* payloadKey = nullptr;
  for (const char* key : kPayloadKeys) {
    if (!object.contains(key)) continue;
    if (payloadKey) {
      throw Refusal{where + ": \"" + payloadKey + "\" and \"" + key + "\" both given; an attachment delivers one"};
    }
    payloadKey = key;
  }
  if (payloadKey) {
    const json& value = object.at(payloadKey);
    const std::string at = where + "." + payloadKey;
    if (!value.is_string()) throw Refusal{at + ": must be a string, not " + TypeName(value)};
    const std::string text = value.get<std::string>();
    const std::string_view key = payloadKey;
    if (key == "string") {
      // The suite stores a text only up to its first NUL; never store it cut.
      if (text.find('\0') != std::string::npos) {
        throw Refusal{at + ": the text holds a NUL character (\\u0000), which the settings suite cannot store"};
      }
      result.payload = AttachmentSpec::Payload::string;
      result.value = text;
    } else if (key == "url") {
      if (!platform::URL::URLWithString(text)) throw Refusal{at + ": \"" + text + "\" is not a valid URL"};
      result.payload = AttachmentSpec::Payload::url;
      result.value = text;
    } else if (key == "data") {
      const std::optional<platform::Data> bytes = platform::Base64DecodedData(text);
      if (!bytes) throw Refusal{at + ": not valid Base64 (standard alphabet, padded, no blanks)"};
      result.payload = AttachmentSpec::Payload::data;
      result.value = platform::StringFromData(*bytes);
    } else {
      result.payload = AttachmentSpec::Payload::error;
      result.value = text;
    }
  }

  if (const auto delay = object.find("delayMs"); delay != object.end()) {
    const std::string range = "an integer from 0 to " + std::to_string(kMaxDelayMs);
    if (!delay->is_number_integer()) throw Refusal{where + ".delayMs: must be " + range + ", not " + TypeName(*delay)};
    const bool inRange = delay->is_number_unsigned() ? delay->get<std::uint64_t>() <= kMaxDelayMs
                                                     : delay->get<std::int64_t>() >= 0 &&
                                                           delay->get<std::int64_t>() <= kMaxDelayMs;
    if (!inRange) throw Refusal{where + ".delayMs: must be " + range + ", not " + delay->dump()};
    result.delayMs = delay->get<int>();
  }
  return result;
}

ItemSpec ParseItem(const json& item, const std::string& where) {
  ItemSpec result;
  if (!item.is_object()) {
    result.isExtensionItem = false;
    return result;
  }
  RequireOnlyKeys(item, {"attachments"}, where);
  const auto attachments = item.find("attachments");
  if (attachments == item.end() || attachments->is_null()) return result;
  if (!attachments->is_array()) {
    throw Refusal{where + ".attachments: must be an array, not " + TypeName(*attachments)};
  }
  result.attachments.emplace();
  for (std::size_t i = 0; i < attachments->size(); ++i) {
    result.attachments->push_back(ParseAttachment((*attachments)[i], where + ".attachments[" + std::to_string(i) + "]"));
  }
  return result;
}

}  // namespace

ManifestResult ParseManifest(std::string_view text) {
  const json document = json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
  if (document.is_discarded()) return {std::nullopt, "not valid JSON"};
  try {
    if (!document.is_object()) throw Refusal{"the top level must be an object, not " + TypeName(document)};
    RequireOnlyKeys(document, {"inputItems"}, "the top level");
    const auto items = document.find("inputItems");
    if (items == document.end()) throw Refusal{"\"inputItems\" is missing"};
    if (!items->is_array()) throw Refusal{"inputItems: must be an array, not " + TypeName(*items)};
    std::vector<ItemSpec> parsed;
    for (std::size_t i = 0; i < items->size(); ++i) {
      parsed.push_back(ParseItem((*items)[i], "inputItems[" + std::to_string(i) + "]"));
    }
    return {std::move(parsed), {}};
  } catch (const Refusal& refusal) {
    return {std::nullopt, refusal.message};
  }
}

ManifestResult ReadManifest(const std::string& path, std::istream& standardInput) {
  std::string text;
  if (path == "-") {
    text.assign(std::istreambuf_iterator<char>(standardInput), {});
    if (standardInput.bad()) return {std::nullopt, "cannot read the manifest from standard input"};
  } else {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rbe"), std::fclose);
    if (!file) return {std::nullopt, "cannot open " + path + ": " + std::strerror(errno)};
    char buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) text.append(buffer, n);
    if (std::ferror(file.get())) return {std::nullopt, "cannot read " + path + ": " + std::strerror(errno)};
  }
  return ParseManifest(text);
}

}  // namespace app
