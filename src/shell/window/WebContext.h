#pragma once
// The web engine set-up shared by every web window: one web context whose website data
// (local storage, databases) lives in the LocalStorage directory, with an ephemeral cookie jar
// that accepts all cookies, and the web view settings every window starts from.
#include <string>

typedef struct _WebKitWebContext WebKitWebContext;
typedef struct _WebKitSettings WebKitSettings;

namespace wd::webcontext {

// The application's web context, made on first use (the script bridge is attached to it).
WebKitWebContext* shared();
// Drops the shared context (at shutdown, after the last web view).
void reset();

// New settings for a web view: local storage and databases on, developer extras from the
// `developer` setting, WebGL on, windows from script allowed, and the user agent with the
// application name "TovikWendrelDesktop/<version>".
WebKitSettings* newSettings();

// The application name added to the user agent.
std::string userAgentApplicationName();

}  // namespace wd::webcontext
