#include "shell/cookies/EngineCookies.h"

#include <libsoup/soup.h>
#include <webkit2/webkit2.h>

#include <algorithm>
#include <cstdint>
#include <list>
#include <optional>
#include <utility>
#include <vector>

#include "core/GLibPtr.h"
#include "shell/cookies/BSHTTPCookieStorage.h"
#include "shell/cookies/Cookie.h"

namespace wd {

namespace {

struct SoupCookieFree {
  void operator()(SoupCookie* c) const {
    if (c) soup_cookie_free(c);
  }
};
using SoupCookiePtr = std::unique_ptr<SoupCookie, SoupCookieFree>;

bool sameKey(SoupCookie* a, SoupCookie* b) {
  return g_strcmp0(soup_cookie_get_name(a), soup_cookie_get_name(b)) == 0 &&
         g_ascii_strcasecmp(soup_cookie_get_domain(a), soup_cookie_get_domain(b)) == 0 &&
         g_strcmp0(soup_cookie_get_path(a), soup_cookie_get_path(b)) == 0;
}

bool sameCookie(SoupCookie* a, SoupCookie* b) {
  return sameKey(a, b) && g_strcmp0(soup_cookie_get_value(a), soup_cookie_get_value(b)) == 0;
}

cookies::Cookie toCookie(SoupCookie* c) {
  cookies::Cookie cookie{.name = soup_cookie_get_name(c),
                         .value = soup_cookie_get_value(c),
                         .domain = soup_cookie_get_domain(c),
                         .path = soup_cookie_get_path(c)};
  if (GDateTime* expires = soup_cookie_get_expires(c))
    cookie.expires = g_date_time_to_unix(expires);
  cookie.secure = soup_cookie_get_secure(c);
  cookie.httpOnly = soup_cookie_get_http_only(c);
  switch (soup_cookie_get_same_site_policy(c)) {
    case SOUP_SAME_SITE_POLICY_NONE:
      cookie.sameSite = "None";
      break;
    case SOUP_SAME_SITE_POLICY_LAX:
      cookie.sameSite = "Lax";
      break;
    case SOUP_SAME_SITE_POLICY_STRICT:
      cookie.sameSite = "Strict";
      break;
  }
  return cookie;
}

// What every call into the cookie manager carries: the state to report to (weakly) and a
// reference to the web context. The engine's cookie manager must not outlive its context, and
// the call's task holds the manager until after the call's callback has returned, so the
// context is released from an idle callback, once the task is gone.
template <class State>
struct Call {
  std::weak_ptr<State> state;
  GObjectRef<WebKitWebContext> context;
  std::uint64_t number = 0;

  static void done(GObject*, GAsyncResult*, gpointer data) {
    release(std::unique_ptr<Call>(static_cast<Call*>(data)));
  }
  static void release(std::unique_ptr<Call> call) {
    g_idle_add_full(
        G_PRIORITY_DEFAULT_IDLE,
        +[](gpointer held) {
          g_object_unref(held);
          return G_SOURCE_REMOVE;
        },
        call->context.release(), nullptr);
  }
};

}  // namespace

struct EngineCookies::State : std::enable_shared_from_this<State> {
  struct Handover {
    std::uint64_t id = 0;
    std::vector<SoupCookiePtr> added;
    std::vector<SoupCookiePtr> previous;
    // Jar cookies of the same names under other keys, out of the jar for the hand-over.
    std::vector<SoupCookiePtr> removed;
    std::vector<std::string> names;  // the names handed over
    guint timer = 0;
    // Set when restored: the number of jar reads started by then. Its cookies are left out of
    // the store until a read started later has finished.
    std::optional<std::uint64_t> restoredAfterRead;
  };

  GObjectRef<WebKitWebContext> context;
  WebKitCookieManager* manager = nullptr;  // the context's
  std::shared_ptr<BSHTTPCookieStorage> store;
  gulong changedHandler = 0;
  std::vector<SoupCookiePtr> jar;  // the jar as last read
  bool reading = false, readAgain = false;
  std::uint64_t readsStarted = 0;
  std::uint64_t nextHandover = 1;
  std::list<Handover> handovers;

