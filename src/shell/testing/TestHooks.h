#pragma once
// End-to-end test support, linked only into the test build of the executable
// (wendrel-desktop-testable, never installed) and active only when the environment variable
// WD_TEST_HOOKS is "1": a
// D-Bus object (com.tovik.WendrelDesktop.Test at /com/tovik/WendrelDesktop/Test on the
// application's bus connection) through which a test runs script in the main page, closes
// windows as their close button does, and reads the windows' state and page titles.
typedef struct _GDBusConnection GDBusConnection;

namespace wd {

class AppDelegate;

class TestHooks {
 public:
  static bool enabled();
  TestHooks(GDBusConnection* connection, AppDelegate& delegate);
  ~TestHooks();
  TestHooks(const TestHooks&) = delete;
  TestHooks& operator=(const TestHooks&) = delete;

 private:
  GDBusConnection* connection_;
  unsigned registration_ = 0;
};

}  // namespace wd
