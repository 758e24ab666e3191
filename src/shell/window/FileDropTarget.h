#pragma once
// A page's root object that wants the files the user drops on the page (the App object keeps
// them as MacGap.droppedFiles). The window hands drops to its root object through this.
#include <string>
#include <vector>

namespace wd {

class FileDropTarget {
 public:
  virtual ~FileDropTarget() = default;
  virtual void addFiles(std::vector<std::string> paths) = 0;
};

}  // namespace wd
