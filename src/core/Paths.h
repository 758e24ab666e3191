#pragma once
// Per-user directories of the application (XDG base directories + "wendrel-desktop").
#include <filesystem>

namespace wd::paths {

std::filesystem::path configDirectory();  // $XDG_CONFIG_HOME/wendrel-desktop
std::filesystem::path dataDirectory();    // $XDG_DATA_HOME/wendrel-desktop
std::filesystem::path stateDirectory();   // $XDG_STATE_HOME/wendrel-desktop
std::filesystem::path logDirectory();     // stateDirectory()/logs
std::filesystem::path localStorageDirectory();  // dataDirectory()/LocalStorage
std::filesystem::path settingsFile();     // configDirectory()/com.tovik.WendrelDesktop.plist

}  // namespace wd::paths
