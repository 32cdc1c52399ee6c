// The C API over the C++ one.
#include "receive/halvernsignet_receive.h"

#include <new>
#include <string>

#include "receive/receipt_output.h"
#include "receive/receiver.h"

struct halvernsignet_receipt {
  halvernsignet_receive::Receipt receipt;
  std::string json;
};

namespace {

const halvernsignet_receive::ReceivedMedia* Media(const halvernsignet_receipt* r, size_t index) {
  if (r == nullptr || r->receipt.kind != halvernsignet_receive::Receipt::Kind::media ||
      index >= r->receipt.media.size()) {
    return nullptr;
  }
  return &r->receipt.media[index];
}

}  // namespace

extern "C" {

int halvernsignet_receive_payload(const char* app_group, int take, halvernsignet_receipt** receipt) {
  if (app_group == nullptr || receipt == nullptr) return HALVERNSIGNET_RECEIVE_FAILED;
  *receipt = nullptr;
  try {
    auto options = halvernsignet_receive::DefaultReceiveOptions(app_group);
    options.take = take != 0;
    auto* result = new halvernsignet_receipt{halvernsignet_receive::Receive(options), {}};
    if (result->receipt.outcome == halvernsignet_receive::Receipt::Outcome::read) {
      result->json = halvernsignet_receive::ReceiptJson(result->receipt);
      result->json.pop_back();  // the line's end
    }
    *receipt = result;
    return static_cast<int>(result->receipt.outcome);
  } catch (...) {  // nothing may cross into C
    return HALVERNSIGNET_RECEIVE_FAILED;
  }
}

int halvernsignet_receipt_outcome(const halvernsignet_receipt* r) {
  return r ? static_cast<int>(r->receipt.outcome) : HALVERNSIGNET_RECEIVE_FAILED;
}

const char* halvernsignet_receipt_error(const halvernsignet_receipt* r) { return r ? r->receipt.error.c_str() : ""; }

int halvernsignet_receipt_kind(const halvernsignet_receipt* r) {
  return r && r->receipt.kind == halvernsignet_receive::Receipt::Kind::media ? HALVERNSIGNET_RECEIVE_MEDIA
                                                                             : HALVERNSIGNET_RECEIVE_TEXTS;
}

size_t halvernsignet_receipt_count(const halvernsignet_receipt* r) {
  if (r == nullptr) return 0;
  return r->receipt.kind == halvernsignet_receive::Receipt::Kind::media ? r->receipt.media.size()
                                                                        : r->receipt.texts.size();
}

const char* halvernsignet_receipt_text(const halvernsignet_receipt* r, size_t index) {
  if (r == nullptr || r->receipt.kind != halvernsignet_receive::Receipt::Kind::text ||
      index >= r->receipt.texts.size()) {
    return nullptr;
  }
  return r->receipt.texts[index].c_str();
}

const char* halvernsignet_receipt_path(const halvernsignet_receipt* r, size_t index) {
  const auto* media = Media(r, index);
  return media ? media->record.path.c_str() : nullptr;
}

const char* halvernsignet_receipt_thumbnail(const halvernsignet_receipt* r, size_t index) {
  const auto* media = Media(r, index);
  return media && media->record.thumbnail ? media->record.thumbnail->c_str() : nullptr;
}

double halvernsignet_receipt_duration(const halvernsignet_receipt* r, size_t index, int* has) {
  const auto* media = Media(r, index);
  const bool present = media && media->record.duration;
  if (has) *has = present ? 1 : 0;
  return present ? *media->record.duration : 0.0;
}

int halvernsignet_receipt_type(const halvernsignet_receipt* r, size_t index) {
  const auto* media = Media(r, index);
  return media ? static_cast<int>(halvernsignet_mobile_Share::RawValue(media->record.type)) : -1;
}

int halvernsignet_receipt_missing(const halvernsignet_receipt* r, size_t index) {
  const auto* media = Media(r, index);
  return media && media->missing() ? 1 : 0;
}

const char* halvernsignet_receipt_problem(const halvernsignet_receipt* r, size_t index) {
  const auto* media = Media(r, index);
  return media && media->problem ? media->problem->c_str() : nullptr;
}

const char* halvernsignet_receipt_json(const halvernsignet_receipt* r) { return r ? r->json.c_str() : ""; }

void halvernsignet_receipt_free(halvernsignet_receipt* r) { delete r; }

}  // extern "C"