  std::unique_ptr<Call<State>> call(std::uint64_t number = 0) {
    return std::unique_ptr<Call<State>>(
        new Call<State>{weak_from_this(), refObject(context.get()), number});
  }
  void add(SoupCookie* cookie) {
    webkit_cookie_manager_add_cookie(manager, cookie, nullptr, &Call<State>::done,
                                     call().release());
  }
  void remove(SoupCookie* cookie) {
    webkit_cookie_manager_delete_cookie(manager, cookie, nullptr, &Call<State>::done,
                                        call().release());
  }

  void read() {
    if (reading) {
      readAgain = true;
      return;
    }
    reading = true;
    webkit_cookie_manager_get_all_cookies(manager, nullptr, &State::onRead,
                                          call(++readsStarted).release());
  }

  static void onRead(GObject* source, GAsyncResult* result, gpointer data) {
    std::unique_ptr<Call<State>> read(static_cast<Call<State>*>(data));
    GList* list = webkit_cookie_manager_get_all_cookies_finish(WEBKIT_COOKIE_MANAGER(source),
                                                               result, nullptr);
    std::vector<SoupCookiePtr> held;
    for (GList* l = list; l; l = l->next) held.emplace_back(static_cast<SoupCookie*>(l->data));
    g_list_free(list);
    if (auto state = read->state.lock()) state->took(std::move(held), read->number);
    Call<State>::release(std::move(read));
  }

  bool fromHandover(SoupCookie* cookie) const {
    for (const auto& h : handovers)
      for (const auto& added : h.added)
        if (sameCookie(added.get(), cookie)) return true;
    return false;
  }

  void took(std::vector<SoupCookiePtr> held, std::uint64_t number) {
    jar = std::move(held);
    std::vector<cookies::Cookie> found;
    for (const auto& c : jar)
      if (!fromHandover(c.get())) found.push_back(toCookie(c.get()));
    store->loadCookies(found);
    handovers.remove_if([number](const Handover& h) {
      return h.restoredAfterRead && *h.restoredAfterRead < number;
    });
    reading = false;
    if (std::exchange(readAgain, false)) read();
  }

  SoupCookie* inJar(SoupCookie* key) const {
    for (const auto& c : jar)
      if (sameKey(c.get(), key)) return c.get();
    return nullptr;
  }

