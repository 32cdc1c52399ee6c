#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {

enum class UIAlertControllerStyle { actionSheet, alert };
enum class UIAlertActionStyle { defaultStyle, cancel, destructive };

class UIAlertAction {
 public:
  using Handler = std::function<void(const UIAlertAction&)>;

  static std::shared_ptr<UIAlertAction> actionWithTitle(std::string title, UIAlertActionStyle style,
                                                        Handler handler) {
    return std::shared_ptr<UIAlertAction>(new UIAlertAction(std::move(title), style, std::move(handler)));
  }

  const std::string& title() const { return title_; }
  UIAlertActionStyle style() const { return style_; }
  // Runs the handler, as picking the action does.
  void pick() const {
    if (handler_) handler_(*this);
  }

 private:
  UIAlertAction(std::string title, UIAlertActionStyle style, Handler handler)
      : title_(std::move(title)), style_(style), handler_(std::move(handler)) {}
  std::string title_;
  UIAlertActionStyle style_;
  Handler handler_;
};

class UIAlertController {
 public:
  static std::shared_ptr<UIAlertController> alertControllerWithTitle(std::string title, std::string message,
                                                                     UIAlertControllerStyle preferredStyle) {
    return std::shared_ptr<UIAlertController>(
        new UIAlertController(std::move(title), std::move(message), preferredStyle));
  }

  void addAction(std::shared_ptr<UIAlertAction> action) { actions_.push_back(std::move(action)); }

  const std::string& title() const { return title_; }
  const std::string& message() const { return message_; }
  UIAlertControllerStyle preferredStyle() const { return preferredStyle_; }
  const std::vector<std::shared_ptr<UIAlertAction>>& actions() const { return actions_; }

 private:
  UIAlertController(std::string title, std::string message, UIAlertControllerStyle style)
      : title_(std::move(title)), message_(std::move(message)), preferredStyle_(style) {}
  std::string title_;
  std::string message_;
  UIAlertControllerStyle preferredStyle_;
  std::vector<std::shared_ptr<UIAlertAction>> actions_;
};

// Where presented alerts appear (the screen). Shows the alert and returns
// without waiting for a pick; the presenter keeps the alert, and may run one
// of its actions later.
class AlertPresenter {
 public:
  virtual ~AlertPresenter() = default;
  virtual void presentAlert(std::shared_ptr<UIAlertController> alert, bool animated) = 0;
};

}  // namespace platform
