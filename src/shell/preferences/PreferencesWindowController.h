#pragma once
// The Preferences window: a toolbar with one toggle button per pane, in the order the panes
// were added, and the selected pane's view below it.
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
  // Selects the pane with that identifier; unknown identifiers change nothing. False when the
  // current pane refuses to let go (it could not commit its edits) or none matches.
  bool selectControllerWithIdentifier(const std::string& identifier);

  const std::string& title() const { return title_; }
  std::string selectedIdentifier() const;
  const std::vector<std::unique_ptr<PreferencesPane>>& panes() const { return panes_; }
  GtkWindow* window() const;

  // A pane that only says its settings arrive later.
  static std::unique_ptr<PreferencesPane> placeholderPane(std::string identifier, std::string label,
                                                          std::string icon);

 private:
  void build();
  void select(std::size_t index);

  std::string title_;
  std::vector<std::unique_ptr<PreferencesPane>> panes_;
  std::vector<GtkWidget*> buttons_;
  GtkWidget* window_ = nullptr;
  GtkWidget* toolbar_ = nullptr;
  GtkWidget* stack_ = nullptr;
  std::size_t selected_ = 0;
  bool hasSelection_ = false;
  bool updatingButtons_ = false;
};

}  // namespace wd
