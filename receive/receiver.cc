#include "receive/receiver.h"

#include "platform/linux/suite/plist_suite_file.h"
#include "platform/linux/base/xdg_dirs.h"
#include "receive/payload_reading.h"
#include "receive/suite_value.h"

namespace halvernsignet_receive {
namespace {

namespace lp = platform::linux_platform;

constexpr const char* kSharedKey = "ShareKey";

}  // namespace

ReceiveOptions DefaultReceiveOptions(std::string appGroupIdentifier) {
  ReceiveOptions options;
  options.appGroupIdentifier = std::move(appGroupIdentifier);
  options.configHome = lp::DefaultConfigHome();
  options.dataHome = lp::DefaultDataHome();
  return options;
}

std::string ContainerDirectory(const ReceiveOptions& options) {
  return options.dataHome + "/group-containers/" + options.appGroupIdentifier;
}

Receipt Receive(const ReceiveOptions& options) {
  if (!lp::ValidSuiteName(options.appGroupIdentifier)) {
    return Receipt::Failed("\"" + options.appGroupIdentifier + "\" cannot name an app group");
  }
  const lp::PlistSuiteFile suite(options.configHome, options.appGroupIdentifier);

  const auto mode = options.take ? lp::PlistSuiteFile::LockMode::exclusive : lp::PlistSuiteFile::LockMode::shared;
  platform::StatusOr<lp::PlistSuiteFile::Lock> lock = suite.lock(mode);
  if (!lock.ok()) {
    // No configuration directory: no suite, so nothing was handed over.
    if (lock.status().IsNotFound()) return Receipt{};
    // Taking needs the lock. A reader may do without it (a lock file it may
    // not create, a read-only directory): the suite is only ever replaced
    // whole, so it still reads the old suite or the new one.
    if (options.take) return Receipt::Failed(lock.status().message());
  }

  platform::StatusOr<lp::PlistPtr> root = suite.read();
  if (!root.ok()) {
    if (root.status().IsNotFound()) return Receipt{};
    return Receipt::Failed(root.status().message());
  }

  Receipt receipt = ReadPayload(ValueForKey(root->get(), kSharedKey), ContainerDirectory(options));
  if (receipt.outcome != Receipt::Outcome::read) return receipt;
  if (options.deliver && !options.deliver(receipt)) {
    return Receipt::Failed(options.take ? "the payload could not be handed on; it was not taken"
                                        : "the payload could not be handed on");
  }
  if (!options.take) return receipt;

  plist_dict_remove_item(root->get(), kSharedKey);
  if (const platform::Status written = suite.write(root->get()); !written.ok()) {
    return Receipt::Failed("the payload was not taken: " + written.message());
  }
  return receipt;
}

}  // namespace halvernsignet_receive
