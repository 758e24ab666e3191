#pragma once
// Shows a saved file in the desktop's file manager, selected: the file manager interface
// org.freedesktop.FileManager1.ShowItems on the session bus (the name is activated when the
// desktop provides it). When no file manager answers, the file's folder is opened with its
// default application through the workspace instead. Asynchronous; nothing waits on the bus.
#include <memory>
#include <string>

namespace wd {

class Workspace;

void showInFolder(const std::string& path, std::shared_ptr<Workspace> workspace);

}  // namespace wd
