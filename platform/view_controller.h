#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/alert.h"
#include "platform/extension.h"
#include "platform/responder.h"

namespace platform {

// The resource bundle an interface file is looked up in.
struct NSBundle {
  std::string bundleIdentifier;
};

// An archive a controller can be restored from. `decodable` is false for an
// archive the compose sheet cannot read, whose initialiser then gives none.
struct NSCoder {
  bool decodable = true;
};

// One configuration row of a compose sheet.
struct SLComposeSheetConfigurationItem {
  std::string title;
  std::string value;
};

// The compose-sheet controller that share extensions derive from: a view
// controller and a member of the responder chain. Whoever hosts it sets its
// extension context, its next responder and the presenter its alerts go to.
class SLComposeServiceViewController : public UIResponder {
 public:
  SLComposeServiceViewController() = default;
  ~SLComposeServiceViewController() override = default;

  virtual bool isContentValid() { return true; }
  virtual void viewDidLoad() {}
  virtual void viewDidAppear(bool /*animated*/) {}
  virtual void didSelectPost() {}
  virtual std::vector<SLComposeSheetConfigurationItem> configurationItems() { return {}; }

  NSExtensionContext* extensionContext() const { return extensionContext_.get(); }
  void setExtensionContext(std::shared_ptr<NSExtensionContext> context) { extensionContext_ = std::move(context); }

  UIResponder* nextResponder() const override { return nextResponder_; }
  void setNextResponder(UIResponder* next) { nextResponder_ = next; }

  // Held weakly: a presented alert's action may hold this controller, and the
  // presenter keeps its alerts.
  void setAlertPresenter(const std::shared_ptr<AlertPresenter>& presenter) { presenter_ = presenter; }

  // Shows `alert` over this controller. `completion` runs once it is shown.
  void presentViewController(std::shared_ptr<UIAlertController> alert, bool animated,
                             const std::function<void()>& completion) {
    if (auto presenter = presenter_.lock()) presenter->presentAlert(std::move(alert), animated);
    if (completion) completion();
  }

  // Closes this controller.
  void dismissViewControllerAnimated(bool /*animated*/, const std::function<void()>& completion) {
    dismissed_ = true;
    if (completion) completion();
  }
  bool isDismissed() const { return dismissed_.load(); }

 protected:
  // The base initialisers; initWithCoder gives false for an archive it cannot read.
  void initWithNibName(const std::optional<std::string>& nibName, const std::optional<NSBundle>& bundle) {
    nibName_ = nibName;
    bundle_ = bundle;
  }
  bool initWithCoder(const NSCoder& coder) { return coder.decodable; }

 private:
  std::optional<std::string> nibName_;
  std::optional<NSBundle> bundle_;
  std::shared_ptr<NSExtensionContext> extensionContext_;
  std::weak_ptr<AlertPresenter> presenter_;
  UIResponder* nextResponder_ = nullptr;
  std::atomic<bool> dismissed_{false};
};

}  // namespace platform
