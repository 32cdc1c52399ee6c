// The dialog module: DesktopDialogs on GTK 4, and the one symbol the program
// looks up after loading it.
//
// GTK wants every call on one thread. The module starts that thread itself
// (the program's own threads are busy loading and copying): it initialises
// GTK and runs the default main loop. Callers on other threads never touch a
// widget; they queue a closure on the default main context (g_idle_add is
// safe from any thread) and return at once. The count of open alerts is the
// only state both sides share, under a mutex, so the program can wait at its
// end until the person has closed them.
#include <gtk/gtk.h>
#ifdef GDK_WINDOWING_X11
#include <gdk/x11/gdkx.h>
#endif

#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "platform/linux/dialogs/desktop_dialogs.h"

namespace platform::linux_platform {
namespace {

// Runs `work` on the thread that runs the default main context.
void Post(std::function<void()> work) {
  g_idle_add_full(
      G_PRIORITY_DEFAULT,
      [](gpointer data) -> gboolean {
        (*static_cast<std::function<void()>*>(data))();
        return G_SOURCE_REMOVE;
      },
      new std::function<void()>(std::move(work)),
      [](gpointer data) { delete static_cast<std::function<void()>*>(data); });
}

GtkWidget* Label(const char* cssClass) {
  GtkWidget* label = gtk_label_new(nullptr);
  gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
  gtk_label_set_wrap(GTK_LABEL(label), TRUE);
  gtk_label_set_max_width_chars(GTK_LABEL(label), 48);
  if (cssClass != nullptr) gtk_widget_add_css_class(label, cssClass);
  return label;
}

void SetBoldText(GtkWidget* label, const std::string& text) {
  char* markup = g_markup_printf_escaped("<span weight=\"bold\" size=\"large\">%s</span>", text.c_str());
  gtk_label_set_markup(GTK_LABEL(label), markup);
  g_free(markup);
}

void SetMargins(GtkWidget* widget, int margin) {
  gtk_widget_set_margin_top(widget, margin);
  gtk_widget_set_margin_bottom(widget, margin);
  gtk_widget_set_margin_start(widget, margin);
  gtk_widget_set_margin_end(widget, margin);
}

// The windows say whose they are, as the desktop entry
// halvernsignet-share.desktop does: task bars and window managers match the
// X11 class (the entry's StartupWMClass) or the Wayland app id (GTK takes
// the program name) with the entry, and show its name and icon.
constexpr const char* kDesktopEntryId = "halvernsignet-share";
constexpr const char* kDesktopEntryName = "Share with halvernsignet";
constexpr const char* kDesktopEntryIcon = "send-to";

void NameTheProgram() {
  g_set_prgname(kDesktopEntryId);
  g_set_application_name(kDesktopEntryName);
}

void NameTheWindows() {
#ifdef GDK_WINDOWING_X11
  // GTK's own class would be the program name capitalised.
  GdkDisplay* display = gdk_display_get_default();
  if (GDK_IS_X11_DISPLAY(display)) gdk_x11_display_set_program_class(display, kDesktopEntryId);
#endif
  gtk_window_set_default_icon_name(kDesktopEntryIcon);
}

class GtkDesktopDialogs;

// One alert window's state, owned by the window.
struct AlertState {
  GtkDesktopDialogs* owner;
  GtkWindow* window;
  std::function<void(std::size_t)> picked;
  std::size_t closeIndex;
  bool answered = false;
};

// The progress window's widgets, on the GTK thread only.
struct ProgressWidgets {
  GtkWindow* window = nullptr;
  GtkWidget* heading = nullptr;
  GtkWidget* bar = nullptr;
  GtkWidget* amount = nullptr;
  GtkWidget* timeLeft = nullptr;
  GtkWidget* cancel = nullptr;
};

class GtkDesktopDialogs final : public DesktopDialogs {
 public:
  // Starts GTK on its own thread; null when no display can be opened.
  static GtkDesktopDialogs* Start() {
    auto* dialogs = new GtkDesktopDialogs();
    std::promise<bool> ready;
    std::future<bool> started = ready.get_future();
    dialogs->thread_ = std::thread([dialogs, &ready] { dialogs->run(ready); });
    if (!started.get()) {
      dialogs->thread_.join();
      dialogs->stopped_ = true;
      delete dialogs;
      return nullptr;
    }
    return dialogs;
  }

  ~GtkDesktopDialogs() override { waitUntilClosed(); }

  void showAlert(std::string title, std::string message, std::vector<std::string> buttons,
                 std::size_t closeIndex, std::function<void(std::size_t)> picked) override {
    {
      std::lock_guard lock(mutex_);
      if (stopped_) return;
      ++openAlerts_;
    }
    Post([this, title = std::move(title), message = std::move(message), buttons = std::move(buttons), closeIndex,
          picked = std::move(picked)]() mutable {
      buildAlert(title, message, buttons, closeIndex, std::move(picked));
    });
  }

  void showProgress(const ProgressSnapshot& snapshot) override {
    {
      std::lock_guard lock(mutex_);
      if (stopped_) return;
      latest_ = snapshot;
      // One queued update at a time; it shows the latest figures.
      if (updateQueued_) return;
      updateQueued_ = true;
    }
    Post([this] { updateProgress(); });
  }

