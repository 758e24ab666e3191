#include "shell/window/ContextMenuFilter.h"

#include <webkit2/webkit2.h>

namespace wd {

bool isFilteredContextMenuAction(int stockAction) {
  switch (static_cast<WebKitContextMenuAction>(stockAction)) {
    case WEBKIT_CONTEXT_MENU_ACTION_OPEN_LINK:
    case WEBKIT_CONTEXT_MENU_ACTION_OPEN_LINK_IN_NEW_WINDOW:
    case WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_LINK_TO_DISK:
    case WEBKIT_CONTEXT_MENU_ACTION_COPY_LINK_TO_CLIPBOARD:
    case WEBKIT_CONTEXT_MENU_ACTION_OPEN_IMAGE_IN_NEW_WINDOW:
    case WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_IMAGE_TO_DISK:
    case WEBKIT_CONTEXT_MENU_ACTION_COPY_IMAGE_TO_CLIPBOARD:
    case WEBKIT_CONTEXT_MENU_ACTION_COPY_IMAGE_URL_TO_CLIPBOARD:
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

}  // namespace wd
