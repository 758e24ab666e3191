#pragma once
// The Preferences window: a toolbar with one toggle button per pane, in the order the panes
// were added, and the selected pane's view below it. Leaving a pane or closing the window asks
// the pane first (it may answer later, after a question to the user); nothing waits meanwhile.
// Escape and Ctrl+W close the window as its close button does. The window has a window group of
// its own, so a sheet made modal to it leaves the application's other windows usable.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "shell/preferences/PreferencesPane.h"

typedef struct _GtkWidget GtkWidget;
typedef struct _GtkWindow GtkWindow;

namespace wd {

class PreferencesWindowController {
 public:
  explicit PreferencesWindowController(std::string title);
  ~PreferencesWindowController();
  PreferencesWindowController(const PreferencesWindowController&) = delete;
  PreferencesWindowController& operator=(const PreferencesWindowController&) = delete;

  void addViewController(std::unique_ptr<PreferencesPane> pane);
  // Shows the window in front with the selected pane (the first one at first).
  void showWindow();
  // Selects the pane with that identifier; unknown identifiers change nothing. While the window
  // is shown the current pane is asked first and may keep itself (then, or while its answer is
  // outstanding, the answer is false).
  bool selectControllerWithIdentifier(const std::string& identifier);
  // The window's close button: the pane is asked first, then the window hides. `done` learns
  // whether the window closed (true at once when it is not shown; false while an answer is
  // outstanding already or when the pane keeps the window).
  void performClose(std::function<void(bool)> done = {});
  // Hides the window without asking the pane (it has just saved, for example).
  void close();
  bool isVisible() const;

  const std::string& title() const { return title_; }
  std::string selectedIdentifier() const;
  const std::vector<std::unique_ptr<PreferencesPane>>& panes() const { return panes_; }
  // Made on first use.
  GtkWindow* window();
  // True while a pane's answer to leaving it is outstanding.
  bool isCommitting() const { return committing_; }

  // A pane that only says its settings arrive later.
  static std::unique_ptr<PreferencesPane> placeholderPane(std::string identifier, std::string label,
                                                          std::string icon);

 private:
  void build();
  void select(std::size_t index);
  void switchTo(std::size_t index);
  void updateButtons();

  std::string title_;
  std::vector<std::unique_ptr<PreferencesPane>> panes_;
  std::vector<GtkWidget*> buttons_;
  GtkWidget* window_ = nullptr;
  GtkWidget* toolbar_ = nullptr;
  GtkWidget* stack_ = nullptr;
  std::size_t selected_ = 0;
  bool hasSelection_ = false;
  bool updatingButtons_ = false;
  bool committing_ = false;
  // Lets late answers of a pane find out whether this controller still exists.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace wd
