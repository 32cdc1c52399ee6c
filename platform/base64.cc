#include "platform/base64.h"

#include <glib.h>

namespace platform {

std::string Base64EncodedString(const Data& data) {
  gchar* encoded = g_base64_encode(data.data(), data.size());
  std::string text(encoded ? encoded : "");
  g_free(encoded);
  return text;
}

}  // namespace platform
