#pragma once
// MacGap.Dialog: the toolkit's file choosers for the page. openDialog lets the user pick files
// or folders in a window of its own; saveDialog asks where to save, as a sheet on the web window
// (transient for it and modal). Both return at once; the page's "callback" gets the choice when
// the user confirms and nothing is called when the user cancels. Both go through
// GtkFileChooserNative, so a desktop portal is used where one is in charge. One dialog of this
// object is on screen at a time: a call while one is showing does nothing, so a page cannot
// flood the desktop with windows.
#include <memory>
#include <optional>

#include "bridge/Command.h"
#include "bridge/Value.h"

namespace wd {

class Dialog : public bridge::Command {
 public:
  explicit Dialog(std::weak_ptr<bridge::WindowHandle> window);
  ~Dialog() override;
  const bridge::ClassInfo& scriptClass() const override;
  // The exports table, reachable without an object (the page API generator reads it).
  static const bridge::ClassInfo& exports();

  // Options "files", "directories", "multiple" (ToBoolean, absent is false) and "callback".
  // Folders only when "directories" is set and "files" is not; files otherwise (the toolkit
  // cannot offer both in one dialog). The callback receives the chosen paths in the dialog's
  // order (items without a local path are left out).
  void openDialog(std::optional<bridge::Dictionary> options);
  // Options "title", "prompt", "message", "filename", "directory" (a file URL), "createDirs",
  // "allowedTypes" (file name extensions) and "callback"; see Dialog.cpp for how each maps. The
  // callback receives {"directory", "filePath", "filename"}.
  void saveDialog(std::optional<bridge::Dictionary> options);

 private:
  // Alive while this object's dialog is on screen.
  std::weak_ptr<void> shown_;
};

}  // namespace wd
