#pragma once
// MacGap.StatusItem: one tray icon for the page (a StatusNotifierItem; see
// shell/tray/StatusNotifierItem.h). `create` makes the icon, replacing this object's earlier
// one, from the options "title", "titleFontSize", "image" and "alternateImage" (resource paths,
// "a/b/file.png") and "onClick". A click on an icon without a menu calls "onClick" (the last one
// given), else raises "statusItemClick" on the page's document. `menu` takes the native menu of
// a Menu wrapper: assigning gives the current icon that menu (hosts then open it on a click);
// a menu assigned before `create` is kept but given to no icon until assigned again. `title`
// reads the text last assigned (undefined before any). Tray hosts draw no text next to the
// icon: the title is the item's Title and tooltip, and "titleFontSize" is kept without effect.
// The alternate image is the item's attention icon.
#include <memory>
#include <optional>
#include <string>

#include "bridge/Command.h"
#include "bridge/ScriptValue.h"
#include "bridge/Value.h"

namespace wd {

class StatusNotifierItem;

class StatusItem : public bridge::Command {
 public:
  explicit StatusItem(std::weak_ptr<bridge::WindowHandle> window);
  ~StatusItem() override;
  const bridge::ClassInfo& scriptClass() const override;
  // The exports table, reachable without an object (the page API generator reads it).
  static const bridge::ClassInfo& exports();

  void createItem(std::optional<bridge::Dictionary> options);
  bridge::Value title() const;
  void setTitle(std::optional<std::string> title);
  bridge::Value menu() const { return menu_; }
  void setMenu(bridge::Value menu);

  // The icon made by the last `create` (none before).
  StatusNotifierItem* item() const { return item_.get(); }
  // The icon was clicked (Activate).
  void itemClicked();

 private:
  std::unique_ptr<StatusNotifierItem> item_;
  bool hasCallback_ = false;  // "onClick" was given (a value that is no function does nothing)
  bridge::ScriptValue callback_;
  std::optional<double> titleFontSize_;
  bridge::Value menu_;
  std::optional<std::string> title_;
};

}  // namespace wd
