// The navigation rules of a web window, case by case in their order: what stays in the view,
// what becomes an attachment download, what goes to the default browser and what is refused
// silently, by request URL and the URL the main frame shows; links for a new window against
// windows opened by script; and which file requests are read from the web client's resources.
#include <gtest/gtest.h>

#include <optional>

#include "shell/window/NavigationPolicy.h"
#include "webext/ResourceMap.h"

namespace wd::test {
namespace {

using navigation::Decision;

const std::string kPage = "file:///usr/share/wendrel-desktop/public/index.html";
const std::string kFeedback = std::string("https://") + navigation::kFeedbackHost;
const std::string kAssist = std::string("https://") + navigation::kWebAssistHost;

TEST(NavigationPolicy, RulesInOrder) {
  struct Case {
    const char* what;
    std::string url;
    std::string mainFrame;
    Decision expected;
  } cases[] = {
      {"the local page", kPage, "", Decision::Use},
      {"another local file", "file:///tmp/other.html", kPage, Decision::Use},
      {"file scheme in capitals", "FILE:///tmp/x.html", kPage, Decision::Use},
      {"about:blank", "about:blank", kPage, Decision::Use},
      {"websocket", "wss://mail.example.com/socket", kPage, Decision::Use},
      {"plain websocket", "ws://mail.example.com/socket", kPage, Decision::Use},
      // A local file on an attachment path still loads: the scheme rule comes first.
      {"file attachment path", "file:///webmail/api/download/attachment/1", kPage, Decision::Use},
      {"message source", "https://mail.example.com/webmail/api/download/source?id=3", kPage,
       Decision::Use},
      {"feedback host", kFeedback + "/form", kPage, Decision::Use},
      // The sites over HTTPS, their own host or one below it; a host that merely begins or ends
      // with the site's name is any other host.
      {"host below the feedback host", "https://eu.feedback.wendrel.com/x", kPage, Decision::Use},
      {"host beginning with the feedback host", kFeedback + ".evil.example/x", kPage,
       Decision::OpenExternal},
      {"host ending in the feedback host", "https://evilfeedback.wendrel.com/x", kPage,
       Decision::OpenExternal},
      {"feedback host over http", "http://feedback.wendrel.com/x", kPage, Decision::OpenExternal},
      {"look-alike over http", "http://feedback.wendrel.com.example.test/x", kPage,
       Decision::OpenExternal},
      {"link inside a plain http feedback page", "https://elsewhere.example/x",
       "http://feedback.wendrel.com/", Decision::OpenExternal},
      {"any link inside a feedback page", "https://elsewhere.example/x", kFeedback + "/form",
       Decision::Use},
      {"web-assist host", kAssist + "/session/1", kPage, Decision::Use},
      {"any link inside a web-assist page", "http://elsewhere.example/", kAssist + "/s",
       Decision::Use},
      // The main frame's host must equal the site's, not merely begin with it.
      {"main frame on a look-alike host", "https://elsewhere.example/x",
       kFeedback + ".evil.example/", Decision::OpenExternal},
      // Paths are compared decoded: an escaped letter is the letter.
      {"escaped source path", "https://mail.example.com/webmail/api/download/%73ource", kPage,
       Decision::Use},
      {"escaped NUL", "https://mail.example.com/a%00b", kPage, Decision::Ignore},
      // Decided on the segments as sent: an escaped "/" or dot segment never makes or removes a
      // segment, and such a URL is refused (neither loaded nor opened).
      {"escaped slashes out of an attachment",
       "https://mail.example.com/webmail/api/download/attachment/7/..%2F..%2Fsource%2Fevil.html",
       kPage, Decision::Ignore},
      {"escaped dot segments", "https://m.example/webmail/api/download/attachment/%2e%2e/x", kPage,
       Decision::Ignore},
      {"dot segment as sent", "https://m.example/webmail/api/download/attachment/../source/x",
       kPage, Decision::Ignore},
      {"single dot segment", "https://m.example/webmail/./api/download/source", kPage,
       Decision::Ignore},
      {"escaped backslash", "https://m.example/webmail/api/download/source%5C..%5Cx", kPage,
       Decision::Ignore},
      {"broken escape", "https://m.example/webmail/api/download/source/%zz", kPage,
       Decision::Ignore},
      {"escaped slash inside the source path", "https://m.example/webmail/api/download/source%2Fx",
       kPage, Decision::Ignore},
      {"dots inside a name stay a name",
       "https://m.example/webmail/api/download/attachment/7/a..b%20c.pdf", kPage,
       Decision::Download},
      {"escaped dot inside a name", "https://m.example/webmail/api/download/attachment/7/%2e.txt",
       kPage, Decision::Download},
      {"attachment", "https://mail.example.com/webmail/api/download/attachment/7/a.pdf", kPage,
       Decision::Download},
      {"json-rpc download", "https://mail.example.com/webmail/api/jsonrpc/download?x=1", kPage,
       Decision::Download},
      {"attachment on a feedback page",
       "https://mail.example.com/webmail/api/download/attachment/1", kFeedback + "/",
       Decision::Use},
      {"mail server link", "https://mail.example.com/webmail/help.html", kPage,
       Decision::OpenExternal},
      {"host with an empty path", "https://example.com", kPage, Decision::OpenExternal},
      {"mixed-case host", "https://Example.COM/x", kPage, Decision::OpenExternal},
      {"blank page", "https://mail.example.com/webmail/blank.html", kPage, Decision::Ignore},
      {"blank page with a query", "https://mail.example.com/a/webmail/blank.html?x", kPage,
       Decision::Ignore},
      {"no host", "mailto:someone@example.com", kPage, Decision::Ignore},
      {"script url", "javascript:alert(1)", kPage, Decision::Ignore},
      {"data url", "data:text/html,hi", kPage, Decision::Ignore},
      {"not a url", "just text", kPage, Decision::Ignore},
      {"empty", "", "", Decision::Ignore},
      {"embedded NUL", std::string("https://example.com/\0x", 21), kPage, Decision::Ignore},
  };
  for (const auto& c : cases)
    EXPECT_EQ(navigation::decide(c.url, c.mainFrame), c.expected) << c.what << ": " << c.url;
}

TEST(NavigationPolicy, UrlPartsLowerCaseTheHostAndDecodeThePath) {
  auto parts = navigation::parseUrl("HTTPS://Mail.Example.com:8443/a%20b/%63/?q#f");
  ASSERT_TRUE(parts.valid);
  EXPECT_EQ(parts.scheme, "https");
  EXPECT_EQ(parts.host, "mail.example.com");
  EXPECT_EQ(parts.path, "/a b/c/");
  EXPECT_FALSE(navigation::parseUrl("no scheme").valid);
  EXPECT_FALSE(navigation::parseUrl("https://h/a/%2E%2E/b").valid);
}

TEST(NavigationPolicy, NewWindowsFromLinksAndFormsGoToTheBrowser) {
  EXPECT_EQ(navigation::decideNewWindow(navigation::ActionKind::LinkClicked),
            Decision::OpenExternal);
  EXPECT_EQ(navigation::decideNewWindow(navigation::ActionKind::FormSubmitted),
            Decision::OpenExternal);
  EXPECT_EQ(navigation::decideNewWindow(navigation::ActionKind::Other), Decision::Use);
}

TEST(ResourceMap, PageResourcesComeFromTheWebFolder) {
  const std::string folder = "/opt/wendrel desktop/public/web";
  const std::string base = "file:///opt/wendrel%20desktop/public/web";
  struct Case {
    std::string uri;
    std::optional<std::string> mapped;
  } cases[] = {
      {"file:///webmail/resource/x.js", base + "/webmail/resource/x.js"},
      {"file:///webmail/resource/a/b.css?v=3#top", base + "/webmail/resource/a/b.css"},
      {"file:///webmail/resource/sp%20ace.png", base + "/webmail/resource/sp%20ace.png"},
      {"FILE:///webmail/resource/x.js", base + "/webmail/resource/x.js"},
      {"file:///webmail/resource/", base + "/webmail/resource/"},
      {"file:///webmail/resources/x.js", std::nullopt},
      {"file:///other/webmail/resource/x.js", std::nullopt},
      {"file:///webmail/resource/../../etc/passwd", std::nullopt},
      {"file:///webmail/resource/%2e%2e/%2e%2e/etc/passwd", std::nullopt},
      {"file:///webmail/resource/a%00b.js", std::nullopt},
      {"https://mail.example.com/webmail/resource/x.js", std::nullopt},
      {"not a url", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(webext::mapResourceURI(c.uri, folder), c.mapped) << c.uri;
  EXPECT_EQ(webext::mapResourceURI("file:///webmail/resource/x.js", ""), std::nullopt);
}

}  // namespace
}  // namespace wd::test
