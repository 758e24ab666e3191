// The UI-process end of the protocol facing a web process that may send anything, and the socket
// transport towards a peer that stops reading.
#include <glib.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <map>

#include "TestObjects.h"
#include "bridge/HostEndpoint.h"
#include "bridge/SocketConnection.h"
#include "bridge/testing/JscHarness.h"
#include "support/Loop.h"

namespace wd::bridge::test {
namespace {

using wire::CallOp;
using wire::Message;
using wire::MsgType;
using wire::Tag;
using wire::WValue;

// Page 1 and page 2 each get MacGap (one shared root) and their own MacGap.Probe; page 1 is open
// (`one`: the ids of its MacGap and MacGap.Probe).
class Endpoint : public ::testing::Test, public HostEndpoint::Delegate {
 protected:
  void SetUp() override {
    one = open(1);
    ASSERT_EQ(one.size(), 2u);
  }
  std::optional<InstallSet> contextCreated(HostEndpoint&, std::uint64_t pageId,
                                           const std::string&) override {
    if (!probes.count(pageId)) return std::nullopt;
    return InstallSet{root, {{"Probe", probes[pageId]}}};
  }
  std::shared_ptr<ScriptPage> page(std::uint64_t pageId) override { return pages[pageId]; }

  static std::string payloadOf(const Message& m) { return wire::encodeFrame(m).substr(4); }
  // The reply to `callId` among the frames sent so far.
  std::optional<WValue> replyTo(std::uint64_t id) {
    for (const auto& frame : sent) {
      Message m;
      EXPECT_TRUE(wire::decodeMessage(std::string_view(frame).substr(4), m))
          << "the host sent a frame it cannot decode itself";
      if (m.type == MsgType::Reply && m.callId == id)
        return m.values.empty() ? WValue{} : m.values[0];
    }
    return std::nullopt;
  }
  std::optional<WValue> send(const Message& m) {
    endpoint->receive(payloadOf(m));
    return replyTo(m.callId);
  }

  // Opens page `pageId`: the ids of MacGap and MacGap.Probe.
  std::vector<std::uint64_t> open(std::uint64_t pageId) {
    auto r = send({.type = MsgType::ContextCreated, .callId = ++callId, .pageId = pageId});
    if (!r || r->tag != Tag::Array || r->items.size() != 2) return {};
    return {r->items[0].id, r->items[1].items.at(1).id};
  }

  // A call of `member` as the page sends it, under a new call id (for a name the class lacks,
  // the index just past its last member).
  Message callMessage(std::uint64_t pageId, std::uint64_t objectId, const std::string& member,
                      std::vector<WValue> args = {}, CallOp op = CallOp::Invoke,
                      const ClassInfo& cls = Probe().scriptClass()) {
    std::uint32_t i = 0;
    while (i < cls.members().size() && cls.members()[i].scriptName != member) ++i;
    // type, call, page, object, handle, class, member, op, flag, text, values
    return {MsgType::Call, ++callId, pageId, objectId, 0, cls.id(), i, op, false, {}, args};
  }
  WValue call(std::uint64_t pageId, std::uint64_t objectId, const std::string& member,
              std::vector<WValue> args = {}, CallOp op = CallOp::Invoke,
              const ClassInfo& cls = Probe().scriptClass()) {
    auto r = send(callMessage(pageId, objectId, member, std::move(args), op, cls));
    EXPECT_TRUE(r) << "no reply to " << member;
    return r.value_or(WValue{});
  }

  std::uint32_t probeClass() { return probes[1]->scriptClass().id(); }

