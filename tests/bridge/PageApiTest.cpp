// The page API generator's rules over a made-up exports table: what a table must say before
// declarations are written, and how the declarations and the reference read it.
#include <gtest/gtest.h>

#include <optional>

#include "bridge/Exports.h"
#include "sdk/PageApi.h"

namespace wd::bridge::test {
namespace {

class Sample : public ScriptObject {
 public:
  void open(std::optional<Dictionary>) {}
  void pair(std::optional<std::string>, double) {}
  void callback(ScriptValue) {}
  void undocumented() {}
  Value vague() const { return {}; }
  bool flag() const { return false; }
  void setFlag(bool) {}
  static std::string keyOf(std::optional<std::string> s) { return s.value_or(""); }
  const ClassInfo& scriptClass() const override { return exports(); }
  static const ClassInfo& exports() {
    static const ClassInfo& info =
        ClassBuilder<Sample>("Sample")
            .summary("A sample.")
            .event({"ping", "{ n: number }", "Pinged."})
            .event({"pong", "null", "Ponged.", "window"})
            .windowOpeningMethod("open:", &Sample::open)
            .doc({.summary = "Opens.", .params = {"options: { url: string }"}})
            .method("pair:number:", &Sample::pair)
            .doc({.summary = "Two.", .params = {"text?", "n"}, .refused = "nothing"})
            .method("dictionary:", &Sample::open)
            .doc({.summary = "Untyped dictionary.", .params = {"options"}})
            .method("callback:", &Sample::callback)
            .doc({.summary = "Too few names."})
            .method("undocumented", &Sample::undocumented)
            .property("vague", &Sample::vague)
            .doc({.summary = "No result type."})
            .property("flag", &Sample::flag, &Sample::setFlag)
            .doc({.summary = "A flag."})
            .classMethod("keyOf:", &Sample::keyOf)
            .doc({.summary = "A key.", .params = {"keys"}})
            .build();
    return info;
  }
};

sdk::PageApi sampleApi() {
  return {{{"", &Sample::exports(), true}, {"Extra", &Sample::exports(), false}},
          {},
          {{"Window events", "Raised by windows.", {{"tick", "{}", "Ticked."}}}}};
}

TEST(PageApi, DeclarationsFollowTheTableOnceItDescribesEveryMember) {
  EXPECT_EQ(sdk::problems(sampleApi()),
            (std::vector<std::string>{"Sample.dictionary: parameter options needs its type",
                                      "Sample.callback: 1 parameters, 0 named",
                                      "Sample.undocumented: no summary",
                                      "Sample.vague: result unknown needs its type"}));
  const std::string d = sdk::typeScriptDeclarations(sampleApi());
  for (const char* expected : {
           "open(options: { url: string }): Window | undefined;",
           "pairNumber(text?: string, n?: number): void;",  // optional from the first optional on
           "/** Two. Missing or refused: nothing. */",
           "  flag: boolean;",
           "  readonly constructor: MacGapSampleConstructor;",
           "interface MacGapSampleConstructor {\n  readonly prototype: MacGapSample;",
           "  keyOf(keys: string): string;",
           "interface MacGap extends MacGapSample {",
           "  readonly Extra?: MacGapSample;",
           "  \"ping\": MacGapEvent<{ n: number }>;",
           "  \"tick\": MacGapEvent<{}>;",
           "interface MacGapWindowEventMap {\n  /** Ponged. */\n  \"pong\": MacGapEvent<null>;\n}",
       })
    EXPECT_NE(d.find(expected), std::string::npos) << expected << "\n" << d;
  // Class members are not instance members.
  EXPECT_EQ(d.find("keyOf"), d.rfind("keyOf"));
  const std::string md = sdk::markdownReference(sampleApi());
  for (const char* expected : {"## MacGap.Extra",
                               "Installed when the web client's configuration "
                               "lists \"Extra\" in \"plugins\".",
                               "- `constructor.keyOf(keys: string): string`: A key.",
                               "- `pong` on `window`, data `null`: Ponged.", "## Window events"})
    EXPECT_NE(md.find(expected), std::string::npos) << expected << "\n" << md;
}

}  // namespace
}  // namespace wd::bridge::test
