#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// One shared attachment that did not reach the host application.
struct LeftOutItem {
  std::int64_t index = 0;  // position in the shared item's attachment list, from 0
  std::int64_t count = 0;  // how many attachments the shared item has
  std::string item;        // how the person knows it: a file name, a link, the start of a text
  std::string reason;      // why it was left out, fit for a person
};

// Where the extension tells the person what a share did not do, beside the
// lines of its standard output: every attachment it left out, once each, and
// a handoff it could not make. What the process does with it (a message, an
// exit status) is the platform's business.
class OutcomeReport {
 public:
  virtual ~OutcomeReport() = default;

  virtual void itemLeftOut(const LeftOutItem& item) = 0;

  // Nothing was handed over: the payload could not be stored, so the host
  // application was not opened.
  virtual void handoffFailed(std::string_view reason) = 0;
};

}  // namespace platform
