#pragma once
// The rig of the page-object suites: a headless page (a FakeWindow's JavaScriptCore context)
// with MacGap (a DesktopCommand) and the objects a test installs under it.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "shell/ShellFakes.h"
#include "shell/commands/DesktopCommand.h"

namespace wd::test {

class PageObjectTest : public ::testing::Test {
 protected:
  // MacGap.<name> is `object`.
  void install(std::string name, std::shared_ptr<bridge::ScriptObject> object) {
    window->page.install({std::make_shared<DesktopCommand>(window), {{std::move(name), object}}});
  }
  Json js(const std::string& script) { return window->page.evaluate(script).value_or(Json()); }

  std::shared_ptr<FakeWindow> window = std::make_shared<FakeWindow>();
};

}  // namespace wd::test