  std::shared_ptr<Root> root = std::make_shared<Root>();
  std::map<std::uint64_t, std::shared_ptr<ScriptPage>> pages;
  std::map<std::uint64_t, std::shared_ptr<Probe>> probes = {{1, std::make_shared<Probe>()},
                                                            {2, std::make_shared<Probe>()}};
  std::vector<std::string> sent;
  std::shared_ptr<HostEndpoint> endpoint = std::make_shared<HostEndpoint>(
      [this](std::string frame) { sent.push_back(std::move(frame)); }, this);
  std::uint64_t callId = 0;  // last call id used
  std::vector<std::uint64_t> one;
};

// A page reaches only the objects handed to it; ids it never got, releases beyond what it holds
// and messages only the host sends are ignored.
TEST_F(Endpoint, APageReachesOnlyObjectsHandedToItAndUnknownIdsAreIgnored) {
  const std::size_t held = endpoint->objectCount();
  // An object id that never existed, an object of another class, a member index out of range.
  EXPECT_EQ(call(1, 999, "echo", {WValue::num(1)}).tag, Tag::Undefined);
  EXPECT_EQ(call(1, one[0], "echo", {WValue::num(1)}).tag, Tag::Undefined);
  EXPECT_EQ(call(1, one[1], "noSuchMember").tag, Tag::Undefined);

  // Releases of unknown ids, zero counts and counts beyond what was handed out.
  endpoint->receive(payloadOf(
      {.type = MsgType::ReleaseObjects, .releases = {{0, 1}, {12345, 0xFFFFFFFF}, {one[1], 0}}}));

  // Messages only the host sends, and replies nobody waits for.
  for (auto type : {MsgType::Reply, MsgType::Pong, MsgType::Evaluate, MsgType::ClassDef,
                    MsgType::CallHandle, MsgType::ReleaseHandles, MsgType::CallGlobal})
    endpoint->receive(
        payloadOf({.type = type, .callId = 77, .values = {WValue::ref(one[1], probeClass())}}));
  // A handle from the page is kept until native code drops it, then released.
  EXPECT_EQ(call(1, one[1], "setCallback", {WValue::handle(5)}).tag, Tag::Undefined);
  EXPECT_EQ(endpoint->handleCount(), 1u);
  probes[1]->callback = ScriptValue();
  EXPECT_EQ(endpoint->handleCount(), 0u);
  // A key the page repeats keeps its first place and takes the later value.
  WValue repeated{Tag::Object};
  for (const char* k : {"a", "b", "a", "c", "b"})
    repeated.entries.emplace_back(
        k, WValue::str(std::string(k) + std::to_string(repeated.entries.size())));
  EXPECT_EQ(call(1, one[1], "describeAny", {repeated}).text, "{a:'a2',b:'b4',c:'c3'}");
  EXPECT_EQ(endpoint->objectCount(), held);

  probes[1]->name = "one";
  const auto two = open(2);
  ASSERT_EQ(two.size(), 2u);
  // The shared root has a separate id in each page.
  EXPECT_NE(one[0], two[0]);
  EXPECT_TRUE(open(3).empty());  // a page the delegate refuses

  // Page 2 using page 1's object id: no call reaches page 1's object, nor can page 2 pass it as
  // an argument to its own object. Page 1 itself reaches both ways.
  EXPECT_EQ(call(2, one[1], "title", {WValue::str("forged")}, CallOp::Set).tag, Tag::Undefined);
  EXPECT_FALSE(probes[1]->title());
  EXPECT_EQ(call(2, one[1], "echo", {WValue::num(1)}).tag, Tag::Undefined);
  EXPECT_EQ(call(2, two[1], "takeObject", {WValue::ref(one[1], probeClass())}).text, "none");
  call(1, one[1], "title", {WValue::str("mine")}, CallOp::Set);
  EXPECT_EQ(probes[1]->title(), "mine");
  EXPECT_EQ(call(1, one[1], "takeObject", {WValue::ref(one[1], probeClass())}).text, "probe:one");

  // Releasing page 1's references drops only page 1's entries: the root stays reachable from 2.
  Message rel{.type = MsgType::ReleaseObjects};
  for (auto id : one) rel.releases.emplace_back(id, 1000);
  endpoint->receive(payloadOf(rel));
  EXPECT_EQ(endpoint->objectCount(), two.size());
  EXPECT_EQ(call(2, two[0], "version", {}, CallOp::Get, root->scriptClass()).text, "1.0");
  EXPECT_EQ(call(1, one[0], "version", {}, CallOp::Get, root->scriptClass()).tag, Tag::Undefined);
}

// Native code may throw anything (the page gets undefined) or detach the page it is called from.
TEST_F(Endpoint, NativeCodeMayThrowOrDetachThePageItIsCalledFrom) {
  pages[1] = std::make_shared<testing::JscHarness>();
  std::weak_ptr<ScriptPage> weak = pages[1];
  auto& probe = *probes[1];
  for (auto thrower : {+[] { throw 42; }, +[] { throw std::runtime_error("no"); }}) {
    probe.hook = thrower;
    EXPECT_EQ(call(1, one[1], "runHook").tag, Tag::Undefined);
  }
  // The view goes (its page record dropped) while the call runs; the calling page stays usable
  // until the call returns, then goes.
  probe.hook = [this] { pages.erase(1); };
  call(1, one[1], "runHook");
  EXPECT_TRUE(weak.expired());
  // The endpoint going away from inside a call: the reply is dropped, nothing breaks.
  probe.hook = [this] { endpoint->close(); };
  EXPECT_FALSE(send(callMessage(1, one[1], "runHook")));
  EXPECT_TRUE(endpoint->closed());
}

// Too many values to send: the answer is undefined, and objects inside the result are not
// counted as held by the page; within the limits the same call goes out. Every frame sent
// decodes on the page side (replyTo checks).
TEST_F(Endpoint, ResultsThePageCannotTakeAnswerUndefinedAndMalformedFramesCloseTheConnection) {
  const std::size_t held = endpoint->objectCount();
  EXPECT_EQ(call(1, one[1], "tooMany").tag, Tag::Undefined);
  const std::size_t frames = sent.size();
  endpoint->callGlobal(1, "f", {probes[1]->tooMany()});
  EXPECT_EQ(sent.size(), frames);
  EXPECT_EQ(endpoint->objectCount(), held);
  endpoint->callGlobal(1, "f", {Value(probes[1]->child())});
  EXPECT_EQ(sent.size(), frames + 1);
  EXPECT_EQ(endpoint->objectCount(), held + 1);
  EXPECT_FALSE(replyTo(0));
  // A malformed frame closes the endpoint; a closed endpoint sends nothing more and answers
  // nothing, and a page value may outlive it (as at process exit: the connection and endpoint go
  // first, a script value later).
  call(1, one[1], "setCallback", {WValue::handle(3)});
  ASSERT_TRUE(probes[1]->callback);
  const std::string good = payloadOf(callMessage(1, one[1], "echo", {WValue::str("x")}));
  // (What the decoder refuses is WireTest's; here, what the endpoint does about it.)
  endpoint->receive(good.substr(0, good.size() - 1));
  EXPECT_TRUE(endpoint->closed());
  EXPECT_EQ(endpoint->objectCount(), 0u);
  const std::size_t before = sent.size();
  endpoint->receive(good);
  endpoint->evaluate(1, "1");
  EXPECT_EQ(sent.size(), before);
  endpoint.reset();
  probes[1]->callback.call({Value(1)});
  probes[1]->callback = ScriptValue();
}

// A host connection on one end of a socket pair; the test plays the web process on the other.
class SocketTransport : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    conn = std::make_shared<SocketConnection>(fds[0]);
    endpoint = std::make_shared<HostEndpoint>(
        [weak = std::weak_ptr(conn)](std::string frame) {
          if (auto c = weak.lock()) c->write(std::move(frame));
        },
        nullptr);
    conn->setEndpoint(endpoint);
    conn->start();
  }
  void TearDown() override { ::close(fds[1]); }

