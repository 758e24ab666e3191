#pragma once
// The Account pane of the Preferences window: user name, password, server, port and the
// custom-configuration switch. User name, server, port and the switch are bound to the settings
// through a user-defaults controller of the pane's own that holds edits back until Save; the
// password comes from the keychain store and is written there on Save. With no user name the
// pane first shows the "InitialConfiguration" sheet, which takes an e-mail address and a
// password and fills in the rest by autodiscovery.
//
// Saving posts "accountChanged"; the Save button (also Enter in a field: it is the window's
// default while the pane shows) and a server found from the sheet then close the window and post
// "accountVerifyRequest". When the sheet's search finds no server the sheet closes and the pane
// stays with the address and password filled in, custom configuration on, the server field
// focused and a line saying so, for the user to complete and save. Leaving the pane (another
// pane, closing the window, quitting) with values that differ from the stored ones asks "Save
// changes to the account?" in a modal dialog answered asynchronously; the window waits for the
// answer. A running search ends with the sheet, the pane being hidden, or the pane itself, and
// never reports after that.
#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "autodiscover/Autodiscover.h"
#include "core/I18n.h"
#include "core/UserDefaultsController.h"
#include "shell/preferences/ControlBinding.h"
#include "shell/preferences/PreferencesPane.h"

namespace wd {

class PreferencesWindowController;
class ShellContext;

class AccountPreferencesViewController : public PreferencesPane {
 public:
  static constexpr const char* kPasswordKey = "MacGap_password";
  static constexpr int kSearchSeconds = 30;
  // The answers of the question asked when leaving a changed pane.
  enum QuestionAnswer { kSave = 1000, kDontSave = 1001, kCancel = 1002 };

  // `initialValues`: the registered initial settings (the Remove button returns to them).
  AccountPreferencesViewController(PreferencesWindowController& controller, ShellContext& context,
                                   const Json& initialValues);
  ~AccountPreferencesViewController() override;

  std::string identifier() const override { return "Accounts"; }
  std::string toolbarItemImage() const override { return "system-users"; }
  std::string toolbarItemLabel() const override { return _("Account"); }
  GtkWidget* view() override;
  void viewWillAppear() override;
  void viewDidAppear() override;
  void viewDidDisappear() override;
  void commitEditingThen(std::function<void(bool)> proceed) override;

  // Actions of the pane's and the sheet's buttons.
  void savePressed();
  void removePressed();
  void initialContinuePressed();
  void initialCancelPressed();

  // Whether a field differs from what is stored (a value typed over and back does not count).
  bool hasDataChanged() const;
  bool hasPasswordChanged() const;
  // Writes the pending settings and the password, moves the certificate exception, posts
  // "accountChanged".
  void save();

  UserDefaultsController& userDefaultsController() { return userDefaultsController_; }
  // The controls (after view()); the sheet's only while it is loaded; the question while asked.
  GtkEntry* usernameTF() const { return usernameTF_; }
  GtkEntry* passwordTF() const { return passwordTF_; }
  GtkEntry* serverTF() const { return serverTF_; }
  GtkEntry* portTF() const { return portTF_; }
  GtkToggleButton* customServerAndPort() const { return customServerAndPort_; }
  GtkButton* saveButton() const { return saveButton_; }
  GtkButton* removeButton() const { return removeButton_; }
  GtkLabel* storageNotice() const { return storageNotice_; }
  GtkLabel* discoveryNotice() const { return discoveryNotice_; }
  GtkWindow* initialWindow() const { return initialWindow_; }
  GtkEntry* initialEmail() const { return initialEmail_; }
  GtkEntry* initialPassword() const { return initialPassword_; }
  GtkLabel* initialEmailError() const { return initialEmailError_; }
  GtkSpinner* initialSpinner() const { return initialSpinner_; }
  GtkButton* initialContinueButton() const { return initialContinueButton_; }
  GtkDialog* question() const { return question_; }
  bool isSearching() const { return autodiscover_ != nullptr; }

 private:
  class SearchReceiver;

  void viewDidLoad();
  void showInitialSheet();
  void closeInitialSheet();
  void initialValuesChanged();
  void autodiscoverFinished(Autodiscover& search, const EndPoint& endPoint);
  void autoconfigurationFinished();
  void stopSearch();
  void setSearching(bool searching);
  void answer(int response);
  void keychainPasswordArrived(const std::optional<std::string>& value);
  void updateStorageNotice();

  PreferencesWindowController& controller_;
  ShellContext& context_;
  UserDefaultsController userDefaultsController_;
  std::vector<std::unique_ptr<ControlBinding>> fields_;
  std::optional<std::string> password_;

  GtkWidget* view_ = nullptr;  // owned
  GtkEntry* usernameTF_ = nullptr;
  GtkEntry* passwordTF_ = nullptr;
  GtkEntry* serverTF_ = nullptr;
  GtkEntry* portTF_ = nullptr;
  GtkToggleButton* customServerAndPort_ = nullptr;
  GtkButton* saveButton_ = nullptr;
  GtkButton* removeButton_ = nullptr;
  GtkLabel* storageNotice_ = nullptr;
  GtkLabel* discoveryNotice_ = nullptr;

  GtkWindow* initialWindow_ = nullptr;  // owned while loaded
  GtkEntry* initialEmail_ = nullptr;
  GtkEntry* initialPassword_ = nullptr;
  GtkLabel* initialEmailError_ = nullptr;
  GtkSpinner* initialSpinner_ = nullptr;
  GtkButton* initialContinueButton_ = nullptr;
  std::optional<std::string> initialEmailValue_, initialPasswordValue_;

  std::shared_ptr<SearchReceiver> receiver_;
  std::shared_ptr<Autodiscover> autodiscover_;

  GtkDialog* question_ = nullptr;  // owned while asked
  std::function<void(bool)> questionProceed_;

  std::shared_ptr<void> passwordObservation_, storageObservation_;
};

}  // namespace wd
