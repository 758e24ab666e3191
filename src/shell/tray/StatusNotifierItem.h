#pragma once
// One tray icon: a StatusNotifierItem (org.kde.StatusNotifierItem at /StatusNotifierItem) on the
// session bus under its own name org.kde.StatusNotifierItem-<pid>-<n>, registered with the
// desktop's org.kde.StatusNotifierWatcher whenever one is (or later comes) on the bus. It shows
// an icon (IconPixmap, ARGB32 in network byte order), an attention icon, a title (Title and the
// ToolTip's title) and, when given one, a menu exported over com.canonical.dbusmenu at /MenuBar
// (ItemIsMenu is then true, so hosts open the menu on a click). An item given no image shows the
// application's icon (IconName, and its pixels where the bundle holds the icon file), so a
// title-only item is visible with the title as its tooltip.
//
// Hosts read the properties once when the item registers and again only when a change signal
// tells them to (xfce4-panel re-reads on NewTitle, NewIcon, NewAttentionIcon, NewOverlayIcon and
// NewToolTip, takes only the status from NewStatus; KDE Plasma and GNOME's AppIndicator
// extension also listen to NewMenu). A menu set or taken away later is therefore announced with
// NewMenu, a PropertiesChanged of ItemIsMenu and Menu, and NewIcon. Activate (a left click the
// host did not turn into opening the menu) is passed to the click handler, menu or not.
//
// Where no watcher is on the bus (GNOME without its AppIndicator extension, a desktop without a
// tray) the item logs that once per process (info) and keeps its state; it registers when a
// watcher appears. Everything is asynchronous on the main loop; destroying the item releases its
// name, so hosts drop the icon.
#include <gio/gio.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace wd {

class StatusNotifierItem {
 public:
  static constexpr const char* kInterface = "org.kde.StatusNotifierItem";
  static constexpr const char* kObjectPath = "/StatusNotifierItem";
  static constexpr const char* kMenuPath = "/MenuBar";
  static constexpr const char* kWatcherName = "org.kde.StatusNotifierWatcher";
  static constexpr const char* kWatcherPath = "/StatusNotifierWatcher";

  // An icon as the protocol carries it: width, height and ARGB32 pixels in network byte order.
  struct Pixmap {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> argb;
  };
  // Largest icon side sent; larger images are scaled down to fit.
  static constexpr int kMaxIconSize = 256;
  // Loads an image file (any format gdk-pixbuf reads) as a pixmap, scaled down to fit `maxSize`;
  // none when it cannot.
  static std::optional<Pixmap> loadPixmap(const std::string& path, int maxSize = kMaxIconSize);
  // Side of the application icon sent for an item without an image of its own.
  static constexpr int kApplicationIconSize = 64;

  StatusNotifierItem();
  ~StatusNotifierItem();
  StatusNotifierItem(const StatusNotifierItem&) = delete;
  StatusNotifierItem& operator=(const StatusNotifierItem&) = delete;

  void setTitle(const std::string& title);
  void setIcon(std::optional<Pixmap> icon);
  void setAttentionIcon(std::optional<Pixmap> icon);
  // The menu (references are taken; nullptr: none) and the actions its items activate.
  void setMenu(GMenuModel* model, GActionGroup* actions);
  // Called on Activate.
  void setActivateHandler(std::function<void()> handler);

  // The bus name the item owns (empty until the bus is known).
  std::string busName() const;
  // True once a watcher accepted the registration.
  bool isRegistered() const;

  struct State;

 private:
  std::shared_ptr<State> state_;
};

}  // namespace wd
