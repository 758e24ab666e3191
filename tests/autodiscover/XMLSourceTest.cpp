// The autodiscover request against the libsoup HTTPS test server (network sandbox).
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "HttpsServersFixture.h"
#include "NetworkSandbox.h"
#include "TestHttpsServer.h"
#include "autodiscover/Autodiscover.h"
#include "autodiscover/XMLSource.h"
#include "core/CertificateExceptions.h"
#include "support/Loop.h"

namespace wd {
namespace {

using test::Behaviour;
using test::runLoopFor;
using test::waitFor;

class SourceRecorder : public XMLSourceDelegate {
 public:
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
  std::optional<Credential> credential = Credential{"user@status.test", "secret"};
  int credentialRequests = 0;
  std::vector<std::string> finished;
  int invalid = 0;
  std::function<void()> onReport;
  int reports() const { return static_cast<int>(finished.size()) + invalid; }
};

class XMLSourceNet : public test::HttpsServersTest {
 protected:
  std::shared_ptr<XMLSource> start(const std::string& url) {
    auto source = XMLSource::create(url, recorder);
    source->start();
    return source;
  }
  static std::string url(const std::string& host, int port) { return autodiscoverURL(host, port); }

  std::shared_ptr<SourceRecorder> recorder = std::make_shared<SourceRecorder>();
};

TEST_F(XMLSourceNet, DocumentIsDeliveredWithoutCredentialsWhenNoneAreAsked) {
  const std::string body = test::autodiscoverDocument("s.status.test");
  server->route("h.status.test", 8443, Behaviour::document(body));
  auto source = start(url("h.status.test", 8443));
  ASSERT_TRUE(waitFor([&] { return recorder->reports() > 0; }));
  ASSERT_EQ(recorder->finished.size(), 1u);
  EXPECT_EQ(recorder->finished[0], body);
  EXPECT_EQ(source->content(), body);
  EXPECT_TRUE(source->hasData());
  EXPECT_EQ(recorder->credentialRequests, 0);
  ASSERT_EQ(server->requests().size(), 1u);
  EXPECT_EQ(server->requests()[0].authorization, "");
  EXPECT_EQ(server->requests()[0].path, "/autodiscover/autodiscover.xml");
}

TEST_F(XMLSourceNet, EmptyBodyIsDeliveredAsEmptyContent) {
  server->route("h.status.test", 443, Behaviour::document(""));
  auto source = start(url("h.status.test", 443));
  ASSERT_TRUE(waitFor([&] { return recorder->reports() > 0; }));
  EXPECT_EQ(recorder->finished, (std::vector<std::string>{""}));
  EXPECT_FALSE(source->hasData());
}

TEST_F(XMLSourceNet, ChallengeIsAnsweredWithTheCredentials) {
  const std::string body = test::autodiscoverDocument("s.status.test");
  server->route("h.status.test", 8443, Behaviour::challenge("user@status.test", "secret", body));
  auto source = start(url("h.status.test", 8443));
  ASSERT_TRUE(waitFor([&] { return recorder->reports() > 0; }));
  EXPECT_EQ(recorder->finished, (std::vector<std::string>{body}));
  EXPECT_EQ(recorder->invalid, 0);
  ASSERT_EQ(server->requests().size(), 2u);
  EXPECT_EQ(server->requests()[0].authorization, "");  // nothing sent unasked
  EXPECT_NE(server->requests()[1].authorization, "");
}

TEST_F(XMLSourceNet, RejectedCredentialsReportInvalidCredentialsOnceAndAreNotResent) {
  server->route("h.status.test", 8443, Behaviour::challenge("user@status.test", "other", "x"));
  auto source = start(url("h.status.test", 8443));
  ASSERT_TRUE(waitFor([&] { return recorder->reports() > 0; }));
  runLoopFor(0.3);
  EXPECT_EQ(recorder->invalid, 1);
  EXPECT_TRUE(recorder->finished.empty());
  EXPECT_EQ(server->requests().size(), 2u);  // the challenge, then one answer
  EXPECT_EQ(recorder->credentialRequests, 1);
}

TEST_F(XMLSourceNet, A401WithoutChallengeAndWithoutCredentialsIsStillInvalidCredentials) {
  server->route("h.status.test", 8443, Behaviour::statusCode(401));
  recorder->credential.reset();
  auto source = start(url("h.status.test", 8443));
  ASSERT_TRUE(waitFor([&] { return recorder->reports() > 0; }));
  EXPECT_EQ(recorder->invalid, 1);
  EXPECT_TRUE(recorder->finished.empty());
}

TEST_F(XMLSourceNet, OtherErrorStatusesEndTheRequestSilently) {
  for (unsigned status : {404u, 500u, 403u}) {
    server->route("h.status.test", 8443, Behaviour::statusCode(status));
    const auto before = server->requests().size();
    auto source = start(url("h.status.test", 8443));
    ASSERT_TRUE(waitFor([&] { return server->requests().size() > before; }));
    runLoopFor(0.5);
    EXPECT_EQ(recorder->reports(), 0) << status;
  }
  // An unknown path on the server is a 404 as well.
  auto source = start("https://h.status.test:8443/elsewhere");
  runLoopFor(0.5);
  EXPECT_EQ(recorder->reports(), 0);
}

TEST_F(XMLSourceNet, TransportFailuresDeliverEmptyContent) {
  // Nothing listens on 127.0.0.2; a certificate nobody trusts; not a URL at all.
  for (const std::string& u :
       {url("none.test", 443), url("untrusted.test", 9443),
        std::string("https://:443/autodiscover/autodiscover.xml"), std::string("no url")}) {
    auto rec = std::make_shared<SourceRecorder>();
    auto source = XMLSource::create(u, rec);
    source->start();
    EXPECT_EQ(rec->reports(), 0) << "reports come from the loop, not from start";
    ASSERT_TRUE(waitFor([&] { return rec->reports() > 0; })) << u;
    EXPECT_EQ(rec->finished, (std::vector<std::string>{""})) << u;
  }
  EXPECT_EQ(untrusted->requests().size(), 0u);
}

// An exception for one host does not cover another; one for the host (in any case) accepts it.
TEST_F(XMLSourceNet, CertificateExceptionAcceptsOnlyItsUntrustedHost) {
  untrusted->route("untrusted.test", 9443, Behaviour::document("<doc/>"));
  CertificateExceptions::shared().setAllowsAnyCertificate(true, "h.status.test");
  auto refused = start(url("untrusted.test", 9443));
  ASSERT_TRUE(waitFor([&] { return recorder->reports() == 1; }));
  CertificateExceptions::shared().setAllowsAnyCertificate(true, "UNTRUSTED.test");
  auto accepted = start(url("untrusted.test", 9443));
  ASSERT_TRUE(waitFor([&] { return recorder->reports() == 2; }));
  EXPECT_EQ(recorder->finished, (std::vector<std::string>{"", "<doc/>"}));
}

TEST_F(XMLSourceNet, CancelAndDestructionReportNothing) {
  server->route("h.status.test", 8443, Behaviour::hang());
  auto cancelled = start(url("h.status.test", 8443));
  ASSERT_TRUE(waitFor([&] { return server->requests().size() == 1; }));
  cancelled->cancel();
  auto destroyed = start(url("h.status.test", 8443));
  ASSERT_TRUE(waitFor([&] { return server->requests().size() == 2; }));
  destroyed.reset();
  server->route("h.status.test", 443, Behaviour::document("<doc/>"));
  auto early = start(url("h.status.test", 443));
  early.reset();  // before any answer
  runLoopFor(0.5);
  EXPECT_EQ(recorder->reports(), 0);
}

TEST_F(XMLSourceNet, DelegateMayDropTheSourceInsideItsReport) {
  server->route("h.status.test", 8443, Behaviour::document("<doc/>"));
  auto source = start(url("h.status.test", 8443));
  recorder->onReport = [&] { source.reset(); };
  ASSERT_TRUE(waitFor([&] { return recorder->reports() > 0; }));
  EXPECT_FALSE(source);
  runLoopFor(0.2);
  EXPECT_EQ(recorder->reports(), 1);
}

}  // namespace
}  // namespace wd
