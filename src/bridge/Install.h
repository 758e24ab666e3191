#pragma once
// What is installed into a page's main-frame script context: `root` becomes the global MacGap
// and each member MacGap.<name>, in order (a later member of the same name replaces an earlier
// one).
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bridge/ScriptObject.h"

namespace wd::bridge {

struct InstallSet {
  std::shared_ptr<ScriptObject> root;
  std::vector<std::pair<std::string, std::shared_ptr<ScriptObject>>> members;
};

// Called for every new main-frame script context of an allowed document, before the page's first
// script, with the document's URL. None installs nothing.
using Installer = std::function<std::optional<InstallSet>(const std::string& documentUrl)>;

}  // namespace wd::bridge