  void setProgressCancelled(std::function<void()> cancelled) override {
    std::lock_guard lock(mutex_);
    progressCancelled_ = std::move(cancelled);
  }

  void closeProgress() override {
    {
      std::lock_guard lock(mutex_);
      if (stopped_) return;
      latest_.reset();
    }
    Post([this] { destroyProgress(); });
  }

  void waitUntilClosed() override {
    {
      std::lock_guard lock(mutex_);
      if (stopped_) return;
    }
    closeProgress();
    {
      std::unique_lock lock(mutex_);
      alertsClosed_.wait(lock, [this] { return openAlerts_ == 0; });
      stopped_ = true;
    }
    Post([this] { g_main_loop_quit(loop_); });
    thread_.join();
  }

 private:
  GtkDesktopDialogs() = default;

  void run(std::promise<bool>& ready) {
    // GTK would otherwise switch the whole process to the user's locale, and
    // with it how numbers are written into the suite and the media list.
    gtk_disable_setlocale();
    NameTheProgram();
    if (!gtk_init_check()) {
      ready.set_value(false);
      return;
    }
    NameTheWindows();
    loop_ = g_main_loop_new(nullptr, FALSE);
    ready.set_value(true);
    g_main_loop_run(loop_);
    destroyProgress();
    g_main_loop_unref(loop_);
  }

  void buildAlert(const std::string& title, const std::string& message, const std::vector<std::string>& buttons,
                  std::size_t closeIndex, std::function<void(std::size_t)> picked) {
    GtkWidget* window = GTK_WIDGET(g_object_new(GTK_TYPE_WINDOW, "accessible-role", GTK_ACCESSIBLE_ROLE_ALERT_DIALOG,
                                                "title", title.c_str(), "modal", TRUE, "resizable", FALSE,
                                                "default-width", 340, nullptr));
    auto* state = new AlertState{this, GTK_WINDOW(window), std::move(picked), closeIndex};
    g_object_set_data_full(G_OBJECT(window), "halvernsignet-alert", state,
                           [](gpointer data) { delete static_cast<AlertState*>(data); });

    GtkWidget* content = gtk_box_new(GTK_ORIENTATION_VERTICAL, 8);
    SetMargins(content, 24);
    GtkWidget* heading = Label(nullptr);
    SetBoldText(heading, title);
    gtk_box_append(GTK_BOX(content), heading);
    if (!message.empty()) {
      GtkWidget* body = Label(nullptr);
      gtk_label_set_text(GTK_LABEL(body), message.c_str());
      gtk_box_append(GTK_BOX(content), body);
    }
    GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 8);
    gtk_widget_set_halign(row, GTK_ALIGN_END);
    gtk_widget_set_margin_top(row, 16);
    GtkWidget* last = nullptr;
    for (std::size_t i = 0; i < buttons.size(); ++i) {
      GtkWidget* button = gtk_button_new_with_label(buttons[i].c_str());
      g_object_set_data(G_OBJECT(button), "halvernsignet-index", GSIZE_TO_POINTER(i));
      g_signal_connect(button, "clicked", G_CALLBACK(+[](GtkButton* self, gpointer data) {
                         auto* alert = static_cast<AlertState*>(data);
                         answer(alert, GPOINTER_TO_SIZE(g_object_get_data(G_OBJECT(self), "halvernsignet-index")));
                         gtk_window_destroy(alert->window);
                       }),
                       state);
      gtk_box_append(GTK_BOX(row), button);
      last = button;
    }
    gtk_box_append(GTK_BOX(content), row);
    gtk_window_set_child(GTK_WINDOW(window), content);
    if (last != nullptr) gtk_window_set_default_widget(GTK_WINDOW(window), last);

    // Closed without a button (window manager, Escape): the close action.
    g_signal_connect(window, "close-request", G_CALLBACK(+[](GtkWindow*, gpointer data) -> gboolean {
                       answer(static_cast<AlertState*>(data), static_cast<AlertState*>(data)->closeIndex);
                       return FALSE;
                     }),
                     state);
    g_signal_connect(window, "destroy", G_CALLBACK(+[](GtkWidget*, gpointer data) {
                       auto* alert = static_cast<AlertState*>(data);
                       answer(alert, alert->closeIndex);
                       alert->owner->alertClosed();
                     }),
                     state);
    GtkEventController* keys = gtk_shortcut_controller_new();
    gtk_shortcut_controller_add_shortcut(
        GTK_SHORTCUT_CONTROLLER(keys),
        gtk_shortcut_new(gtk_keyval_trigger_new(GDK_KEY_Escape, GdkModifierType(0)),
                         gtk_named_action_new("window.close")));
    gtk_widget_add_controller(window, keys);

    gtk_window_present(GTK_WINDOW(window));
    if (last != nullptr) gtk_widget_grab_focus(last);
  }

  static void answer(AlertState* alert, std::size_t index) {
    if (alert->answered) return;
    alert->answered = true;
    if (alert->picked) alert->picked(index);
  }

