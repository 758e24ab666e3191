#pragma once
// What a web window does with a navigation of any of its frames: load it in place, refuse it, or
// refuse it and hand it to the user's default browser, or (attachment links) hand it to the
// attachment download. A pure function of the request's URL and the URL the main frame shows;
// the WebKitGTK glue (WebViewDelegate) only reads the action and applies the answer.
//
// The rules work on the URL as sent. A URL whose path has a dot segment, or a segment that
// decodes to one or to text holding "/" or "\" (so the server would see other segments than
// the rules), is refused silently. Then, first match wins: "file", "about", "ws", "wss" load in
// place; a path beginning with "/webmail/api/download/source" loads; an HTTPS URL of the
// feedback or web-assist host or of a host below it (ending in "." + that host), or any URL
// while the main frame shows one of the two hosts over HTTPS, loads; the attachment paths
// become a download; anything else is refused, and opened in the browser when the URL has a
// host and a path (empty counts) that does not end with "/webmail/blank.html".
#include <string>
#include <string_view>

namespace wd::navigation {

// The site behind the "Feedback" command; its pages may navigate freely in a window.
inline constexpr const char* kFeedbackHost = "feedback.wendrel.com";
// The remote-assistance site; its pages may navigate freely in a window.
inline constexpr const char* kWebAssistHost = "assist.wendrel.com";

enum class Decision {
  Use,           // load in the frame
  Ignore,        // refuse silently
  OpenExternal,  // refuse, and open the URL in the default browser
  Download,      // refuse, and start an attachment download of the request
};

// `url` is the navigation's request URL, `mainFrameUrl` the URL the view's main frame shows now
// (empty when none). Text that does not parse as a URL has no scheme, host or path.
Decision decide(const std::string& url, const std::string& mainFrameUrl);

// How the engine says a navigation came about.
enum class ActionKind { LinkClicked, FormSubmitted, Other };

// A navigation that targets a new window: a link or form (target "_blank" or a new name) opens
// in the default browser; a window the page's script opens (window.open(), with or without a
// user gesture) becomes a secondary web window. Answers OpenExternal or Use.
Decision decideNewWindow(ActionKind kind);

// The parts of a URL the rules read: the scheme (lower case), the host (lower case, empty when
// none) and the path as written, each segment percent-decoded; `valid` is false (and every part
// empty) for text that does not parse as an absolute URL, and for a path with a dot segment, a
// broken escape or a segment that decodes to ".", "..", or text with "/", "\" or NUL.
struct UrlParts {
  bool valid = false;
  std::string scheme;
  std::string host;
  std::string path;
};
UrlParts parseUrl(const std::string& url);

// Whether `host` is `site` or a host below it ("a." + site), compared as given (lower case).
bool isSiteHost(const std::string& host, std::string_view site);

}  // namespace wd::navigation
