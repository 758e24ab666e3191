#include "shell/window/ContextMenuFilter.h"

#include <webkit2/webkit2.h>

#include <string>

#include "core/I18n.h"

namespace wd {

namespace {

// What the Open Link item loads, and where; the view is held weakly.
struct LinkTarget {
  GWeakRef view;
  std::string uri;
};

void openLink(GSimpleAction*, GVariant*, gpointer data) {
  auto* target = static_cast<LinkTarget*>(data);
  if (gpointer view = g_weak_ref_get(&target->view)) {
    webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), target->uri.c_str());
    g_object_unref(view);
  }
}

void freeLinkTarget(gpointer data, GClosure*) {
  auto* target = static_cast<LinkTarget*>(data);
  g_weak_ref_clear(&target->view);
  delete target;
}

}  // namespace

bool isFilteredContextMenuAction(int stockAction) {
  switch (static_cast<WebKitContextMenuAction>(stockAction)) {
    case WEBKIT_CONTEXT_MENU_ACTION_OPEN_LINK_IN_NEW_WINDOW:
    case WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_LINK_TO_DISK:
    case WEBKIT_CONTEXT_MENU_ACTION_COPY_LINK_TO_CLIPBOARD:
    case WEBKIT_CONTEXT_MENU_ACTION_OPEN_IMAGE_IN_NEW_WINDOW:
    case WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_IMAGE_TO_DISK:
    case WEBKIT_CONTEXT_MENU_ACTION_COPY_IMAGE_TO_CLIPBOARD:
    case WEBKIT_CONTEXT_MENU_ACTION_OPEN_FRAME_IN_NEW_WINDOW:
    case WEBKIT_CONTEXT_MENU_ACTION_GO_BACK:
    case WEBKIT_CONTEXT_MENU_ACTION_GO_FORWARD:
    case WEBKIT_CONTEXT_MENU_ACTION_STOP:
    case WEBKIT_CONTEXT_MENU_ACTION_RELOAD:
      return true;
    default:
      return false;
  }
}

void filterContextMenu(WebKitContextMenu* menu) {
  if (!menu) return;
  GList* items = g_list_copy(webkit_context_menu_get_items(menu));
  for (GList* l = items; l; l = l->next) {
    auto* item = WEBKIT_CONTEXT_MENU_ITEM(l->data);
    if (isFilteredContextMenuAction(webkit_context_menu_item_get_stock_action(item))) {
      webkit_context_menu_remove(menu, item);
      continue;
    }
    if (WebKitContextMenu* sub = webkit_context_menu_item_get_submenu(item)) filterContextMenu(sub);
  }
  g_list_free(items);
  // A separator left at either end, or two in a row, is dropped too.
  GList* current = webkit_context_menu_get_items(menu);
  bool previousWasSeparator = true;
  GList* copy = g_list_copy(current);
  for (GList* l = copy; l; l = l->next) {
    auto* item = WEBKIT_CONTEXT_MENU_ITEM(l->data);
    bool separator = webkit_context_menu_item_is_separator(item);
    if (separator && (previousWasSeparator || l->next == nullptr)) {
      webkit_context_menu_remove(menu, item);
      continue;
    }
    previousWasSeparator = separator;
  }
  g_list_free(copy);
}

void routeOpenLink(WebKitContextMenu* menu, WebKitWebView* view, const char* linkUri) {
  if (!menu || !view || !linkUri || !*linkUri) return;
  int position = 0;
  for (GList* l = webkit_context_menu_get_items(menu); l; l = l->next, ++position) {
    auto* item = WEBKIT_CONTEXT_MENU_ITEM(l->data);
    if (webkit_context_menu_item_get_stock_action(item) != WEBKIT_CONTEXT_MENU_ACTION_OPEN_LINK)
      continue;
    auto* target = new LinkTarget{{}, linkUri};
    g_weak_ref_init(&target->view, view);
    GSimpleAction* action = g_simple_action_new("open-link", nullptr);
    g_signal_connect_data(action, "activate", G_CALLBACK(openLink), target, freeLinkTarget,
                          GConnectFlags(0));
    webkit_context_menu_insert(
        menu, webkit_context_menu_item_new_from_gaction(G_ACTION(action), _("_Open Link"), nullptr),
        position);
    g_object_unref(action);
    webkit_context_menu_remove(menu, item);
    return;
  }
}

}  // namespace wd