  void alertClosed() {
    {
      std::lock_guard lock(mutex_);
      --openAlerts_;
    }
    alertsClosed_.notify_all();
  }

  void updateProgress() {
    std::optional<ProgressSnapshot> snapshot;
    {
      std::lock_guard lock(mutex_);
      updateQueued_ = false;
      snapshot = latest_;
    }
    if (!snapshot || progressDismissed_) return;
    if (progress_.window == nullptr) buildProgress();
    gtk_label_set_text(GTK_LABEL(progress_.heading), WindowHeading(*snapshot).c_str());
    SetBoldText(progress_.heading, WindowHeading(*snapshot));
    gtk_label_set_text(GTK_LABEL(progress_.amount), WindowAmount(*snapshot).c_str());
    gtk_label_set_text(GTK_LABEL(progress_.timeLeft), WindowTimeLeft(*snapshot).c_str());
    if (snapshot->phase == ProgressSnapshot::Phase::saving) {
      gtk_progress_bar_pulse(GTK_PROGRESS_BAR(progress_.bar));
    } else if (auto percent = snapshot->percent()) {
      gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(progress_.bar), *percent / 100.0);
    } else {
      gtk_progress_bar_pulse(GTK_PROGRESS_BAR(progress_.bar));
    }
  }

  void buildProgress() {
    GtkWidget* window = GTK_WIDGET(g_object_new(GTK_TYPE_WINDOW, "title", "Sharing with halvernsignet", "resizable",
                                                FALSE, "default-width", 380, nullptr));
    GtkWidget* content = gtk_box_new(GTK_ORIENTATION_VERTICAL, 8);
    SetMargins(content, 20);
    progress_.heading = Label(nullptr);
    progress_.bar = gtk_progress_bar_new();
    progress_.amount = Label(nullptr);
    progress_.timeLeft = Label("dim-label");
    gtk_box_append(GTK_BOX(content), progress_.heading);
    gtk_box_append(GTK_BOX(content), progress_.bar);
    gtk_box_append(GTK_BOX(content), progress_.amount);
    gtk_box_append(GTK_BOX(content), progress_.timeLeft);
    std::function<void()> cancelled;
    {
      std::lock_guard lock(mutex_);
      cancelled = progressCancelled_;
    }
    if (cancelled) addCancel(GTK_WINDOW(window), content);
    gtk_window_set_child(GTK_WINDOW(window), content);
    // The person may close it; without a Cancel, the copy goes on without it.
    g_signal_connect(window, "destroy", G_CALLBACK(+[](GtkWidget*, gpointer data) {
                       auto* self = static_cast<GtkDesktopDialogs*>(data);
                       self->progress_ = ProgressWidgets{};
                       self->progressDismissed_ = true;
                     }),
                     this);
    progress_.window = GTK_WINDOW(window);
    gtk_window_present(progress_.window);
  }

  // A Cancel button at the end of the window; it, and closing the window,
  // ask the share to stop. The window stays until the share is over.
  void addCancel(GtkWindow* window, GtkWidget* content) {
    GtkWidget* cancel = gtk_button_new_with_label("Cancel");
    gtk_widget_set_halign(cancel, GTK_ALIGN_END);
    gtk_widget_set_margin_top(cancel, 8);
    gtk_box_append(GTK_BOX(content), cancel);
    progress_.cancel = cancel;
    g_signal_connect(cancel, "clicked", G_CALLBACK(+[](GtkButton*, gpointer data) {
                       static_cast<GtkDesktopDialogs*>(data)->cancelProgress();
                     }),
                     this);
    g_signal_connect(window, "close-request", G_CALLBACK(+[](GtkWindow*, gpointer data) -> gboolean {
                       static_cast<GtkDesktopDialogs*>(data)->cancelProgress();
                       return TRUE;
                     }),
                     this);
  }

  void cancelProgress() {
    std::function<void()> cancelled;
    {
      std::lock_guard lock(mutex_);
      cancelled = std::exchange(progressCancelled_, nullptr);
    }
    if (!cancelled) return;
    if (progress_.cancel != nullptr) gtk_widget_set_sensitive(progress_.cancel, FALSE);
    if (progress_.heading != nullptr) SetBoldText(progress_.heading, "Cancelling...");
    cancelled();
  }

  void destroyProgress() {
    if (progress_.window != nullptr) gtk_window_destroy(progress_.window);
    progress_ = ProgressWidgets{};
    progressDismissed_ = false;
  }

  std::thread thread_;
  GMainLoop* loop_ = nullptr;

  std::mutex mutex_;
  std::condition_variable alertsClosed_;
  int openAlerts_ = 0;
  bool stopped_ = false;
  std::optional<ProgressSnapshot> latest_;
  bool updateQueued_ = false;
  std::function<void()> progressCancelled_;

  // GTK thread only.
  ProgressWidgets progress_;
  bool progressDismissed_ = false;
};

}  // namespace
}  // namespace platform::linux_platform

extern "C" __attribute__((visibility("default"))) platform::linux_platform::DesktopDialogs*
halvernsignet_create_desktop_dialogs() {
  return platform::linux_platform::GtkDesktopDialogs::Start();
}
