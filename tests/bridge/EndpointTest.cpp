// The UI-process end of the protocol facing a web process that may send anything: forged and
// malformed frames, object ids of other pages, releases and replies nobody asked for. Also the
// socket transport's behaviour towards a peer that stops reading.
#include <glib.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <map>

#include "TestObjects.h"
#include "bridge/Event.h"
#include "bridge/HostEndpoint.h"
#include "bridge/SocketConnection.h"
#include "bridge/wire/Wire.h"
#include "support/Loop.h"

namespace wd::bridge::test {
namespace {

using wire::CallOp;
using wire::Message;
using wire::MsgType;
using wire::Tag;
using wire::WValue;

// Returns results the page side could not take.
class Big : public ScriptObject {
 public:
  Value refsAndMany() const {
    ValueArray a(wire::kMaxValues + 1);
    a[0] = Value(keep);
    return Value(std::move(a));
  }
  std::shared_ptr<Probe> keep = std::make_shared<Probe>();
  const ClassInfo& scriptClass() const override {
    static const ClassInfo& info =
        ClassBuilder<Big>("Big").method("refsAndMany", &Big::refsAndMany).build();
    return info;
  }
};

// Runs a hook (which may detach the page), then reaches the calling page.
class Detacher : public ScriptObject {
 public:
  std::function<void()> hook;
  void run() {
    if (hook) hook();
    Event::triggerEvent("after", callingPage());
  }
  const ClassInfo& scriptClass() const override {
    static const ClassInfo& info =
        ClassBuilder<Detacher>("Detacher").method("run", &Detacher::run).build();
    return info;
  }
};

class RecordingPage : public ScriptPage {
 public:
  void evaluateScript(const std::string& script) override { scripts.push_back(script); }
  void callFunction(const std::string& name, std::vector<Value>) override {
    scripts.push_back(name);
  }
  std::vector<std::string> scripts;
};

std::uint32_t memberIndex(const ClassInfo& cls, const std::string& name) {
  for (std::uint32_t i = 0; i < cls.members().size(); ++i)
    if (cls.members()[i].scriptName == name) return i;
  ADD_FAILURE() << "no member " << name;
  return 0;
}

std::string payloadOf(const Message& m) {
  return wire::encodeFrame(m).substr(4);
}

class Endpoint : public ::testing::Test, public HostEndpoint::Delegate {
 protected:
  void SetUp() override {
    probes[1] = std::make_shared<Probe>();
    probes[1]->name = "one";
    probes[2] = std::make_shared<Probe>();
    probes[2]->name = "two";
    endpoint = std::make_shared<HostEndpoint>(
        [this](std::string frame) { sent.push_back(std::move(frame)); }, this);
  }

  std::optional<InstallSet> contextCreated(HostEndpoint&, std::uint64_t pageId,
                                           const std::string&) override {
    auto it = probes.find(pageId);
    if (it == probes.end()) return std::nullopt;
    return InstallSet{root, {{"Probe", it->second}, {"Big", big}, {"Detacher", detacher}}};
  }
  std::shared_ptr<ScriptPage> page(std::uint64_t pageId) override {
    auto it = pages.find(pageId);
    return it == pages.end() ? nullptr : it->second;
  }

  // The reply to `callId` among the frames sent so far.
  std::optional<WValue> replyTo(std::uint64_t id) {
    for (const auto& frame : sent) {
      Message m;
      if (!wire::decodeMessage(std::string_view(frame).substr(4), m)) {
        ADD_FAILURE() << "the host sent a frame it cannot decode itself";
        continue;
      }
      if (m.type == MsgType::Reply && m.callId == id)
        return m.values.empty() ? WValue{} : m.values[0];
    }
    return std::nullopt;
  }

  // Opens page `pageId`: the ids of MacGap, MacGap.Probe and MacGap.Big.
  std::vector<std::uint64_t> open(std::uint64_t pageId) {
    Message m;
    m.type = MsgType::ContextCreated;
    m.callId = ++callId;
    m.pageId = pageId;
    m.text = "file:///x/public/index.html";
    endpoint->receive(payloadOf(m));
    auto r = replyTo(m.callId);
    std::vector<std::uint64_t> ids;
    if (!r || r->tag != Tag::Array) return ids;
    ids.push_back(r->items.at(0).id);
    for (std::size_t i = 1; i < r->items.size(); ++i) ids.push_back(r->items[i].items.at(1).id);
    return ids;
  }

