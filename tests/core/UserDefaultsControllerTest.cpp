#include <gtest/gtest.h>

#include <filesystem>

#include "core/UserDefaults.h"
#include "core/UserDefaultsController.h"
#include "support/Files.h"

namespace fs = std::filesystem;
using wd::Json;
using wd::UserDefaults;
using wd::UserDefaultsController;

namespace {

class UserDefaultsControllerTest : public ::testing::Test {
 protected:
  UserDefaultsControllerTest()
      : file_(wd::test::testDirectory() / "s.plist"), store_(file_), controller_(store_) {
    controller_.setInitialValues(Json{{"MacGap_port", 443}, {"MacGap_server", ""}});
  }

  // What another process (or a later launch) would read from disk.
  std::optional<Json> onDisk(const std::string& key) {
    return UserDefaults(file_).objectForKey(key);
  }

  fs::path file_;
  UserDefaults store_;
  UserDefaultsController controller_;
};

}  // namespace

TEST_F(UserDefaultsControllerTest, KeyPathsAndVisibleValues) {
  EXPECT_EQ(UserDefaultsController::keyOfKeyPath("values.MacGap_port"), "MacGap_port");
  EXPECT_EQ(UserDefaultsController::keyOfKeyPath("values."), std::nullopt);
  EXPECT_EQ(UserDefaultsController::keyOfKeyPath("MacGap_port"), std::nullopt);
  EXPECT_EQ(UserDefaultsController::keyOfKeyPath("value.MacGap_port"), std::nullopt);

  // Initial value, then registered value, then stored value win in turn.
  EXPECT_EQ(controller_.valueForKeyPath("values.MacGap_port"), Json(443));
  store_.registerDefaults(Json{{"MacGap_port", 993}});
  EXPECT_EQ(controller_.valueForKeyPath("values.MacGap_port"), Json(993));
  store_.setInteger("MacGap_port", 8443);
  EXPECT_EQ(controller_.valueForKeyPath("values.MacGap_port"), Json(8443));
  EXPECT_EQ(controller_.valueForKeyPath("values.unknown"), std::nullopt);
  EXPECT_EQ(controller_.valueForKeyPath("MacGap_port"), std::nullopt);
  // Initial values stay out of the store.
  EXPECT_EQ(store_.objectForKey("MacGap_server"), std::nullopt);

  // Bad paths and bad values change nothing.
  controller_.setValueForKeyPath("MacGap_port", 1);
  controller_.setValueForKeyPath("values.MacGap_port", Json::array({nullptr}));
  EXPECT_EQ(store_.integerForKey("MacGap_port"), 8443);
}

TEST_F(UserDefaultsControllerTest, AppliesImmediatelyByDefault) {
  EXPECT_TRUE(controller_.appliesImmediately());
  controller_.setValueForKeyPath("values.MacGap_server", "mail.example.com");
  EXPECT_EQ(onDisk("MacGap_server"), Json("mail.example.com"));
  EXPECT_FALSE(controller_.hasUnappliedChanges());
  controller_.setValueForKeyPath("values.MacGap_server", nullptr);  // removes
  EXPECT_EQ(onDisk("MacGap_server"), std::nullopt);
  EXPECT_EQ(controller_.valueForKeyPath("values.MacGap_server"), Json(""));
}

TEST_F(UserDefaultsControllerTest, PendingChangesStayOutOfTheStoreUntilSavedOrReverted) {
  store_.setString("MacGap_username", "old@example.com");
  controller_.setAppliesImmediately(false);
  const auto change = [this] {
    controller_.setValueForKeyPath("values.MacGap_username", "new@example.com");
    controller_.setValueForKeyPath("values.MacGap_port", 993);
  };
  change();
  EXPECT_TRUE(controller_.hasUnappliedChanges());
  EXPECT_EQ(controller_.valueForKeyPath("values.MacGap_username"), Json("new@example.com"));
  EXPECT_EQ(controller_.valueForKeyPath("values.MacGap_port"), Json(993));
  EXPECT_EQ(store_.stringForKey("MacGap_username"), "old@example.com");
  EXPECT_EQ(store_.objectForKey("MacGap_port"), std::nullopt);
  EXPECT_EQ(onDisk("MacGap_username"), Json("old@example.com"));

  controller_.revert();
  EXPECT_FALSE(controller_.hasUnappliedChanges());
  EXPECT_EQ(controller_.valueForKeyPath("values.MacGap_username"), Json("old@example.com"));
  EXPECT_EQ(controller_.valueForKeyPath("values.MacGap_port"), Json(443));
  controller_.save();  // nothing left to write
  EXPECT_EQ(onDisk("MacGap_username"), Json("old@example.com"));
  EXPECT_EQ(onDisk("MacGap_port"), std::nullopt);

  change();
  controller_.setValueForKeyPath("values.MacGap_server", nullptr);
  controller_.save();
  EXPECT_FALSE(controller_.hasUnappliedChanges());
  EXPECT_EQ(onDisk("MacGap_username"), Json("new@example.com"));
  EXPECT_EQ(onDisk("MacGap_port"), Json(993));
  EXPECT_EQ(store_.integerForKey("MacGap_port"), 993);
}

