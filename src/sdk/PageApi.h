#pragma once
// The page API as the page's authors see it, made from the exports tables alone: the TypeScript
// declarations (macgap.d.ts) and the reference (page-api.md). `PageObject`s say what is
// installed on MacGap (the root's own members, then objects under their names); each class's
// table gives the members' names, kinds and declared types, and its documentation entries the
// descriptions, parameter names, shapes and events. Events raised by the windows themselves
// rather than by a script object come as `bridge::EventSource`s.
#include <string>
#include <vector>

#include "bridge/ScriptObject.h"

namespace wd::sdk {

struct PageObject {
  std::string name;  // "" for MacGap itself (its members are the root's)
  const bridge::ClassInfo* cls;
  // Installed on every MacGap; otherwise only when the web client's configuration names it in
  // "plugins" (declared optional).
  bool always = false;
};

struct PageApi {
  std::vector<PageObject> objects;
  // Classes reached only through results (MenuItem), in reference order.
  std::vector<const bridge::ClassInfo*> resultClasses;
  std::vector<bridge::EventSource> windowEvents;
};

// What a table lacks for the declarations: a member without a description, parameter names
// that do not match the declared parameters, an event without a name or data type. Empty when
// the declarations can be made.
std::vector<std::string> problems(const PageApi& api);

std::string typeScriptDeclarations(const PageApi& api);
std::string markdownReference(const PageApi& api);

}  // namespace wd::sdk