  int fds[2] = {-1, -1};
  std::shared_ptr<SocketConnection> conn;
  std::shared_ptr<HostEndpoint> endpoint;
};

TEST_F(SocketTransport, PeerThatStopsReadingIsDroppedWithoutBlocking) {
  bool closed = false;
  conn->setOnClosed([&closed] { closed = true; });
  const std::size_t bound = 8u << 20;
  conn->setMaxQueued(bound);
  // The peer never reads; writing far more than the queue bound returns every time.
  const std::string script(1u << 20, 'x');
  for (std::size_t writes = 0; writes < 2 * bound / script.size(); ++writes) {
    endpoint->evaluate(1, script);
    EXPECT_LE(conn->queuedBytes(), bound);
  }
  EXPECT_EQ(conn->queuedBytes(), 0u);
  // The connection is closed from the main loop, and the peer sees the end of the stream.
  EXPECT_TRUE(wd::test::waitFor([&] { return !conn->isOpen(); }));
  EXPECT_TRUE(closed);
  EXPECT_TRUE(endpoint->closed());
  char buf[65536];
  ssize_t n;
  std::size_t total = 0;
  while ((n = ::recv(fds[1], buf, sizeof buf, 0)) > 0) total += static_cast<std::size_t>(n);
  EXPECT_EQ(n, 0);
  EXPECT_LT(total, 2 * bound);
}

// A frame sent one byte at a time is answered once whole; a length beyond the largest frame
// closes the connection.
TEST_F(SocketTransport, FramesSplitAcrossReadsAndOversizedLengths) {
  const std::string frame = wire::encodeFrame({.type = MsgType::Ping, .callId = 9});
  for (char c : frame) {
    ASSERT_EQ(::send(fds[1], &c, 1, 0), 1);
    g_main_context_iteration(nullptr, FALSE);
  }
  char buf[64];
  const auto whole = static_cast<ssize_t>(frame.size());
  ASSERT_TRUE(wd::test::waitFor(
      [&] { return ::recv(fds[1], buf, sizeof buf, MSG_DONTWAIT | MSG_PEEK) == whole; }));
  ASSERT_EQ(::recv(fds[1], buf, sizeof buf, MSG_DONTWAIT), whole);
  EXPECT_EQ(std::string(buf, whole), wire::encodeFrame({.type = MsgType::Pong, .callId = 9}));
  const char huge[4] = {'\xFF', '\xFF', '\xFF', '\x7F'};
  ASSERT_EQ(::send(fds[1], huge, 4, 0), 4);
  EXPECT_TRUE(wd::test::waitFor([&] { return !conn->isOpen(); }));
  EXPECT_TRUE(endpoint->closed());
}

}  // namespace
}  // namespace wd::bridge::test
