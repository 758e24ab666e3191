#pragma once
// The web inspector of a window's web view ("developer extras") follows the settings: it is on
// while `developer` or `MacGap_enableDeveloperMode` (the General pane's switch) is true, and
// changes in open windows as soon as either setting changes.
#include "core/NotificationCenter.h"

typedef struct _WebKitWebView WebKitWebView;

namespace wd {

class UserDefaults;

bool developerExtrasEnabled(const UserDefaults& defaults);
// Keeps `view`'s developer extras in step with the settings while the token lives; the token
// must go before the view does.
[[nodiscard]] NotificationCenter::Token followDeveloperExtras(NotificationCenter& center,
                                                              const UserDefaults& defaults,
                                                              WebKitWebView* view);

}  // namespace wd
