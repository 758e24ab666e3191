// The navigation rules of a web window in their order, new windows from links, and which file
// requests are read from the web client's resources.
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
  const auto Use = Decision::Use, Out = Decision::OpenExternal, Ignore = Decision::Ignore,
             Save = Decision::Download;
  const std::string mail = "https://mail.example.com", m = "https://m.example/webmail/";
  const struct {
    std::string url, mainFrame;
    Decision expected;
  } cases[] = {
      {kPage, "", Use},
      {"file:///tmp/other.html", kPage, Use},
      {"FILE:///tmp/x.html", kPage, Use},
      {"about:blank", kPage, Use},
      {"wss://mail.example.com/socket", kPage, Use},
      {"ws://mail.example.com/socket", kPage, Use},
      // A local file on an attachment path still loads: the scheme rule comes first.
      {"file:///webmail/api/download/attachment/1", kPage, Use},
      {mail + "/webmail/api/download/source?id=3", kPage, Use},
      {kFeedback + "/form", kPage, Use},
      // The sites over HTTPS, their own host or one below it; a host that merely begins or ends
      // with the site's name is any other host.
      {"https://eu.feedback.wendrel.com/x", kPage, Use},
      {kFeedback + ".evil.example/x", kPage, Out},
      {"https://evilfeedback.wendrel.com/x", kPage, Out},
      {"http://feedback.wendrel.com/x", kPage, Out},
      {"http://feedback.wendrel.com.example.test/x", kPage, Out},
      {"https://elsewhere.example/x", "http://feedback.wendrel.com/", Out},
      {"https://elsewhere.example/x", kFeedback + "/form", Use},  // any link in a feedback page
      {kAssist + "/session/1", kPage, Use},
      {"http://elsewhere.example/", kAssist + "/s", Use},
      // The main frame's host must equal the site's, not merely begin with it.
      {"https://elsewhere.example/x", kFeedback + ".evil.example/", Out},
      // Paths are compared decoded: an escaped letter is the letter.
      {mail + "/webmail/api/download/%73ource", kPage, Use},
      {mail + "/a%00b", kPage, Ignore},
      // Decided on the segments as sent: an escaped "/" or dot segment never makes or removes a
      // segment, and such a URL is refused (neither loaded nor opened).
      {mail + "/webmail/api/download/attachment/7/..%2F..%2Fsource%2Fevil.html", kPage, Ignore},
      {m + "api/download/attachment/%2e%2e/x", kPage, Ignore},
      {m + "api/download/attachment/../source/x", kPage, Ignore},
      {m + "./api/download/source", kPage, Ignore},
      {m + "api/download/source%5C..%5Cx", kPage, Ignore},
      {m + "api/download/source/%zz", kPage, Ignore},
      {m + "api/download/source%2Fx", kPage, Ignore},
      {m + "api/download/attachment/7/a..b%20c.pdf", kPage, Save},  // dots inside a name
      {m + "api/download/attachment/7/%2e.txt", kPage, Save},
      {mail + "/webmail/api/download/attachment/7/a.pdf", kPage, Save},
      {mail + "/webmail/api/jsonrpc/download?x=1", kPage, Save},
      {mail + "/webmail/api/download/attachment/1", kFeedback + "/", Use},
      {mail + "/webmail/help.html", kPage, Out},
      {"https://example.com", kPage, Out},
      {"https://Example.COM/x", kPage, Out},
      {mail + "/webmail/blank.html", kPage, Ignore},
      {mail + "/a/webmail/blank.html?x", kPage, Ignore},
      {"mailto:someone@example.com", kPage, Ignore},
      {"javascript:alert(1)", kPage, Ignore},
      {"data:text/html,hi", kPage, Ignore},
      {"just text", kPage, Ignore},
      {"", "", Ignore},
      {std::string("https://example.com/\0x", 21), kPage, Ignore},
  };
  for (const auto& c : cases)
    EXPECT_EQ(navigation::decide(c.url, c.mainFrame), c.expected) << c.url << " in " << c.mainFrame;
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
  using navigation::ActionKind, navigation::decideNewWindow;
  EXPECT_EQ(decideNewWindow(ActionKind::LinkClicked), Decision::OpenExternal);
  EXPECT_EQ(decideNewWindow(ActionKind::FormSubmitted), Decision::OpenExternal);
  EXPECT_EQ(decideNewWindow(ActionKind::Other), Decision::Use);
}

TEST(ResourceMap, PageResourcesComeFromTheWebFolder) {
  const std::string folder = "/opt/wendrel desktop/public/web";
  const std::string base = "file:///opt/wendrel%20desktop/public/web";
  const struct {
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
