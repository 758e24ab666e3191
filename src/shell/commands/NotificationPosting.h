#pragma once
// Posting and withdrawing desktop notifications for the page, shared by MacGap.notify and
// MacGap.Notify: reading the options object ("type", "id", "title", "content", "subtitle",
// "sound"), the "sheet" alert, the generated id, and withdrawing by the id the page gave.
#include <cstddef>
#include <optional>
#include <string>

#include "bridge/Value.h"

typedef struct _GtkWindow GtkWindow;

namespace wd {

class NotificationService;

namespace notifications {

// What the page is told about a delivered notification.
struct Posted {
  bridge::Value id;  // the page's id (a number's text as a string), else a fresh UUID
  std::optional<std::string> title;
};

// Type "sheet": a modal alert with the title and content on `sheetParent` (nothing when there
// is none); nothing is delivered. Any other type: a desktop notification delivered now, with the
// user data {"id"} and the default sound unless "sound" reads false.
std::optional<Posted> post(const std::optional<bridge::Dictionary>& options,
                           NotificationService& service, GtkWindow* sheetParent);

// Withdraws each delivered notification whose user-data "id" is `id` (every one for "*");
// returns how many were withdrawn.
std::size_t withdraw(NotificationService& service, const std::string& id);

// The truth value of an option as the platform reads it (booleans, numbers, strings starting
// with Y, y, T, t or a digit 1-9).
bool truthValue(const bridge::Value& v);
// A fresh identifier: a UUID in upper-case canonical form (8-4-4-4-12).
std::string makeUUID();

}  // namespace notifications
}  // namespace wd