TEST_F(UserDefaultsControllerTest, RevertToInitialValuesAppliedAtOnce) {
  store_.setValuesForKeys(
      Json{{"MacGap_server", "mail.example.com"}, {"MacGap_port", 8443}, {"other", "kept"}});
  controller_.revertToInitialValues();
  EXPECT_EQ(controller_.valueForKeyPath("values.MacGap_server"), Json(""));
  EXPECT_EQ(controller_.valueForKeyPath("values.MacGap_port"), Json(443));
  // The store drops its values of those keys; keys without initial values are untouched.
  EXPECT_EQ(onDisk("MacGap_server"), std::nullopt);
  EXPECT_EQ(onDisk("MacGap_port"), std::nullopt);
  EXPECT_EQ(onDisk("other"), Json("kept"));
}

TEST_F(UserDefaultsControllerTest, RevertToInitialValuesIsPendingWhenNotApplyingImmediately) {
  store_.setValuesForKeys(Json{{"MacGap_server", "mail.example.com"}, {"MacGap_port", 8443}});
  controller_.setAppliesImmediately(false);
  controller_.setValueForKeyPath("values.other", "pending");
  controller_.revertToInitialValues();
  EXPECT_EQ(controller_.valueForKeyPath("values.MacGap_server"), Json(""));
  EXPECT_EQ(controller_.valueForKeyPath("values.other"), std::nullopt);  // pending change dropped
  EXPECT_EQ(store_.stringForKey("MacGap_server"), "mail.example.com");

  // "Don't Save": everything as before.
  controller_.revert();
  EXPECT_EQ(controller_.valueForKeyPath("values.MacGap_server"), Json("mail.example.com"));

  // Reset again and save: the account settings are gone from disk.
  controller_.revertToInitialValues();
  controller_.save();
  EXPECT_EQ(onDisk("MacGap_server"), std::nullopt);
  EXPECT_EQ(onDisk("MacGap_port"), std::nullopt);
  EXPECT_EQ(controller_.valueForKeyPath("values.MacGap_port"), Json(443));
}

TEST_F(UserDefaultsControllerTest, ObserversFireOnEveryChangeOfTheVisibleValue) {
  std::vector<std::optional<Json>> seen;
  auto token = controller_.addObserver(
      "values.MacGap_port", [&](const std::string& keyPath, const std::optional<Json>& value) {
        EXPECT_EQ(keyPath, "values.MacGap_port");
        seen.push_back(value);
      });
  controller_.setValueForKeyPath("values.MacGap_port", 993);  // through the controller
  controller_.setValueForKeyPath("values.MacGap_port", 993);  // same value: quiet
  store_.setInteger("MacGap_port", 995);                      // directly to the store
  store_.setInteger("unrelated", 1);                          // another key: quiet
  controller_.setAppliesImmediately(false);
  controller_.setValueForKeyPath("values.MacGap_port", 1);    // pending
  controller_.revert();                                       // back to 995
  controller_.revertToInitialValues();                        // pending 443
  controller_.save();                                         // still 443: quiet
  controller_.setInitialValues(Json{{"MacGap_port", 4443}});  // initial value changes
  controller_.setInitialValues(Json());                       // and goes away
  EXPECT_EQ(seen, (std::vector<std::optional<Json>>{Json(993), Json(995), Json(1), Json(995),
                                                    Json(443), Json(4443), std::nullopt}));

  token.reset();
  store_.setInteger("MacGap_port", 7);
  EXPECT_EQ(seen.size(), 7u);
}

TEST_F(UserDefaultsControllerTest, ObserversMayChangeSettingsAndObservationsWhileCalled) {
  UserDefaultsController::Token first, second;
  int firstCalls = 0, secondCalls = 0;
  first = controller_.addObserver("values.a", [&](const std::string&, const std::optional<Json>&) {
    ++firstCalls;
    second.reset();
    controller_.setValue("b", "from observer");
  });
  second = controller_.addObserver(
      "values.a", [&](const std::string&, const std::optional<Json>&) { ++secondCalls; });
  std::optional<Json> b;
  auto third = controller_.addObserver(
      "values.b", [&](const std::string&, const std::optional<Json>& value) { b = value; });
  auto ignored = controller_.addObserver(
      "not-a-key-path", [&](const std::string&, const std::optional<Json>&) {
        ADD_FAILURE() << "paths other than values.KEY never fire";
      });
  controller_.setValue("a", 1);
  EXPECT_EQ(firstCalls, 1);
  EXPECT_EQ(secondCalls, 0);
  EXPECT_EQ(b, Json("from observer"));
}
