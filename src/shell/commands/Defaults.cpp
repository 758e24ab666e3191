// The page's settings object: the key rule, the typed reads and writes over the settings store,
// the secure values in the keychain store, and the change event raised in the page.
#include "shell/commands/Defaults.h"

#include <glib.h>

#include "bridge/Exports.h"
#include "core/UserDefaults.h"
#include "keychain/PDKeychainBindings.h"
#include "shell/ShellContext.h"
#include "shell/commands/ScriptConversions.h"
#include "shell/commands/ScriptNumbers.h"
#include "shell/window/WebWindow.h"

namespace wd {

namespace {

bool hasPrefix(const std::string& key) {
  return key.starts_with(Defaults::kPrefix);
}

}  // namespace

Defaults::Defaults(std::weak_ptr<bridge::WindowHandle> window, ShellContext& context)
    : bridge::Command(std::move(window)), context_(context) {
  observation_ = context_.center().addObserver(
      UserDefaults::kDidChangeNotification,
      [this](const Notification& notification) { defaultsChanged(notification); });
}

Defaults::~Defaults() = default;

const bridge::ClassInfo& Defaults::scriptClass() const {
  return exports();
}

const bridge::ClassInfo& Defaults::exports() {
  static const bridge::ClassInfo& info =
      bridge::ClassBuilder<Defaults>("Defaults")
          .summary(
              "The application's settings and the keyring's secure values, under keys prefixed "
              "\"MacGap_\".")
          .event({"userDefaultsChanged", "Record<string, unknown>",
                  "A \"MacGap_\" setting changed: every \"MacGap_\" setting."})
          .method("get:ofType:__JS_EXPORT_AS__get:", &Defaults::get)
          .doc({.summary = "The setting, read as the type (\"string\" when none).",
                .params =
                    {"key",
                     "type?: \"string\" | \"int\" | \"bool\" | \"float\" | \"url\" | \"object\""},
                .result = "string | number | boolean | Record<string, unknown> | undefined",
                .refused = "undefined"})
          .method("setKey:withValue:ofType:__JS_EXPORT_AS__set:", &Defaults::setKey)
          .doc({.summary = "Stores the setting as the type (\"string\" when none); \"url\" stores "
                           "absolute URLs only and removes the setting otherwise.",
                .params = {"key", "value: unknown",
                           "type?: \"string\" | \"int\" | \"bool\" | \"float\" | \"url\""},
                .refused = "nothing is stored"})
          .method("getSecure:ofType:__JS_EXPORT_AS__getSecure:", &Defaults::getSecure)
          .doc({.summary = "The secure value from the keyring (the type has no effect).",
                .params = {"key", "type?: string"},
                .result = "string | undefined",
                .refused = "undefined"})
          .method("setSecureKey:withValue:__JS_EXPORT_AS__setSecure:", &Defaults::setSecureKey)
          .doc({.summary = "Stores the secure value in the keyring.",
                .params = {"key", "value?"},
                .refused = "a missing value removes it"})
          .method("remove:", &Defaults::remove)
          .doc({.summary = "Removes the setting.", .params = {"key"}, .refused = "nothing happens"})
          .property("defaults", &Defaults::defaults)
          .doc({.summary = "Every setting whose key starts with \"MacGap_\".",
                .result = "Record<string, unknown>"})
          .build();
  return info;
}

std::string Defaults::addPrefix(const std::string& key) {
  return hasPrefix(key) ? key : kPrefix + key;
}

bridge::Value Defaults::get(std::optional<std::string> key, std::optional<std::string> type) {
  if (!key) return {};
  const std::string name = addPrefix(*key);
  const std::string kind = type.value_or("string");
  UserDefaults& store = context_.defaults();
  if (kind == "string") return store.stringForKey(name);
  if (kind == "int") return store.integerForKey(name);
  if (kind == "bool") return store.boolForKey(name);
  if (kind == "float") return static_cast<double>(static_cast<float>(store.doubleForKey(name)));
  if (kind == "url") {
    auto stored = store.stringForKey(name);
    return stored ? urlFromStored(*stored) : std::nullopt;
  }
  if (kind == "object") {
    auto dictionary = store.dictionaryForKey(name);
    return dictionary ? bridge::Value::fromJson(*dictionary) : bridge::Value();
  }
  return {};
}

void Defaults::setKey(std::optional<std::string> key, bridge::Value value,
                      std::optional<std::string> type) {
  if (!key) return;
  const std::string name = addPrefix(*key);
  const std::string kind = type.value_or("string");
  UserDefaults& store = context_.defaults();
  if (kind == "string") {
    // Page functions and native objects have no text here: nothing is stored.
    if (auto text = script::toString(value)) store.setString(name, *text);
  } else if (kind == "int") {
    store.setInteger(name, script::toInt32(script::toNumber(value)));
  } else if (kind == "bool") {
    store.setBool(name, script::toBoolean(value));
  } else if (kind == "float") {
    store.setDouble(name, static_cast<double>(static_cast<float>(script::toNumber(value))));
  } else if (kind == "url") {
    auto text = script::toString(value);
    if (auto url = text ? urlTextToStore(*text) : std::nullopt)
      store.setString(name, *url);
    else
      store.removeObjectForKey(name);  // no URL: as storing none
  }
}

bridge::Value Defaults::getSecure(std::optional<std::string> key, std::optional<std::string>) {
  if (!key) return {};
  return context_.keychain().keychainBindings().stringForKey(addPrefix(*key));
}

void Defaults::setSecureKey(std::optional<std::string> key, std::optional<std::string> value) {
  if (!key) return;
  context_.keychain().keychainBindings().setString(value, addPrefix(*key));
}

void Defaults::remove(std::optional<std::string> key) {
  if (!key) return;
  UserDefaults& store = context_.defaults();
  store.removeObjectForKey(addPrefix(*key));
  store.synchronize();
}

bridge::Value Defaults::defaults() const {
  return bridge::Value::fromJson(defaultsDictionary());
}

Json Defaults::defaultsDictionary() const {
  Json out = Json::object();
  const Json all = context_.defaults().dictionaryRepresentation();
  if (!all.is_object()) return out;
  for (const auto& [key, value] : all.items())
    if (hasPrefix(key)) out[key] = value;
  return out;
}

std::optional<std::string> Defaults::urlTextToStore(const std::string& text) {
  if (text.find('\0') != std::string::npos) return std::nullopt;
  if (!g_uri_is_valid(text.c_str(), G_URI_FLAGS_ENCODED, nullptr)) return std::nullopt;
  return text;
}

std::optional<std::string> Defaults::urlFromStored(const std::string& stored) {
  if (stored.find('\0') != std::string::npos) return std::nullopt;
  if (g_uri_is_valid(stored.c_str(), G_URI_FLAGS_ENCODED, nullptr)) return stored;
  // A path setting read as a URL: its file URL ("~" is the home folder).
  std::string path = stored;
  if (path == "~" || path.starts_with("~/")) path = g_get_home_dir() + path.substr(1);
  if (!g_path_is_absolute(path.c_str())) return std::nullopt;
  g_autofree gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
  if (!uri) return std::nullopt;
  return std::string(uri);
}

void Defaults::defaultsChanged(const Notification&) {
  // Every change of the settings is raised, whichever key it touched: the page hears that the
  // settings changed and reads their present state from the data.
  if (auto window = std::dynamic_pointer_cast<WebWindow>(windowController()))
    window->pageEvents().raise("userDefaultsChanged", defaultsDictionary());
}

}  // namespace wd