  // A call of member number `member` of `objectId` as the page sends it, under a new call id.
  Message callMessage(std::uint64_t pageId, std::uint64_t objectId, std::uint32_t classId,
                      std::uint32_t member) {
    Message m;
    m.type = MsgType::Call;
    m.callId = ++callId;
    m.pageId = pageId;
    m.objectId = objectId;
    m.classId = classId;
    m.member = member;
    return m;
  }
  WValue call(std::uint64_t pageId, std::uint64_t objectId, const ClassInfo& cls,
              const std::string& member, std::vector<WValue> args = {},
              CallOp op = CallOp::Invoke) {
    Message m = callMessage(pageId, objectId, cls.id(), memberIndex(cls, member));
    m.op = op;
    m.values = std::move(args);
    endpoint->receive(payloadOf(m));
    auto r = replyTo(m.callId);
    EXPECT_TRUE(r) << "no reply to " << member;
    return r.value_or(WValue{});
  }

  const ClassInfo& probeClass() { return probes[1]->scriptClass(); }

  std::shared_ptr<Root> root = std::make_shared<Root>();
  std::shared_ptr<Big> big = std::make_shared<Big>();
  std::shared_ptr<Detacher> detacher = std::make_shared<Detacher>();
  std::map<std::uint64_t, std::shared_ptr<ScriptPage>> pages;
  std::map<std::uint64_t, std::shared_ptr<Probe>> probes;
  std::shared_ptr<HostEndpoint> endpoint;
  std::vector<std::string> sent;
  std::uint64_t callId = 0;  // last call id used
};

TEST_F(Endpoint, APageReachesOnlyObjectsHandedToIt) {
  const auto one = open(1);
  const auto two = open(2);
  ASSERT_EQ(one.size(), 4u);
  ASSERT_EQ(two.size(), 4u);
  // The shared root has a separate id in each page.
  EXPECT_NE(one[0], two[0]);

  // Page 2 using page 1's object id: no call reaches page 1's object.
  const auto title = WValue::str("forged");
  EXPECT_EQ(call(2, one[1], probeClass(), "title", {title}, CallOp::Set).tag, Tag::Undefined);
  EXPECT_EQ(probes[1]->titleWrites, 0);
  EXPECT_EQ(call(2, one[1], probeClass(), "echo", {WValue::num(1)}).tag, Tag::Undefined);
  // Nor can it pass page 1's object as an argument to its own object.
  EXPECT_EQ(
      call(2, two[1], probeClass(), "takeObject", {WValue::ref(one[1], probeClass().id())}).text,
      "none");
  // Page 1 itself reaches both ways.
  call(1, one[1], probeClass(), "title", {WValue::str("mine")}, CallOp::Set);
  EXPECT_EQ(probes[1]->titleWrites, 1);
  EXPECT_EQ(
      call(1, one[1], probeClass(), "takeObject", {WValue::ref(one[1], probeClass().id())}).text,
      "probe:one");

  // Releasing page 1's references drops only page 1's entries: the root stays reachable from 2.
  Message rel;
  rel.type = MsgType::ReleaseObjects;
  for (auto id : one) rel.releases.emplace_back(id, 1000);
  endpoint->receive(payloadOf(rel));
  EXPECT_EQ(endpoint->objectCount(), two.size());
  EXPECT_EQ(call(2, two[0], root->scriptClass(), "version", {}, CallOp::Get).text, "1.0");
  EXPECT_EQ(call(1, one[0], root->scriptClass(), "version", {}, CallOp::Get).tag, Tag::Undefined);
}

TEST_F(Endpoint, UnknownIdsReleasesAndRepliesAreIgnored) {
  const auto one = open(1);
  ASSERT_EQ(one.size(), 4u);
  const std::size_t held = endpoint->objectCount();
  // Object ids that never existed, wrong class ids, member indexes out of range.
  EXPECT_EQ(call(1, 999, probeClass(), "echo", {WValue::num(1)}).tag, Tag::Undefined);
  EXPECT_EQ(call(1, one[0], probeClass(), "echo", {WValue::num(1)}).tag, Tag::Undefined);
  Message m = callMessage(1, one[1], probeClass().id(), 100000);
  endpoint->receive(payloadOf(m));
  EXPECT_EQ(replyTo(m.callId).value_or(WValue::null()).tag, Tag::Undefined);
  m.classId = 0xFFFFFFFF;
  m.callId = ++callId;
  endpoint->receive(payloadOf(m));
  EXPECT_EQ(replyTo(m.callId).value_or(WValue::null()).tag, Tag::Undefined);

  // Releases of unknown ids, zero counts and counts beyond what was handed out.
  Message rel;
  rel.type = MsgType::ReleaseObjects;
  rel.releases = {{0, 1}, {12345, 0xFFFFFFFF}, {one[1], 0}};
  endpoint->receive(payloadOf(rel));
  EXPECT_EQ(endpoint->objectCount(), held);

  // Messages only the host sends, and replies nobody waits for.
  for (auto type : {MsgType::Reply, MsgType::Pong, MsgType::Evaluate, MsgType::ClassDef,
                    MsgType::CallHandle, MsgType::ReleaseHandles, MsgType::CallGlobal}) {
    Message x;
    x.type = type;
    x.callId = 77;
    x.values = {WValue::ref(one[1], probeClass().id())};
    endpoint->receive(payloadOf(x));
  }
  // A handle from the page is kept until native code drops it, then released.
  EXPECT_EQ(call(1, one[1], probeClass(), "setCallback", {WValue::handle(5)}).tag, Tag::Undefined);
  EXPECT_EQ(endpoint->handleCount(), 1u);
  probes[1]->callback = ScriptValue();
  EXPECT_EQ(endpoint->handleCount(), 0u);
  EXPECT_FALSE(endpoint->closed());
  EXPECT_EQ(endpoint->objectCount(), held);
  EXPECT_EQ(call(1, one[1], probeClass(), "echo", {WValue::str("still")}).text, "still");
}

TEST_F(Endpoint, MalformedFramesCloseTheConnectionWithoutHarm) {
  const auto one = open(1);
  ASSERT_EQ(one.size(), 4u);
  Message m = callMessage(1, one[1], probeClass().id(), memberIndex(probeClass(), "echo"));
  m.values = {WValue::str("x")};
  const std::string good = payloadOf(m);
  // (What the decoder refuses is WireTest's; here, what the endpoint does about it.)
  endpoint->receive(good.substr(0, good.size() - 1));
  EXPECT_TRUE(endpoint->closed());
  EXPECT_EQ(endpoint->objectCount(), 0u);
  // A closed endpoint sends nothing more and answers nothing.
  const std::size_t before = sent.size();
  endpoint->receive(good);
  endpoint->evaluate(1, "1");
  EXPECT_EQ(sent.size(), before);
}

// Native code may throw anything (the page gets undefined) or detach the page it is called from.
TEST_F(Endpoint, NativeCodeMayThrowOrDetachThePageItIsCalledFrom) {
  auto page = std::make_shared<RecordingPage>();
  std::weak_ptr<RecordingPage> weak = page;
  pages[1] = page;
  page.reset();
  const auto one = open(1);
  ASSERT_EQ(one.size(), 4u);
  const std::function<void()> throwers[] = {[] { throw 42; },
                                            [] { throw std::runtime_error("no"); }};
  for (const auto& thrower : throwers) {
    detacher->hook = thrower;
    EXPECT_EQ(call(1, one[3], detacher->scriptClass(), "run").tag, Tag::Undefined);
  }
  EXPECT_FALSE(endpoint->closed());
  // The view goes (its page record dropped) while the call runs; the calling page stays usable
  // until the call returns, then goes.
  detacher->hook = [this] { pages.erase(1); };
  call(1, one[3], detacher->scriptClass(), "run");
  EXPECT_TRUE(weak.expired());
  // The endpoint going away from inside a call: the reply is dropped, nothing breaks.
  detacher->hook = [this] { endpoint->close(); };
  const Message m = callMessage(1, one[3], detacher->scriptClass().id(), 0);
  endpoint->receive(payloadOf(m));
  EXPECT_FALSE(replyTo(m.callId));
  EXPECT_TRUE(endpoint->closed());
  detacher->hook = nullptr;
}

TEST_F(Endpoint, PageValuesOutliveTheirEndpoint) {
  const auto one = open(1);
  ASSERT_EQ(one.size(), 4u);
  call(1, one[1], probeClass(), "setCallback", {WValue::handle(3)});
  ASSERT_TRUE(probes[1]->callback);
  // As at process exit: the connection and endpoint go first, a script value later.
  endpoint->close();
  endpoint.reset();
  probes[1]->callback.call({Value(1)});
  probes[1]->callback = ScriptValue();
}

TEST_F(Endpoint, ResultsThePageCannotTakeAnswerUndefined) {
  const auto one = open(1);
  ASSERT_EQ(one.size(), 4u);
  const std::size_t held = endpoint->objectCount();
  // Too many values to send: the answer is undefined, and objects inside the result are not
  // counted as held by the page.
  EXPECT_EQ(call(1, one[2], big->scriptClass(), "refsAndMany").tag, Tag::Undefined);
  EXPECT_EQ(endpoint->objectCount(), held);
  ValueArray many(wire::kMaxValues + 1);
  many[0] = Value(big->keep);
  const std::size_t frames = sent.size();
  endpoint->callGlobal(1, "f", {Value(std::move(many))});
  EXPECT_EQ(sent.size(), frames);
  EXPECT_EQ(endpoint->objectCount(), held);
  // Within the limits the same call goes out.
  endpoint->callGlobal(1, "f", {Value(big->keep)});
  EXPECT_EQ(sent.size(), frames + 1);
  EXPECT_EQ(endpoint->objectCount(), held + 1);
  EXPECT_FALSE(endpoint->closed());
  // Every frame sent decodes on the page side.
  for (const auto& frame : sent) {
    Message out;
    EXPECT_TRUE(wire::decodeMessage(std::string_view(frame).substr(4), out));
  }
}

// A host connection on one end of a socket pair; the test plays the web process on the other.
class SocketTransport : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    conn = std::make_shared<SocketConnection>(fds[0]);
    std::weak_ptr<SocketConnection> weak = conn;
    endpoint = std::make_shared<HostEndpoint>(
        [weak](std::string frame) {
          if (auto c = weak.lock()) c->write(std::move(frame));
        },
        nullptr);
    conn->setEndpoint(endpoint);
  }
  void TearDown() override { ::close(fds[1]); }

