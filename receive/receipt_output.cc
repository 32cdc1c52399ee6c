#include "receive/receipt_output.h"

#include <cmath>
#include <cstdio>

#include <nlohmann/json.hpp>

namespace halvernsignet_receive {
namespace {

using Json = nlohmann::ordered_json;

Json Number(double value) {
  if (std::trunc(value) == value && std::fabs(value) <= 9007199254740992.0) return Json(static_cast<std::int64_t>(value));
  return Json(value);
}

std::string Escaped(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c == '\n') out += "\\n";
    else if (c == '\t') out += "\\t";
    else if (c == '\\') out += "\\\\";
    else if (c < 0x20 || c == 0x7f) {
      char code[8];
      std::snprintf(code, sizeof code, "\\x%02x", c);
      out += code;
    } else out += static_cast<char>(c);
  }
  return out;
}

std::string Duration(const std::optional<double>& milliseconds) {
  if (!milliseconds) return "-";
  char text[64];
  std::snprintf(text, sizeof text, "%.3f s", *milliseconds / 1000.0);
  return text;
}

}  // namespace

const char* TypeName(SharedMediaType type) {
  switch (type) {
    case SharedMediaType::image: return "image";
    case SharedMediaType::video: return "video";
    case SharedMediaType::file: return "file";
  }
  return "file";
}

std::string ReceiptJson(const Receipt& receipt) {
  Json out = Json::object();
  if (receipt.kind == Receipt::Kind::text) {
    out["kind"] = "text";
    out["texts"] = receipt.texts;
  } else {
    out["kind"] = "media";
    Json records = Json::array();
    for (const ReceivedMedia& media : receipt.media) {
      Json record = Json::object();
      record["path"] = media.record.path;
      if (media.record.thumbnail) record["thumbnail"] = *media.record.thumbnail;
      if (media.record.duration) record["duration"] = Number(*media.record.duration);
      record["type"] = halvernsignet_mobile_Share::RawValue(media.record.type);
      record["missing"] = media.missing();
      if (media.problem) record["problem"] = *media.problem;
      records.push_back(std::move(record));
    }
    out["records"] = std::move(records);
  }
  // Texts from a suite need not be valid UTF-8; show what cannot be shown
  // as U+FFFD rather than fail.
  return out.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::string ReceiptTable(const Receipt& receipt) {
  std::string out;
  if (receipt.kind == Receipt::Kind::text) {
    out += "#  TEXT\n";
    for (std::size_t i = 0; i < receipt.texts.size(); ++i) {
      out += std::to_string(i + 1) + "  " + Escaped(receipt.texts[i]) + "\n";
    }
    return out;
  }
  out += "#  TYPE   DURATION  FILE\n";
  for (std::size_t i = 0; i < receipt.media.size(); ++i) {
    const ReceivedMedia& media = receipt.media[i];
    char head[64];
    std::snprintf(head, sizeof head, "%-2zu %-6s %-9s ", i + 1, TypeName(media.record.type),
                  Duration(media.record.duration).c_str());
    out += head + Escaped(media.record.path);
    if (media.record.thumbnail) out += "  (thumbnail " + Escaped(*media.record.thumbnail) + ")";
    if (media.problem) out += "  MISSING: " + Escaped(*media.problem);
    out += "\n";
  }
  return out;
}

}  // namespace halvernsignet_receive
