#pragma once
// The page's context menu without the items that would navigate, download or open windows
// behind the application's back: open, download and copy of links, images and frames, back,
// forward, stop and reload. Copy, cut, paste, spelling and everything else stay, in order.
typedef struct _WebKitContextMenu WebKitContextMenu;

namespace wd {

// True when the stock action (WebKitContextMenuAction) is one the page's menu must not offer.
bool isFilteredContextMenuAction(int stockAction);
// Removes those items from `menu` (submenus included).
void filterContextMenu(WebKitContextMenu* menu);

}  // namespace wd