  int fds[2] = {-1, -1};
  std::shared_ptr<SocketConnection> conn;
  std::shared_ptr<HostEndpoint> endpoint;
};

TEST_F(SocketTransport, PeerThatStopsReadingIsDroppedWithoutBlocking) {
  bool closed = false;
  conn->setOnClosed([&closed] { closed = true; });
  conn->start();
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

TEST_F(SocketTransport, FramesSplitAcrossReadsAndOversizedLengths) {
  conn->start();
  Message ping;
  ping.type = MsgType::Ping;
  ping.callId = 9;
  const std::string frame = wire::encodeFrame(ping);
  // One byte at a time: answered once the frame is whole.
  for (char c : frame) {
    ASSERT_EQ(::send(fds[1], &c, 1, 0), 1);
    g_main_context_iteration(nullptr, FALSE);
  }
  char buf[64];
  const auto whole = static_cast<ssize_t>(frame.size());
  ASSERT_TRUE(wd::test::waitFor(
      [&] { return ::recv(fds[1], buf, sizeof buf, MSG_DONTWAIT | MSG_PEEK) == whole; }));
  ASSERT_EQ(::recv(fds[1], buf, sizeof buf, MSG_DONTWAIT), whole);
  Message pong;
  ASSERT_TRUE(wire::decodeMessage(std::string_view(buf + 4, frame.size() - 4), pong));
  EXPECT_EQ(pong.type, MsgType::Pong);
  EXPECT_EQ(pong.callId, 9u);
  // A length beyond the largest frame closes the connection.
  const char huge[4] = {'\xFF', '\xFF', '\xFF', '\x7F'};
  ASSERT_EQ(::send(fds[1], huge, 4, 0), 4);
  EXPECT_TRUE(wd::test::waitFor([&] { return !conn->isOpen(); }));
  EXPECT_TRUE(endpoint->closed());
}

}  // namespace
}  // namespace wd::bridge::test
