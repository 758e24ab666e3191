#pragma once
// Application-wide operations on the windowing system: quit, bring to the front, hide and show
// all windows, the alert sound and the attention request. The GTK implementation works on the
// GtkApplication's windows; tests use a double.
#include <memory>

typedef struct _GtkApplication GtkApplication;
typedef struct _GtkWindow GtkWindow;

namespace wd {

class ApplicationControl {
 public:
  virtual ~ApplicationControl() = default;
  virtual void terminate() = 0;
  // Brings the application to the front: its most recent visible window gets the focus.
  virtual void activate() = 0;
  // Hides every window of the application / shows again the windows hidden that way.
  virtual void hide() = 0;
  virtual void unhide() = 0;
  virtual void beep() = 0;
  // Asks for the user's attention (urgency hint) until the application is activated.
  virtual void requestUserAttention() = 0;
  // True when some window of the application is shown.
  virtual bool hasVisibleWindows() const = 0;
};

// The real implementation on a GtkApplication.
class GtkApplicationControl : public ApplicationControl {
 public:
  explicit GtkApplicationControl(GtkApplication* app);
  ~GtkApplicationControl() override;
  void terminate() override;
  void activate() override;
  void hide() override;
  void unhide() override;
  void beep() override;
  void requestUserAttention() override;
  bool hasVisibleWindows() const override;

  // The main window (for attention requests and sheets), set by the application delegate.
  void setMainWindow(GtkWindow* window) { mainWindow_ = window; }

  // How long an attention request (urgency hint) lasts unless a window is focused first.
  static constexpr unsigned kAttentionSeconds = 2;

 private:
  GtkApplication* app_;
  GtkWindow* mainWindow_ = nullptr;
  struct Attention;
  std::unique_ptr<Attention> attention_;
  struct Hidden;
  std::unique_ptr<Hidden> hidden_;
};

}  // namespace wd
