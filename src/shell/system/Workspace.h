#pragma once
// Opening URLs and files with the user's default applications, and launching an application by
// its name, through the desktop's application registry (desktop entries, GIO).
#include <memory>
#include <optional>
#include <string>

namespace wd {

class Workspace {
 public:
  virtual ~Workspace() = default;
  // Opens an absolute URL with its default handler; false when the text is no URL.
  virtual bool openURL(const std::string& url) = 0;
  // Opens a local file with its default application.
  virtual bool openFile(const std::string& path) = 0;
  // Launches the application called `name` (see findApplication); false when none is found.
  virtual bool launchApplication(const std::string& name) = 0;
};

class GioWorkspace : public Workspace {
 public:
  bool openURL(const std::string& url) override;
  bool openFile(const std::string& path) override;
  bool launchApplication(const std::string& name) override;

  // The desktop-entry id of the application called `name`: an entry whose id (with or without
  // ".desktop"), name or executable equals it, compared without regard to case. None when no
  // installed application matches.
  static std::optional<std::string> findApplication(const std::string& name);
};

}  // namespace wd
