#pragma once
// The About window: the application's version and two requests that the hosted web client
// carries out, sending a suggestion and switching remote assistance on or off. The window only
// hands them to the main window controller, which raises "showFeedback" and "setWebAssist" in
// the main page (held until that page is ready). One window for the life of the application;
// closing it only hides it.
#include <string>

#include "core/GLibPtr.h"

typedef struct _GtkButton GtkButton;
typedef struct _GtkLabel GtkLabel;
typedef struct _GtkToggleButton GtkToggleButton;
typedef struct _GtkWindow GtkWindow;

namespace wd {

class MainWindowController;

class AboutWindowController {
 public:
  // Loads the layout "About" (window "window", label "version", button "suggestion", check box
  // "webAssist"), fills the version label's "%@" with the bundle version and centres the window
  // on its monitor. Without a usable layout there is no window and showing does nothing.
  AboutWindowController();
  ~AboutWindowController();
  AboutWindowController(const AboutWindowController&) = delete;
  AboutWindowController& operator=(const AboutWindowController&) = delete;

  // The controller the two requests go to (not owned: the application delegate owns both and
  // drops this window first).
  void withWindowController(MainWindowController* controller) {
    mainWindowController_ = controller;
  }
  MainWindowController* mainWindowController() const { return mainWindowController_; }

  // Shows the window in front (again after it was closed).
  void showWindow();

  // The suggestion button: "showFeedback" in the main page; nothing without a main controller.
  void onSendSugestion();
  // The check box: "setWebAssist" with {"enabled": "true"} when it is on, "false" when off.
  void onWebAssist();

  GtkWindow* window() const { return window_.get(); }
  GtkLabel* version() const { return version_; }
  GtkButton* suggestion() const { return suggestion_; }
  GtkToggleButton* webAssist() const { return webAssist_; }

 private:
  MainWindowController* mainWindowController_ = nullptr;
  GObjectRef<GtkWindow> window_;
  // Outlets, owned by the window.
  GtkLabel* version_ = nullptr;
  GtkButton* suggestion_ = nullptr;
  GtkToggleButton* webAssist_ = nullptr;
};

}  // namespace wd
