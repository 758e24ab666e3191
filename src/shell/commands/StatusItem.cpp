#include "shell/commands/StatusItem.h"

#include "bridge/Exports.h"
#include "core/Bundle.h"
#include "shell/tray/MenuModelProvider.h"
#include "shell/tray/StatusNotifierItem.h"
#include "shell/window/WebWindow.h"

namespace wd {

namespace {

std::optional<StatusNotifierItem::Pixmap> imageOption(const bridge::Dictionary& options,
                                                      const char* key) {
  const std::string* relative = options.get(key).asString();
  if (!relative || relative->empty() || relative->find('\0') != std::string::npos)
    return std::nullopt;
  auto path = pathForResource(*relative);
  return path ? StatusNotifierItem::loadPixmap(*path) : std::nullopt;
}

}  // namespace

StatusItem::StatusItem(std::weak_ptr<bridge::WindowHandle> window)
    : bridge::Command(std::move(window)) {}

StatusItem::~StatusItem() = default;

const bridge::ClassInfo& StatusItem::scriptClass() const {
  return exports();
}

const bridge::ClassInfo& StatusItem::exports() {
  static const bridge::ClassInfo& info =
      bridge::ClassBuilder<StatusItem>("StatusItem")
          .summary("An icon in the desktop's tray (StatusNotifierItem) with a title and a menu.")
          .event({"statusItemClick", "{}",
                  "The tray icon was clicked while it has no menu and no \"onClick\"."})
          .method("createItem:__JS_EXPORT_AS__create:", &StatusItem::createItem)
          .doc({.summary = "Makes the tray icon, replacing this object's earlier one; images are "
                           "resource paths.",
                .params = {"options: { title?: string; titleFontSize?: number; image?: string; "
                           "alternateImage?: string; onClick?: () => void }"},
                .refused = "an icon without title or image"})
          .property("title", &StatusItem::title, &StatusItem::setTitle)
          .doc({.summary = "The icon's title (its tooltip); undefined before any.",
                .result = "string | undefined"})
          .property("menu", &StatusItem::menu, &StatusItem::setMenu)
          .doc(
              {.summary =
                   "The menu the icon opens when clicked (a `create`d menu of type \"statusbar\").",
               .result = "MacGapMenu | null | undefined"})
          .build();
  return info;
}

void StatusItem::createItem(std::optional<bridge::Dictionary> given) {
  const bridge::Dictionary options = given.value_or(bridge::Dictionary());
  if (const bridge::Value& onClick = options.get("onClick"); !onClick.isUndefined()) {
    hasCallback_ = true;
    callback_ = onClick.asScript();
  }
  if (auto size = options.get("titleFontSize").asNumber()) titleFontSize_ = *size;
  auto image = imageOption(options, "image");
  auto alternate = imageOption(options, "alternateImage");

  item_.reset();  // the earlier icon leaves the tray
  item_ = std::make_unique<StatusNotifierItem>();
  if (options.get("title").isString()) setTitle(*options.get("title").asString());
  item_->setIcon(std::move(image));
  item_->setAttentionIcon(std::move(alternate));
  item_->setActivateHandler([this] { itemClicked(); });
}

bridge::Value StatusItem::title() const {
  if (title_) return bridge::Value(*title_);
  return {};
}

void StatusItem::setTitle(std::optional<std::string> title) {
  if (!item_) return;
  title_ = title.value_or("");
  item_->setTitle(*title_);
}

void StatusItem::setMenu(bridge::Value menu) {
  menu_ = std::move(menu);
  if (!item_) return;
  auto provider = std::dynamic_pointer_cast<MenuModelProvider>(menu_.asObject());
  item_->setMenu(provider ? provider->menuModel() : nullptr,
                 provider ? provider->menuActions() : nullptr);
}

void StatusItem::itemClicked() {
  if (hasCallback_) {
    callback_.call();
    return;
  }
  if (auto window = std::dynamic_pointer_cast<WebWindow>(windowController()))
    window->pageEvents().raise("statusItemClick", Json::object());
}

}  // namespace wd
