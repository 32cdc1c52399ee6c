#include "receive/suite_value.h"

#include <string>

namespace halvernsignet_receive {
namespace {

std::string Describe(plist_type type) {
  switch (type) {
    case PLIST_BOOLEAN: return "a boolean";
    case PLIST_UINT: return "an integer";
    case PLIST_REAL: return "a real number";
    case PLIST_STRING: return "a single string";
    case PLIST_ARRAY: return "an array";
    case PLIST_DICT: return "a dictionary";
    case PLIST_DATE: return "a date";
    case PLIST_DATA: return "data";
    case PLIST_KEY: return "a key";
    case PLIST_UID: return "a UID";
    default: return "a value of an unknown kind";
  }
}

StoredValue Other(std::string description) {
  StoredValue value;
  value.kind = StoredValue::Kind::other;
  value.description = std::move(description);
  return value;
}

}  // namespace

StoredValue ValueForKey(plist_t root, const char* key) {
  StoredValue value;
  const plist_t node = plist_dict_get_item(root, key);
  if (node == nullptr) return value;

  const plist_type type = plist_get_node_type(node);
  if (type == PLIST_DATA) {
    uint64_t length = 0;
    const char* bytes = plist_get_data_ptr(node, &length);
    value.kind = StoredValue::Kind::data;
    if (bytes != nullptr) value.bytes.assign(bytes, length);
    return value;
  }
  if (type != PLIST_ARRAY) return Other(Describe(type));

  const uint32_t size = plist_array_get_size(node);
  value.strings.reserve(size);
  for (uint32_t i = 0; i < size; ++i) {
    const plist_t item = plist_array_get_item(node, i);
    const plist_type itemType = plist_get_node_type(item);
    if (itemType != PLIST_STRING) {
      return Other("an array whose element " + std::to_string(i + 1) + " is " + Describe(itemType));
    }
    uint64_t length = 0;
    const char* text = plist_get_string_ptr(item, &length);
    value.strings.emplace_back(text != nullptr ? std::string(text, length) : std::string());
  }
  value.kind = StoredValue::Kind::strings;
  return value;
}

}  // namespace halvernsignet_receive