  void inject(const std::string& url) {
    auto parsed = cookies::parseCookieURL(url);
    if (!parsed || parsed->host.empty()) return;
    // The handshake's URL as the jar matches it (ws -> http, wss -> https).
    std::string httpUrl = url;
    const bool secure = g_ascii_strncasecmp(url.c_str(), "wss:", 4) == 0 ||
                        g_ascii_strncasecmp(url.c_str(), "https:", 6) == 0;
    if (g_ascii_strncasecmp(url.c_str(), "ws", 2) == 0) httpUrl.replace(0, 2, "http");
    GUri* target =
        g_uri_parse(httpUrl.c_str(), static_cast<GUriFlags>(SOUP_HTTP_URI_FLAGS), nullptr);
    if (!target) return;
    const auto found = store->cookiesForURL(url);
    Handover handover{.id = nextHandover++};
    for (const auto& cookie : found) {
      if (cookie.secure && !secure) continue;  // never over a plain connection
      SoupCookiePtr copy(soup_cookie_new(cookie.name.c_str(), cookie.value.c_str(),
                                         parsed->host.c_str(), parsed->encodedPath.c_str(), -1));
      if (std::find(handover.names.begin(), handover.names.end(), cookie.name) !=
          handover.names.end())
        continue;  // one cookie per name: the first the store gives
      // The jar's cookies of that name that the handshake would carry: one with the same value
      // goes instead of a copy; the others leave the jar for the hand-over (the one under the
      // copy's own key is replaced by it below), so each name goes once.
      SoupCookie* kept = nullptr;
      for (const auto& held : jar)
        if (g_strcmp0(soup_cookie_get_name(held.get()), cookie.name.c_str()) == 0 &&
            soup_cookie_applies_to_uri(held.get(), target) &&
            g_strcmp0(soup_cookie_get_value(held.get()), cookie.value.c_str()) == 0) {
          kept = held.get();
          break;
        }
      for (const auto& held : jar)
        if (held.get() != kept &&
            g_strcmp0(soup_cookie_get_name(held.get()), cookie.name.c_str()) == 0 &&
            soup_cookie_applies_to_uri(held.get(), target) &&
            (kept || !sameKey(held.get(), copy.get()))) {
          handover.removed.emplace_back(soup_cookie_copy(held.get()));
          remove(held.get());
        }
      if (kept) {
        handover.names.push_back(cookie.name);
        continue;
      }
      soup_cookie_set_secure(copy.get(), cookie.secure);
      soup_cookie_set_http_only(copy.get(), cookie.httpOnly);
      soup_cookie_set_same_site_policy(copy.get(), SOUP_SAME_SITE_POLICY_NONE);
      if (SoupCookie* held = inJar(copy.get()))
        handover.previous.emplace_back(soup_cookie_copy(held));
      add(copy.get());
      handover.added.push_back(std::move(copy));
      handover.names.push_back(cookie.name);
    }
    g_uri_unref(target);
    if (handover.added.empty() && handover.removed.empty()) return;
    struct Timer {
      std::weak_ptr<State> state;
      std::uint64_t id;
    };
    handover.timer = g_timeout_add_full(
        G_PRIORITY_DEFAULT, kHandoverMilliseconds,
        +[](gpointer data) -> gboolean {
          auto* timer = static_cast<Timer*>(data);
          if (auto state = timer->state.lock()) state->restore(timer->id);
          return G_SOURCE_REMOVE;
        },
        new Timer{weak_from_this(), handover.id},
        +[](gpointer data) { delete static_cast<Timer*>(data); });
    handovers.push_back(std::move(handover));
  }

  void restore(std::uint64_t id) {
    for (auto& h : handovers) {
      if (h.id != id) continue;
      h.timer = 0;
      for (const auto& added : h.added) {
        SoupCookie* now = inJar(added.get());
        // The server set this key again meanwhile: its cookie stays.
        if (now && !sameCookie(now, added.get())) continue;
        SoupCookie* previous = nullptr;
        for (const auto& p : h.previous)
          if (sameKey(p.get(), added.get())) previous = p.get();
        if (previous)
          add(previous);
        else
          remove(added.get());
      }
      for (const auto& gone : h.removed)
        if (!inJar(gone.get())) add(gone.get());  // unless the server has set it again
      h.restoredAfterRead = readsStarted;
      read();
      return;
    }
  }

  ~State() {
    for (auto& h : handovers)
      if (h.timer) g_source_remove(h.timer);
    if (changedHandler) g_signal_handler_disconnect(manager, changedHandler);
  }
};

EngineCookies::EngineCookies(WebKitWebContext* context, std::shared_ptr<BSHTTPCookieStorage> store)
    : state_(std::make_shared<State>()) {
  state_->context = refObject(context);
  WebKitCookieManager* manager = webkit_web_context_get_cookie_manager(context);
  state_->manager = manager;
  state_->store = store ? std::move(store) : std::make_shared<BSHTTPCookieStorage>();
  state_->changedHandler = g_signal_connect(
      manager, "changed",
      G_CALLBACK(+[](WebKitCookieManager*, gpointer data) { static_cast<State*>(data)->read(); }),
      state_.get());
  state_->read();
}

EngineCookies::~EngineCookies() = default;

void EngineCookies::injectCookiesForWebSocket(const std::string& url) {
  state_->inject(url);
}

BSHTTPCookieStorage& EngineCookies::store() const {
  return *state_->store;
}

std::size_t EngineCookies::pendingHandovers() const {
  std::size_t n = 0;
  for (const auto& h : state_->handovers) n += h.timer != 0;
  return n;
}

}  // namespace wd
