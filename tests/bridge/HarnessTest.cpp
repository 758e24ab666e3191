// The bridge from real JavaScript: a JavaScriptCore context driven through the same marshaller
// and wire encoding as the web process.
#include <gtest/gtest.h>

#include "TestObjects.h"
#include "bridge/Event.h"
#include "bridge/testing/JscHarness.h"

namespace wd::bridge::test {
namespace {

using testing::JscHarness;

class BridgeHarness : public ::testing::Test {
 protected:
  void SetUp() override {
    root = std::make_shared<Root>();
    probe = std::make_shared<Probe>();
    probe->name = "main";
    page.install({root, {{"Probe", probe}}});
  }
  Json eval(const std::string& js) {
    auto r = page.evaluate(js);
    EXPECT_FALSE(page.lastException()) << js << ": " << *page.lastException();
    return r.value_or(Json("<undefined>"));
  }

  JscHarness page;
  std::shared_ptr<Root> root;
  std::shared_ptr<Probe> probe;
};

TEST_F(BridgeHarness, InstallsRootAndMembersAndClassMembers) {
  EXPECT_EQ(eval("MacGap.version"), "1.0");
  EXPECT_EQ(eval("typeof MacGap.Probe.echo"), "function");
  EXPECT_EQ(eval("String(MacGap.Probe)"), "[object Probe]");
  // Renamed and multi-piece selectors are reachable only under their script names.
  EXPECT_EQ(eval("MacGap.Probe.get('a', 'b')"), "a/b");
  EXPECT_EQ(eval("typeof MacGap.Probe.getOfType"), "undefined");
  EXPECT_EQ(eval("typeof MacGap.Probe.showNotificationIdCallback"), "function");
  EXPECT_EQ(eval("typeof MacGap.Probe.showNotification"), "undefined");
  // Property accessors are not exported again as functions.
  EXPECT_EQ(eval("typeof MacGap.Probe.setTitle"), "undefined");
  // Class-level members live on the constructor, not on the object.
  EXPECT_EQ(eval("MacGap.Probe.constructor.getKeyFromString('cmd+shift+N')"), "N");
  EXPECT_EQ(eval("typeof MacGap.Probe.getKeyFromString"), "undefined");
  // Methods behave as functions of the page.
  EXPECT_EQ(eval("MacGap.Probe.echo.call(MacGap.Probe, 7)"), 7);
}

TEST_F(BridgeHarness, LaterMemberOfTheSameNameReplacesEarlier) {
  auto second = std::make_shared<Probe>();
  second->name = "second";
  page.install({root, {{"Probe", probe}, {"Probe", second}}});
  EXPECT_EQ(eval("MacGap.Probe.takeObject(MacGap.Probe)"), "probe:second");
}

// Each parameter kind takes the page's values by the conversion table; what it cannot take is
// "none" (the member gets no value).
TEST_F(BridgeHarness, ParametersFollowTheConversionTable) {
  const std::pair<const char*, Json> cases[] = {
      {"takeString('abc')", "string:abc"},
      {"takeString(5)", "string:5"},
      {"takeString(undefined)", "none"},
      {"takeString(null)", "none"},
      {"takeString()", "none"},
      {"takeString('é€😀')", "string:é€😀"},
      {"takeString('a', 'b', 'c')", "string:a"},  // extra arguments are ignored
      {"takeNumber(1.5)", "number:1.500000"},
      {"takeNumber('12')", "number:12.000000"},
      {"takeNumber()", "none"},
      {"takeInt(3.9)", 3},
      {"takeInt(-1e20)", std::numeric_limits<int>::lowest()},
      {"takeInt('x')", 0},
      {"takeBool(0)", false},
      {"takeBool('x')", true},
      {"takeBool()", false},
      {"echo(0.25)", 0.25},
      {"describeAny(null)", "null"},
      {"describeAny(undefined)", "none"},
      {"describeAny()", "none"},
      {"describeAny(true)", "true"},
      {"describeAny([1, 'a', null, undefined, [2]])", "[1,'a',null,null,[2]]"},
      {"describeAny({a: 1, b: {c: null}, d: undefined})", "{a:1,b:{c:null}}"},
      {"describeAny(function () {})", "script"},
      {"describeAny({onClick: function () {}})", "{onClick:script}"},
      {"describeAny(MacGap.Probe.child)", "object:Probe"},
      {"describeAny(Symbol('s'))", "none"},
      {"takeDictionary({x: 'y'})", "{x:'y'}"},
      {"takeDictionary([1])", "none"},
      {"takeDictionary(null)", "none"},
      {"takeDictionary('text')", "none"},
      {"takeDictionary(new Date(1))", "none"},  // a Date is no dictionary
      {"takeArray([1, {a: [true]}])", "[1,{a:[true]}]"},
      {"takeArray({length: 2})", "none"},
      {"takeObject(MacGap.Probe.child)", "probe:main.child"},
      {"takeObject({})", "none"},
      {"takeObject(MacGap)", "none"},  // another class
  };
  for (const auto& [call, expected] : cases)
    EXPECT_EQ(eval("MacGap.Probe." + std::string(call)), expected) << call;
}

TEST_F(BridgeHarness, ResultsBecomeScriptValues) {
  EXPECT_EQ(eval("MacGap.Probe.echo({a: [1, 'x', null], b: false})"),
            Json::parse(R"({"a":[1,"x",null],"b":false})"));
  EXPECT_EQ(eval("MacGap.Probe.echo(null) === null"), true);
  EXPECT_EQ(eval("MacGap.Probe.echo() === undefined"), true);
  // A "__proto__" key stays an own data property; it never replaces the prototype.
  EXPECT_EQ(eval("var p = MacGap.Probe.echo(JSON.parse('{\"__proto__\": {\"x\": 1}}'));"
                 "p.x === undefined && Object.getPrototypeOf(p) === Object.prototype && "
                 "Object.keys(p).join() === '__proto__'"),
            true);
  // A returned native object is a wrapper with its own members.
  EXPECT_EQ(eval("MacGap.Probe.makeChild('kid').takeString('z')"), "string:z");
  EXPECT_EQ(eval("MacGap.Probe.children().length"), 2);
}

TEST_F(BridgeHarness, SameWrapperForTheSameNativeObject) {
  EXPECT_EQ(eval("MacGap.Probe.child === MacGap.Probe.child"), true);
  EXPECT_EQ(eval("var c = MacGap.Probe.children(); c[0] === c[1] && c[0] === MacGap.Probe.child"),
            true);
  EXPECT_EQ(eval("MacGap.Probe.echo(MacGap.Probe) === MacGap.Probe"), true);
  EXPECT_EQ(eval("MacGap.Probe.makeChild('a') === MacGap.Probe.makeChild('a')"), false);
}

// NULs cross as ordinary characters; what native code receives is valid UTF-8: each lone
// surrogate (in values and in keys, at any depth) arrives as one U+FFFD, pairs stay whole.
TEST_F(BridgeHarness, StringsKeepNulAndLoneSurrogatesArriveRepaired) {
  const std::pair<const char*, const char*> cases[] = {
      {"'a\\u0000b'", "'a\\u0000b'"},
      {"'a\\ud800c\\udc00'", "'a\\ufffdc\\ufffd'"},
      {"'\\ud83d\\ude00\\ud83d'", "'\\ud83d\\ude00\\ufffd'"},
      {"'\\udc00\\ud800'", "'\\ufffd\\ufffd'"},
  };
  for (const auto& [sent, received] : cases)
    EXPECT_EQ(eval(std::string("MacGap.Probe.echo(") + sent + ") === " + received), true) << sent;
  EXPECT_EQ(eval("MacGap.Probe.stringLength('a\\u0000b')"), 3);
  EXPECT_EQ(eval("var k = {}; k['x\\ud800y'] = ['v\\udfff']; var r = MacGap.Probe.echo(k);"
                 "Object.keys(r)[0] === 'x\\ufffdy' && r['x\\ufffdy'][0] === 'v\\ufffd'"),
            true);
}

TEST_F(BridgeHarness, PropertiesReadWriteAndReadOnly) {
  EXPECT_EQ(eval("MacGap.Probe.title === undefined"), true);
  eval("MacGap.Probe.title = 'hello'");
  EXPECT_EQ(probe->title(), "hello");
  EXPECT_EQ(eval("MacGap.Probe.title"), "hello");
  // Writing a read-only property is ignored, also in strict mode, and never throws.
  probe->counter = 4;
  eval("'use strict'; MacGap.Probe.count = 99;");
  EXPECT_EQ(eval("MacGap.Probe.count"), 4);
  EXPECT_EQ(eval("Object.keys(MacGap.Probe).sort().join()"), "callback,child,count,title");
  EXPECT_EQ(eval("'title' in MacGap.Probe"), true);
  // Other properties of a wrapper stay ordinary page properties.
  EXPECT_EQ(eval("MacGap.Probe.extra = 3; MacGap.Probe.extra"), 3);
}

TEST_F(BridgeHarness, CallbackHandleCalledLaterWithArguments) {
  eval("window.got = []; MacGap.Probe.setCallback(function (x) { window.got.push(x); })");
  ASSERT_TRUE(probe->callback);
  probe->fire(Value(Dictionary{{"n", 1}, {"who", probe}}));
  probe->callback.call({Value("second"), Value(2)});
  EXPECT_EQ(eval("window.got.length"), 2);
  EXPECT_EQ(eval("window.got[0].n"), 1);
  EXPECT_EQ(eval("window.got[0].who === MacGap.Probe"), true);
  EXPECT_EQ(eval("window.got[1]"), "second");
  // The callback property hands the same page function back.
  EXPECT_EQ(eval("var f = function () {}; MacGap.Probe.callback = f; MacGap.Probe.callback === f"),
            true);
}

TEST_F(BridgeHarness, CallingAScriptValueThatIsNotAFunctionDoesNothing) {
  eval("MacGap.Probe.setCallback(42)");
  EXPECT_TRUE(probe->callback);
  probe->fire(Value(1));
  EXPECT_FALSE(page.lastException());
  eval("MacGap.Probe.setCallback(undefined)");
  EXPECT_FALSE(probe->callback);
  probe->fire(Value(1));  // empty handle
  // An exception thrown by the callback stays in the page.
  eval("MacGap.Probe.setCallback(function () { throw new Error('page error'); })");
  probe->fire(Value(1));
  EXPECT_EQ(eval("1"), 1);
  // The page's function is held until native code drops the last copy of it.
  probe->callback = ScriptValue();
  const auto before = page.heldHandleCount();
  eval("MacGap.Probe.setCallback(function () {})");
  ScriptValue copy = probe->callback;
  probe->callback = ScriptValue();
  EXPECT_EQ(page.heldHandleCount(), before + 1);  // a copy still holds it
  copy = ScriptValue();
  EXPECT_EQ(page.heldHandleCount(), before);
}

TEST_F(BridgeHarness, NativeObjectLivesWhileThePageHoldsItsWrapper) {
  std::weak_ptr<Probe> made;
  eval("window.kept = MacGap.Probe.makeChild('kept'); MacGap.Probe.makeChild('dropped'); 0");
  ASSERT_EQ(probe->made.size(), 2u);
  made = probe->made[1];
  std::weak_ptr<Probe> kept = probe->made[0];
  probe->made.clear();  // only the page holds them now
  EXPECT_FALSE(made.expired());
  for (int i = 0; i < 5 && !made.expired(); ++i) page.collectGarbage();
  EXPECT_TRUE(made.expired()) << "the page's wrapper was collected but the object lives";
  EXPECT_FALSE(kept.expired());
  EXPECT_EQ(eval("window.kept.takeString('still')"), "string:still");
}

TEST_F(BridgeHarness, EventDispatchedWhileThePageIsBlockedInACall) {
  eval(
      "window.order = [];"
      "document.addEventListener('ping', function (e) { window.order.push('event ' + e.data.n); });"
      "MacGap.Probe.trigger('ping'); window.order.push('returned');");
  EXPECT_EQ(eval("window.order"), Json::parse(R"(["event 1","returned"])"));
  // The event's listener calls native code that raises another event: that one waits until
  // the running listener returns, and both run before the page's own call returns.
  eval(
      "window.order = [];"
      "document.addEventListener('outer', function (e) {"
      "  window.order.push('outer'); MacGap.Probe.trigger('inner'); window.order.push('back'); });"
      "document.addEventListener('inner', function (e) { window.order.push('inner ' + e.data.n); "
      "});"
      "MacGap.Probe.trigger('outer'); window.order.push('returned');");
  EXPECT_EQ(eval("window.order"), Json::parse(R"(["outer","back","inner 3","returned"])"));
}

TEST_F(BridgeHarness, HostScriptsAndCallbacksRunOneAfterAnotherInArrivalOrder) {
  // Each event's listener raises the next one through native code; each callback calls native
  // code that calls the callback again. 3,000 of each arrive in order, none nested in another.
  const char* checkOrder =
      "(function (list) { for (var i = 0; i < 3000; i++) if (list[i] !== i + 1) return 'at ' + i;"
      "  return list.length + ' ' + list[3000] + ' depth ' + window.maxDepth; })";
  eval(
      "window.got = []; window.depth = 0; window.maxDepth = 0;"
      "document.addEventListener('chain', function (e) {"
      "  window.maxDepth = Math.max(window.maxDepth, ++window.depth);"
      "  window.got.push(e.data.n); if (e.data.n < 3000) MacGap.Probe.trigger('chain');"
      "  window.depth--; });"
      "MacGap.Probe.trigger('chain'); window.got.push('returned');");
  EXPECT_EQ(eval(std::string(checkOrder) + "(window.got)"), "3001 returned depth 1");
  eval(
      "window.calls = []; window.depth = 0; window.maxDepth = 0;"
      "MacGap.Probe.setCallback(function (n) {"
      "  window.maxDepth = Math.max(window.maxDepth, ++window.depth);"
      "  window.calls.push(n); if (n < 3000) MacGap.Probe.fire(n + 1); window.depth--; });"
      "MacGap.Probe.fire(1); window.calls.push('returned');");
  EXPECT_EQ(eval(std::string(checkOrder) + "(window.calls)"), "3001 returned depth 1");
  EXPECT_EQ(eval("__harnessErrors"), Json::array());

  // Raised by native code while the page is idle: the same chain, started from outside.
  probe->counter = 1;  // the next trigger raises n = 2
  eval("window.got = []; window.maxDepth = 0;");
  Event::triggerEvent("chain", Json{{"n", 1}}, &page);
  EXPECT_EQ(eval("window.got.length + ' ' + window.got[2999] + ' depth ' + window.maxDepth"),
            "3000 3000 depth 1");
}

TEST_F(BridgeHarness, DatesCrossAsDates) {
  EXPECT_EQ(eval("MacGap.Probe.describeAny(new Date(1796635800123))"), "date:1796635800123");
  EXPECT_EQ(eval("MacGap.Probe.describeAny({at: new Date(-1), list: [new Date(0)]})"),
            "{at:date:-1,list:[date:0]}");
  // Native results: a page Date again, its time unchanged.
  EXPECT_EQ(eval("var d = MacGap.Probe.echo(new Date(1796635800123));"
                 "d instanceof Date && d.getTime()"),
            1796635800123.0);
  EXPECT_EQ(eval("var r = MacGap.Probe.echo({at: [new Date(5)]}); r.at[0] instanceof Date && "
                 "r.at[0].getTime()"),
            5);
  // The time value itself counts, whatever the page did to the Date's methods.
  EXPECT_EQ(eval("var d = new Date(42); d.getTime = d.valueOf = function () { throw 1; };"
                 "d[Symbol.toPrimitive] = function () { throw 1; }; MacGap.Probe.describeAny(d)"),
            "date:42");
  // Invalid Dates, and Dates the system clock cannot hold, are null.
  EXPECT_EQ(eval("MacGap.Probe.describeAny(new Date(NaN))"), "null");
  EXPECT_EQ(eval("MacGap.Probe.describeAny(new Date(8.64e15))"), "null");
  EXPECT_EQ(eval("MacGap.Probe.echo(new Date(-8.64e15))"), nullptr);
}

TEST_F(BridgeHarness, HostileValuesAreRefusedWithoutThrowing) {
  // Page values whose reading runs page code that throws. Each is passed to a dictionary, an
  // array and an any parameter; "-" means refused (the member answers undefined), anything
  // else is the native value (a value not of the declared kind is never read).
  struct Case {
    const char* value;
    const char* dictionary;
    const char* array;
    const char* any;
  } cases[] = {
      {"new Proxy({}, {ownKeys() { throw new Error('x'); }})", "-", "none", "-"},
      {"new Proxy({a: 1}, {get() { throw new Error('x'); }})", "-", "none", "-"},
      {"new Proxy({a: 1}, {getOwnPropertyDescriptor() { throw new Error('x'); }})", "-", "none",
       "-"},
      {"(function () { var r = Proxy.revocable({a: 1}, {}); r.revoke(); return r.proxy; })()", "-",
       "none", "-"},
      {"(function () { var r = Proxy.revocable([1], {}); r.revoke(); return r.proxy; })()", "-",
       "none", "-"},
      {"Object.create(new Proxy({}, {ownKeys() { throw new Error('x'); }}))", "-", "none", "-"},
      {"({get length() { throw new Error('x'); }, 0: 1})", "-", "none", "-"},
      {"Object.defineProperty([1, 2], 1, {get() { throw new Error('x'); }})", "none", "-", "-"},
      {"({a: {b: new Proxy({}, {ownKeys() { throw new Error('x'); }})}})", "-", "none", "-"},
      {"[1, new Proxy({}, {ownKeys() { throw new Error('x'); }})]", "none", "-", "-"},
      {"({a: 1, get b() { throw new Error('x'); }})", "-", "none", "-"},
  };
  for (const auto& c : cases) {
    const std::pair<const char*, const char*> params[] = {
        {"takeDictionary", c.dictionary}, {"takeArray", c.array}, {"describeAny", c.any}};
    for (const auto& [member, expected] : params) {
      const std::string js = std::string("MacGap.Probe.") + member + "(" + c.value + ")";
      auto r = page.evaluate(js);
      EXPECT_FALSE(page.lastException()) << js << ": " << page.lastException().value_or("");
      if (std::string(expected) == "-")
        EXPECT_FALSE(r.has_value()) << js << " gave " << r->dump();
      else
        EXPECT_EQ(r.value_or(Json()), Json(expected)) << js;
      EXPECT_EQ(eval("MacGap.Probe.echo('still')"), "still") << "after " << js;
    }
  }
}

TEST_F(BridgeHarness, ReloadKeepsTheSameNativeObjects) {
  eval("MacGap.Probe.title = 'before'; MacGap.Probe.setCallback(function () { window.hit = 1; })");
  ASSERT_TRUE(probe->callback);
  page.reload();
  EXPECT_EQ(eval("typeof window.hit"), "undefined");
  EXPECT_EQ(eval("MacGap.Probe.title"), "before");
  EXPECT_EQ(eval("MacGap.version"), "1.0");
  EXPECT_EQ(eval("MacGap.Probe.child === MacGap.Probe.child"), true);
  // The old page's function is gone with its page: calling it does nothing.
  probe->fire(Value(1));
  EXPECT_EQ(eval("typeof window.hit"), "undefined");
}

TEST_F(BridgeHarness, NothingInstalledWhenTheInstallerDeclines) {
  JscHarness other([](const std::string&) { return std::optional<InstallSet>(); });
  EXPECT_EQ(other.evaluate("typeof MacGap"), Json("undefined"));
}

TEST_F(BridgeHarness, BadArgumentsGiveUndefinedAndNeverThrow) {
  const char* cases[] = {
      // cyclic
      "var a = {}; a.self = a; MacGap.Probe.describeAny(a)",
      "var l = []; l.push(l); MacGap.Probe.takeArray(l)",
      // deep
      "var d = {}; for (var i = 0; i < 5000; i++) d = {d: d}; MacGap.Probe.describeAny(d)",
      // a getter that throws
      "MacGap.Probe.describeAny({get x() { throw new Error('boom'); }})",
      "MacGap.Probe.takeString({toString: function () { throw new Error('boom'); }})",
      "MacGap.Probe.takeNumber({valueOf: function () { throw new Error('boom'); }})",
      // proxies with throwing traps
      "MacGap.Probe.describeAny(new Proxy({a: 1}, {get: function () { throw 1; }}))",
      // absurd array length
      "var s = []; s.length = 4294967295; MacGap.Probe.takeArray(s)",
      // wrong receiver
      "MacGap.Probe.echo.call({}, 1)",
      "MacGap.Probe.echo.call(MacGap, 1)",
      "var f = MacGap.Probe.echo; f(1)",
      // a native failure
      "MacGap.Probe.fail()",
      // a string beyond the frame size
      "MacGap.Probe.takeString('x'.repeat(65 * 1024 * 1024))",
      // each argument within the value budget, both together not (the host would drop a
      // connection that sent them)
      "var big = new Array(600000).fill(0); MacGap.Probe.describeTwoAnd(big, big)",
  };
  for (const char* js : cases) {
    auto r = page.evaluate(js);
    EXPECT_FALSE(page.lastException()) << js << ": " << page.lastException().value_or("");
    EXPECT_FALSE(r.has_value()) << js << " gave " << r->dump();
  }
  // The bridge still works after all of that, up to the limits.
  EXPECT_EQ(eval("MacGap.Probe.stringLength('y'.repeat(1 << 20))"), 1 << 20);
  EXPECT_EQ(eval("MacGap.Probe.describeTwoAnd([1], 'x')"), "[1] 'x'");
}

TEST_F(BridgeHarness, LostConnectionAnswersUndefined) {
  page.disconnect();
  auto r = page.evaluate("MacGap.Probe.echo('x')");
  EXPECT_FALSE(page.lastException());
  EXPECT_FALSE(r.has_value());
  EXPECT_EQ(eval("MacGap.Probe.title === undefined"), true);
  eval("MacGap.Probe.title = 'lost'");
  EXPECT_FALSE(probe->title());
}

TEST_F(BridgeHarness, CallFunctionCallsAPageGlobal) {
  eval("function callbackWrapper(x) { window.wrapped = x; }");
  page.callFunction("callbackWrapper", {Value("id-1")});
  EXPECT_EQ(eval("window.wrapped"), "id-1");
  page.callFunction("notAFunction", {});
  page.callFunction("missing", {Value(probe)});
  EXPECT_EQ(eval("1"), 1);
}

}  // namespace
}  // namespace wd::bridge::test
