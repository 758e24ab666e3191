// The bridge from real JavaScript: a JavaScriptCore context driven through the same marshaller
// and wire encoding as the web process, and DOM event dispatch into it through Event.
#include <gtest/gtest.h>

#include "TestObjects.h"
#include "bridge/testing/JscHarness.h"

namespace wd::bridge::test {
namespace {

using testing::JscHarness;

class BridgeHarness : public ::testing::Test {
 protected:
  void SetUp() override {
    probe->name = "main";
    page.install({root, {{"Probe", probe}}});
    eval("var P = MacGap.Probe; 0");
  }
  Json eval(const std::string& js) {
    auto r = page.evaluate(js);
    EXPECT_FALSE(page.lastException()) << js << ": " << *page.lastException();
    return r.value_or(Json("<undefined>"));
  }
  // Rows "expression == expected": both sides are evaluated in the page, left first.
  void expectRows(std::initializer_list<std::string> rows) {
    for (const auto& row : rows) {
      const auto at = row.rfind(" == ");
      EXPECT_EQ(eval(row.substr(0, at)), eval(row.substr(at + 4))) << row;
    }
  }

  JscHarness page;
  std::shared_ptr<Root> root = std::make_shared<Root>();
  std::shared_ptr<Probe> probe = std::make_shared<Probe>();
};

// Selectors are reachable only under their script names (each piece after the first capitalised,
// or the name given after __JS_EXPORT_AS__), accessors are no functions, class members live on
// the constructor; a later member of the same name replaces an earlier; a page given nothing to
// install gets no MacGap. Each parameter kind takes the page's values by the conversion table;
// what it cannot take is "none" (the member gets no value); extra arguments are ignored; a Date
// is no dictionary.
TEST_F(BridgeHarness, MembersByScriptNameAndParametersByTheConversionTable) {
  expectRows({"MacGap.version == '1.0'", "typeof P.echo == 'function'",
              "String(P) == '[object Probe]'", "P.get('a', 'b') == 'a/b'",
              "typeof P.getOfType == 'undefined'", "typeof P.describeTwoAnd == 'function'",
              "typeof P.describeTwo == 'undefined'", "typeof P.setTitle == 'undefined'",
              "P.constructor.getKeyFromString('cmd+shift+N') == 'N'",
              "typeof P.getKeyFromString == 'undefined'", "P.echo.call(P, 7) == 7"});
  JscHarness other([](const std::string&) { return std::optional<InstallSet>(); });
  EXPECT_EQ(other.evaluate("typeof MacGap"), Json("undefined"));
  expectRows({"P.takeString('abc') == 'string:abc'", "P.takeString(5) == 'string:5'",
              "P.takeString(null) == 'none'", "P.takeString() == 'none'",
              "P.takeString('a', 'b', 'c') == 'string:a'", "P.takeNumber(1.5) == 'number:1.500000'",
              "P.takeNumber() == 'none'", "P.takeInt(3.9) == 3", "P.takeInt(-1e20) == -2147483648",
              "P.takeInt('x') == 0", "P.takeBool('x') == true", "P.takeBool() == false",
              "P.describeAny(null) == 'null'", "P.describeAny(undefined) == 'none'",
              "P.describeAny([1, 'a', null, undefined, [2]]) == `[1,'a',null,null,[2]]`",
              "P.describeAny({a: 1, b: {c: null}, d: undefined}) == '{a:1,b:{c:null}}'",
              "P.describeAny(function () {}) == 'script'",
              "P.describeAny(P.child) == 'object:Probe'", "P.describeAny(Symbol('s')) == 'none'"});
  // An object's names are the ones for-in visits, in its order, whatever its prototype; a getter
  // that deletes a later name leaves that name out.
  expectRows({"P.describeAny({b: 1, a: 2, 1: 3}) == '{1:3,b:1,a:2}'",
              "P.describeAny(Object.assign(Object.create(null), {x: 1})) == '{x:1}'",
              "P.describeAny(Object.create({up: 1}, {own: {value: 2, enumerable: true}})) == "
              "'{own:2,up:1}'",
              "P.describeAny({get a() { delete this.b; return 1; }, b: 2, c: 3}) == '{a:1,c:3}'",
              "P.takeDictionary({x: 'y'}) == `{x:'y'}`", "P.takeDictionary([1]) == 'none'",
              "P.takeDictionary(null) == 'none'", "P.takeDictionary(new Date(1)) == 'none'",
              "P.takeArray([1, {a: [true]}]) == '[1,{a:[true]}]'",
              "P.takeArray({length: 2}) == 'none'", "P.takeObject(P.child) == 'probe:main.child'",
              "P.takeObject({}) == 'none'", "P.takeObject(MacGap) == 'none'"});
  page.install({root, {{"Probe", probe}, {"Probe", probe->makeChild("second")}}});
  EXPECT_EQ(eval("MacGap.Probe.takeObject(MacGap.Probe)"), "probe:second");
}

// Results become page values ("__proto__" stays an own property; one wrapper per native object);
// NULs cross, and a lone surrogate (value or key, any depth) reaches native code as one U+FFFD.
// Dates cross as dates both ways, by their time value whatever the page did to the Date's
// methods; invalid Dates, and Dates the system clock cannot hold, are null.
TEST_F(BridgeHarness, ResultsBecomeScriptValues) {
  expectRows(
      {"P.echo({a: [1, 'x', null], b: false}) == ({a: [1, 'x', null], b: false})",
       "P.echo(null) === null == true", "P.echo() === undefined == true",
       "var p = P.echo(JSON.parse('{\"__proto__\": {\"x\": 1}}')); p.x === undefined && "
       "Object.getPrototypeOf(p) === Object.prototype && "
       "Object.keys(p).join() === '__proto__' == true",
       "P.makeChild('kid').takeString('z') == 'string:z'",
       "var c = P.children(); c[0] === c[1] && c[0] === P.child == true", "P.echo(P) === P == true",
       "P.makeChild('a') === P.makeChild('a') == false",
       "P.echo('a\\u0000b') === 'a\\u0000b' == true",
       "P.echo('a\\ud800c\\udc00') === 'a\\ufffdc\\ufffd' == true",
       "P.echo('\\ud83d\\ude00\\ud83d') === '\\ud83d\\ude00\\ufffd' == true",
       "P.stringLength('a\\u0000b') == 3",
       "var k = {}; k['x\\ud800y'] = ['v\\udfff']; var r = P.echo(k); "
       "Object.keys(r)[0] === 'x\\ufffdy' && r['x\\ufffdy'][0] === 'v\\ufffd' == true",
       "P.describeAny({at: new Date(-1), list: [new Date(0)]}) == '{at:date:-1,list:[date:0]}'",
       "var d = P.echo(new Date(1796635800123)); d instanceof Date && d.getTime() == "
       "1796635800123",
       "var d = new Date(42); d.getTime = d.valueOf = function () { throw 1; };"
       "d[Symbol.toPrimitive] = function () { throw 1; }; P.describeAny(d) == 'date:42'",
       "P.describeAny(new Date(NaN)) == 'null'", "P.describeAny(new Date(8.64e15)) == 'null'",
       "P.echo(new Date(-8.64e15)) == null"});
}

// A page function is called later with arguments and handed back by the callback property; a
// value that is no function does nothing; an exception thrown by it stays in the page. The
// function is held until native code drops the last copy of it, and a native object lives while
// the page holds its wrapper.
TEST_F(BridgeHarness, CallbacksObjectsAndPropertiesHeldWhileTheOtherSideHoldsThemAndOverAReload) {
  eval("window.got = []; P.setCallback(function (x) { window.got.push(x); })");
  probe->fire(Value(Dictionary{{"n", 1}, {"who", probe}}));
  probe->callback.call({Value("second"), Value(2)});
  expectRows({"got.length == 2", "got[0].n == 1", "got[0].who === P == true", "got[1] == 'second'",
              "var f = function () {}; P.callback = f; P.callback === f == true"});
  eval("P.setCallback(42)");
  EXPECT_TRUE(probe->callback);
  probe->fire(Value(1));
  EXPECT_FALSE(page.lastException());
  eval("P.setCallback(undefined)");
  EXPECT_FALSE(probe->callback);
  probe->fire(Value(1));  // empty handle
  eval("P.setCallback(function () { throw new Error('page error'); })");
  probe->fire(Value(1));  // the page works on (the next eval checks)
  probe->callback = ScriptValue();
  const auto before = page.heldHandleCount();
  eval("P.setCallback(function () {})");
  ScriptValue copy = probe->callback;
  probe->callback = ScriptValue();
  EXPECT_EQ(page.heldHandleCount(), before + 1);  // a copy still holds it
  copy = ScriptValue();
  EXPECT_EQ(page.heldHandleCount(), before);
  eval("window.kept = P.makeChild('kept'); P.makeChild('dropped'); 0");
  ASSERT_EQ(probe->made.size(), 2u);
  std::weak_ptr<Probe> kept = probe->made[0], made = probe->made[1];
  probe->made.clear();  // only the page holds them now
  EXPECT_FALSE(made.expired());
  for (int i = 0; i < 5 && !made.expired(); ++i) page.collectGarbage();
  EXPECT_TRUE(made.expired()) << "the page's wrapper was collected but the object lives";
  EXPECT_FALSE(kept.expired());
  EXPECT_EQ(eval("window.kept.takeString('still')"), "string:still");
  // Writing a read-only property is ignored, also in strict mode, and never throws; other
  // properties of a wrapper stay ordinary page properties. A reload keeps the same native objects;
  // the old page's function is gone with its page.
  EXPECT_EQ(eval("P.title === undefined"), true);
  eval("P.title = 'hello'; P.setCallback(function () { window.hit = 1; })");
  EXPECT_EQ(probe->title(), "hello");
  probe->counter = 4;
  eval("'use strict'; P.count = 99;");
  expectRows({"P.title == 'hello'", "P.count == 4",
              "Object.keys(P).sort().join() == 'callback,child,count,title'",
              "'title' in P == true", "P.extra = 3, P.extra == 3"});
  ASSERT_TRUE(probe->callback);
  page.reload();
  expectRows({"MacGap.Probe.title == 'hello'", "MacGap.version == '1.0'",
              "MacGap.Probe.child === MacGap.Probe.child == true"});
  probe->fire(Value(1));
  EXPECT_EQ(eval("typeof window.hit"), "undefined");
}

// Page values whose reading throws, cycles, absurd sizes, wrong receivers and native failures:
// the member answers undefined, nothing throws into the page, the bridge works on.
TEST_F(BridgeHarness, HostileValuesAreRefusedWithoutThrowing) {
  // Each value is passed to a dictionary, an array and an any parameter; "-" means refused,
  // anything else is the native value (a value not of the declared kind is never read).
  const std::string throwingKeys = "new Proxy({}, {ownKeys() { throw new Error('x'); }})";
  const std::tuple<std::string, const char*, const char*, const char*> values[] = {
      {throwingKeys, "-", "none", "-"},
      {"new Proxy({a: 1}, {getOwnPropertyDescriptor() { throw 1; }})", "-", "none", "-"},
      {"(r => (r.revoke(), r.proxy))(Proxy.revocable({a: 1}, {}))", "-", "none", "-"},
      {"Object.defineProperty([1, 2], 1, {get() { throw new Error('x'); }})", "none", "-", "-"},
      {"({a: {b: " + throwingKeys + "}})", "-", "none", "-"},
      {"[1, " + throwingKeys + "]", "none", "-", "-"},
      {"({a: 1, get b() { throw new Error('x'); }})", "-", "none", "-"}};
  std::vector<std::string> calls = {
      "var a = {}; a.self = a; P.describeAny(a)", "var l = []; l.push(l); P.takeArray(l)",
      "var d = {}; for (var i = 0; i < 5000; i++) d = {d: d}; P.describeAny(d)",
      "P.takeString({toString: function () { throw new Error('boom'); }})",
      "P.takeNumber({valueOf: function () { throw new Error('boom'); }})",
      "P.describeAny(new Proxy({a: 1}, {get: function () { throw 1; }}))",
      "var s = []; s.length = 4294967295; P.takeArray(s)", "P.echo.call({}, 1)",
      "P.echo.call(MacGap, 1)", "var f = P.echo; f(1)", "P.fail()",
      "P.takeString('x'.repeat(65 * 1024 * 1024))",
      // each argument within the value budget, both together not
      "var big = new Array(600000).fill(0); P.describeTwoAnd(big, big)"};
  for (const auto& [value, dictionary, array, any] : values) {
    const std::pair<const char*, const char*> params[] = {
        {"takeDictionary", dictionary}, {"takeArray", array}, {"describeAny", any}};
    for (const auto& [member, expected] : params) {
      const std::string js = std::string("P.") + member + "(" + value + ")";
      if (std::string(expected) == "-")
        calls.push_back(js);
      else
        EXPECT_EQ(eval(js), Json(expected)) << js;
    }
  }
  for (const auto& js : calls) {
    auto r = page.evaluate(js);
    EXPECT_FALSE(page.lastException()) << js << ": " << page.lastException().value_or("");
    EXPECT_FALSE(r.has_value()) << js << " gave " << r->dump();
    EXPECT_EQ(eval("P.echo('still')"), "still") << "after " << js;
  }
  expectRows({"P.stringLength('y'.repeat(1 << 20)) == 1 << 20",
              "P.describeTwoAnd([1], 'x') == `[1] 'x'`"});
}

// Each event's listener raises the next one through native code; each callback calls native code
// that calls the callback again. 3,000 of each run in order before the first call returns, none
// inside another (an event raised during a listener waits until that listener returns). Events on
// the document bubble to the window, on the window reach only the window; data defaults to an
// empty object, and unserialisable data arrives as null; names and targets cannot inject script;
// a listener's exception stays in the page.
TEST_F(BridgeHarness, EventsAndCallbacksInArrivalOrderGlobalsAndALostConnection) {
  const char* checkOrder =
      "(function (list) { for (var i = 0; i < 3000; i++) if (list[i] !== i + 1) return 'at ' + i;"
      "  return list.length + ' ' + list[3000] + ' depth ' + window.maxDepth; })";
  eval(R"(window.got = []; window.depth = 0; window.maxDepth = 0;
    document.addEventListener('chain', function (e) {
      window.maxDepth = Math.max(window.maxDepth, ++window.depth);
      got.push(e.data.n); if (e.data.n < 3000) P.trigger('chain'); window.depth--; });
    P.trigger('chain'); got.push('returned');)");
  EXPECT_EQ(eval(std::string(checkOrder) + "(window.got)"), "3001 returned depth 1");
  eval(R"(window.calls = []; window.depth = 0; window.maxDepth = 0;
    P.setCallback(function (n) {
      window.maxDepth = Math.max(window.maxDepth, ++window.depth);
      calls.push(n); if (n < 3000) P.fire(n + 1); window.depth--; });
    P.fire(1); calls.push('returned');)");
  EXPECT_EQ(eval(std::string(checkOrder) + "(window.calls)"), "3001 returned depth 1");

  // Raised by native code while the page is idle: the same chain, started from outside.
  probe->counter = 1;  // the next trigger raises n = 2
  eval("window.got = []; window.maxDepth = 0;");
  Event::triggerEvent("chain", Json{{"n", 1}}, &page);
  EXPECT_EQ(eval("got.length + ' ' + got[2999] + ' depth ' + window.maxDepth"),
            "3000 3000 depth 1");
  eval(R"(window.seen = [];
    ['document', 'window'].forEach(function (name) {
      ['a', 'resize', 'n', "a'b\\c\n"].forEach(function (type) {
        (name === 'document' ? document : window).addEventListener(type, function (e) {
          seen.push({on: name, type: e.type, data: e.data}); }); }); });)");
  Event::triggerEvent("a", Json{{"url", "mailto:x@y.z"}}, &page);
  Event::triggerEvent("resize", Json{{"width", 10}}, "window", &page);
  Event::triggerEvent("n", &page);
  Event::triggerEvent("n", std::nullopt, &page);
  Event::triggerEvent("n", Json::array({std::string("\xff")}), &page);  // invalid UTF-8
  EXPECT_EQ(eval("seen"), Json::parse(R"([
    {"on": "document", "type": "a", "data": {"url": "mailto:x@y.z"}},
    {"on": "window", "type": "a", "data": {"url": "mailto:x@y.z"}},
    {"on": "window", "type": "resize", "data": {"width": 10}},
    {"on": "document", "type": "n", "data": {}}, {"on": "window", "type": "n", "data": {}},
    {"on": "document", "type": "n", "data": null}, {"on": "window", "type": "n", "data": null},
    {"on": "document", "type": "n", "data": null}, {"on": "window", "type": "n", "data": null}])"));

  eval("seen = []; document.addEventListener('a', function () { throw new Error('x'); });");
  Event::triggerEvent("a'b\\c\n", &page);
  Event::triggerEvent("x', true, false); window.pwned = 1; ('", &page);
  Event::triggerEvent("a", Json::object(), "document.dispatchEvent(e); window.pwned = 2; window",
                      &page);
  EXPECT_EQ(eval("seen.map(function (s) { return s.on + ' ' + s.type; })"),
            Json::parse(R"(["document a'b\\c\n", "window a'b\\c\n"])"));
  EXPECT_EQ(eval("typeof window.pwned"), "undefined");
  Event::triggerEvent("a", &page);
  EXPECT_EQ(eval("seen.length + ' ' + __harnessErrors.length"), "4 1");
  Event::triggerEvent("a", Json::object(), nullptr);  // no page: nothing
  // callFunction calls a page global, and nothing else; a lost connection answers undefined.
  eval("function callbackWrapper(x) { window.wrapped = x; }");
  page.callFunction("callbackWrapper", {Value("id-1")});
  EXPECT_EQ(eval("window.wrapped"), "id-1");
  page.callFunction("notAFunction", {});
  page.callFunction("missing", {Value(probe)});
  page.disconnect();
  auto r = page.evaluate("P.echo('x')");
  EXPECT_FALSE(page.lastException());
  EXPECT_FALSE(r.has_value());
  EXPECT_EQ(eval("P.title === undefined"), true);
  eval("P.title = 'lost'");
  EXPECT_FALSE(probe->title());
}

}  // namespace
}  // namespace wd::bridge::test
