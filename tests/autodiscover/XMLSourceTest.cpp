// The autodiscover request against the libsoup HTTPS test server (network sandbox).
#include <gtest/gtest.h>

#include "TestHttpsServer.h"
#include "autodiscover/Autodiscover.h"
#include "autodiscover/XMLSource.h"
#include "support/Loop.h"

namespace wd {
namespace {

using test::Behaviour;
using test::runLoopFor;
using test::waitFor;
using Texts = std::vector<std::string>;

struct SourceRecorder : XMLSourceDelegate {
  std::optional<Credential> credentials() override {
    ++credentialRequests;
    return credential;
  }
  void xmlSourceDidFinished(XMLSource&, const std::string& content) override {
    finished.push_back(content);
    if (onReport) onReport();
  }
  void invalidCredentials(XMLSource&) override {
    ++invalid;
    if (onReport) onReport();
  }
  int reports() const { return static_cast<int>(finished.size()) + invalid; }
  std::optional<Credential> credential = Credential{"user@status.test", "secret"};
  int credentialRequests = 0, invalid = 0;
  Texts finished;
  std::function<void()> onReport;
};

class XMLSourceNet : public test::HttpsServersTest {
 protected:
  std::shared_ptr<XMLSource> start(const std::string& host, int port) {
    return start(autodiscoverURL(host, port));
  }
  std::shared_ptr<XMLSource> start(const std::string& url) {
    auto source = XMLSource::create(url, recorder);
    source->start();
    return source;
  }
  std::shared_ptr<SourceRecorder> recorder = std::make_shared<SourceRecorder>();
};

// What the server answers decides the report: a document (an empty one too) is delivered, asked
// for without credentials and sent them only when challenged; rejected credentials, or a 401
// without challenge and without credentials, report invalid credentials once and are not
// resent; other error statuses (and an unknown path: 404) end the request silently.
TEST_F(XMLSourceNet, TheAnswerDecidesTheReport) {
  const std::string doc = test::autodiscoverDocument("s.status.test");
  const struct {
    Behaviour behaviour;
    bool credential;
    Texts finished;
    int invalid;
    std::size_t requests;    // a second one answers the challenge
    int credentialRequests;  // -1: not checked
    const char* path = "/autodiscover/autodiscover.xml";
  } cases[] = {
      {Behaviour::document(doc), true, {doc}, 0, 1, 0},
      {Behaviour::document(""), true, {""}, 0, 1, 0},
      {Behaviour::challenge("user@status.test", "secret", doc), true, {doc}, 0, 2, -1},
      {Behaviour::challenge("user@status.test", "other", "x"), true, {}, 1, 2, 1},
      {Behaviour::statusCode(401), false, {}, 1, 1, -1},
      {Behaviour::statusCode(404), true, {}, 0, 1, -1},
      {Behaviour::statusCode(500), true, {}, 0, 1, -1},
      {Behaviour::statusCode(403), true, {}, 0, 1, -1},
      {Behaviour::document(doc), true, {}, 0, 1, -1, "/elsewhere"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.behaviour.body + " " + std::to_string(c.behaviour.status) + c.path);
    recorder = std::make_shared<SourceRecorder>();
    if (!c.credential) recorder->credential.reset();
    server->route("h.status.test", 8443, c.behaviour);
    const std::size_t before = server->requests().size();
    auto source = start(std::string("https://h.status.test:8443") + c.path);
    ASSERT_TRUE(waitFor([&] { return server->requests().size() >= before + c.requests; }));
    if (c.invalid || !c.finished.empty()) {
      ASSERT_TRUE(waitFor([&] { return recorder->reports() > 0; }));
    }
    runLoopFor(0.3);
    EXPECT_EQ(recorder->finished, c.finished);
    EXPECT_EQ(recorder->invalid, c.invalid);
    ASSERT_EQ(server->requests().size(), before + c.requests);
    EXPECT_EQ(server->requests()[before].authorization, "");  // nothing sent unasked
    EXPECT_EQ(server->requests()[before].path, c.path);
    EXPECT_EQ(c.requests == 2, server->requests().back().authorization != "");
    EXPECT_TRUE(c.credentialRequests < 0 || recorder->credentialRequests == c.credentialRequests);
    if (!c.finished.empty()) {
      EXPECT_EQ(source->content(), c.finished[0]);
      EXPECT_EQ(source->hasData(), !c.finished[0].empty());
    }
  }
}

// Nothing listening, a certificate nobody trusts, no URL at all: empty content, reported from
// the loop. An exception for another host does not cover the untrusted one; one for the host
// (in any case) accepts it.
TEST_F(XMLSourceNet, TransportFailuresDeliverEmptyContentAndExceptionsAcceptTheirHostOnly) {
  for (const std::string& u :
       {autodiscoverURL("none.test", 443), autodiscoverURL("untrusted.test", 9443),
        std::string("https://:443/autodiscover/autodiscover.xml"), std::string("no url")}) {
    recorder = std::make_shared<SourceRecorder>();
    auto source = start(u);
    EXPECT_EQ(recorder->reports(), 0) << "reports come from the loop, not from start";
    ASSERT_TRUE(waitFor([&] { return recorder->reports() > 0; })) << u;
    EXPECT_EQ(recorder->finished, Texts{""}) << u;
  }
  EXPECT_EQ(untrusted->requests().size(), 0u);

  untrusted->route("untrusted.test", 9443, Behaviour::document("<doc/>"));
  CertificateExceptions::shared().setAllowsAnyCertificate(true, "h.status.test");
  auto refused = start("untrusted.test", 9443);
  ASSERT_TRUE(waitFor([&] { return recorder->reports() == 2; }));
  CertificateExceptions::shared().setAllowsAnyCertificate(true, "UNTRUSTED.test");
  auto accepted = start("untrusted.test", 9443);
  ASSERT_TRUE(waitFor([&] { return recorder->reports() == 3; }));
  EXPECT_EQ(recorder->finished, (Texts{"", "", "<doc/>"}));
}

// Cancelled, destroyed while waiting or before any answer: no report. A delegate may drop the
// source inside its report.
TEST_F(XMLSourceNet, CancelAndDestructionReportNothingAndTheDelegateMayDropTheSource) {
  server->route("h.status.test", 8443, Behaviour::hang());
  auto cancelled = start("h.status.test", 8443);
  ASSERT_TRUE(waitFor([&] { return server->requests().size() == 1; }));
  cancelled->cancel();
  auto destroyed = start("h.status.test", 8443);
  ASSERT_TRUE(waitFor([&] { return server->requests().size() == 2; }));
  destroyed.reset();
  server->route("h.status.test", 443, Behaviour::document("<doc/>"));
  start("h.status.test", 443).reset();  // before any answer
  runLoopFor(0.5);
  EXPECT_EQ(recorder->reports(), 0);

  auto source = start("h.status.test", 443);
  recorder->onReport = [&] { source.reset(); };
  ASSERT_TRUE(waitFor([&] { return recorder->reports() > 0; }));
  EXPECT_FALSE(source);
  runLoopFor(0.2);
  EXPECT_EQ(recorder->reports(), 1);
}

}  // namespace
}  // namespace wd
