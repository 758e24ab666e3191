#pragma once
// The page's context menu without the items that would navigate, download or open windows
// behind the application's back: opening links, images and frames in new windows, downloading
// and copying links and images, back, forward, stop and reload. Open Link, Copy Image Address,
// copy, cut, paste, spelling and everything else stay, in order. Open Link is the
// application's own item: it loads the link through the window's navigation policy.
typedef struct _WebKitContextMenu WebKitContextMenu;
typedef struct _WebKitWebView WebKitWebView;

namespace wd {

// True when the stock action (WebKitContextMenuAction) is one the page's menu must not offer.
bool isFilteredContextMenuAction(int stockAction);
// Removes those items from `menu` (submenus included).
void filterContextMenu(WebKitContextMenu* menu);
// Replaces the engine's Open Link item of `menu` with one that loads `linkUri` in `view`, where
// the navigation policy decides about it as about any load (in place, the browser, a download
// or nothing). The engine's own item opens a link that targets a new window in a new window of
// the application, past the rule that sends such links to the browser.
void routeOpenLink(WebKitContextMenu* menu, WebKitWebView* view, const char* linkUri);

}  // namespace wd
