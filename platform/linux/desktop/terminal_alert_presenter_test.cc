#include "platform/linux/desktop/terminal_alert_presenter.h"

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

namespace platform::linux_platform {
namespace {

// Captures what the presenter writes.
class Capture {
 public:
  Capture() : stream_(open_memstream(&buffer_, &size_)) {}
  ~Capture() {
    std::fclose(stream_);
    free(buffer_);
  }
  std::FILE* stream() { return stream_; }
  std::string text() {
    std::fflush(stream_);
    return std::string(buffer_, size_);
  }

 private:
  char* buffer_ = nullptr;
  std::size_t size_ = 0;
  std::FILE* stream_;
};

TEST(TerminalAlertPresenter, DrawsTitleMessageAndActionsInABox) {
  Capture out;
  TerminalAlertPresenter presenter(out.stream());
  auto alert = UIAlertController::alertControllerWithTitle("Error", "Error loading data", UIAlertControllerStyle::alert);
  alert->addAction(UIAlertAction::actionWithTitle("Error", UIAlertActionStyle::cancel, nullptr));
  presenter.presentAlert(alert, true);

  EXPECT_EQ(out.text(),
            "+- Error ------------+\n"
            "| Error loading data |\n"
            "|                    |\n"
            "| [ Error ]          |\n"
            "+--------------------+\n");
}

TEST(TerminalAlertPresenter, WidthFollowsTheWidestLineInCharacters) {
  Capture out;
  TerminalAlertPresenter presenter(out.stream());
  auto alert = UIAlertController::alertControllerWithTitle("Fehler beim Übertragen", "a\nzwei", UIAlertControllerStyle::alert);
  alert->addAction(UIAlertAction::actionWithTitle("OK", UIAlertActionStyle::defaultStyle, nullptr));
  alert->addAction(UIAlertAction::actionWithTitle("Abbrechen", UIAlertActionStyle::cancel, nullptr));
  presenter.presentAlert(alert, false);

  EXPECT_EQ(out.text(),
            "+- Fehler beim Übertragen -+\n"
            "| a                        |\n"
            "| zwei                     |\n"
            "|                          |\n"
            "| [ OK ]  [ Abbrechen ]    |\n"
            "+--------------------------+\n");
}

TEST(TerminalAlertPresenter, KeepsEveryAlertAndItsActionsCanStillBePicked) {
  Capture out;
  TerminalAlertPresenter presenter(out.stream());
  int picked = 0;
  {
    auto alert = UIAlertController::alertControllerWithTitle("", "", UIAlertControllerStyle::alert);
    alert->addAction(UIAlertAction::actionWithTitle("Go", UIAlertActionStyle::defaultStyle,
                                                    [&](const UIAlertAction&) { ++picked; }));
    presenter.presentAlert(alert, true);
    presenter.presentAlert(UIAlertController::alertControllerWithTitle("second", "", UIAlertControllerStyle::alert), true);
  }
  const auto kept = presenter.presented();
  ASSERT_EQ(kept.size(), 2u);
  EXPECT_EQ(kept[1]->title(), "second");
  kept[0]->actions().at(0)->pick();
  EXPECT_EQ(picked, 1);
  // Without title or message the box still closes.
  EXPECT_EQ(out.text().rfind("+--------+\n| [ Go ] |\n+--------+\n+- second -+\n", 0), 0u) << out.text();
}

}  // namespace
}  // namespace platform::linux_platform
