#include "shell/preferences/AccountPreferencesViewController.h"

#include "core/CertificateExceptions.h"
#include "core/I18n.h"
#include "core/Log.h"
#include "core/NotificationCenter.h"
#include "core/Settings.h"
#include "keychain/PDKeychainBindingsController.h"
#include "shell/ShellContext.h"
#include "shell/commands/AccountCommand.h"
#include "shell/preferences/EmailFormatter.h"
#include "shell/preferences/PaneLayout.h"
#include "shell/preferences/PreferencesWindowController.h"
#include "shell/window/CertificateTrust.h"
#include "shell/window/WindowEffects.h"
#include "shell/window/WindowKeys.h"

namespace wd {

namespace {

std::string trimmed(const char* text) {
  std::string s = text ? text : "";
  s.erase(0, s.find_first_not_of(" \t"));
  s.erase(s.find_last_not_of(" \t") + 1);
  return s;
}

std::string textOf(GtkEntry* entry) {
  return entry ? gtk_entry_get_text(entry) : "";
}

void focus(GtkEntry* entry) {
  if (entry) gtk_widget_grab_focus(GTK_WIDGET(entry));
}

}  // namespace

// The search's delegate: forwards to the pane while it exists (the pane drops it, so a search
// that outlives the pane finds no delegate and reports to nobody).
class AccountPreferencesViewController::SearchReceiver : public AutodiscoverDelegate {
 public:
  explicit SearchReceiver(AccountPreferencesViewController* pane) : pane_(pane) {}
  void autodiscoverFinished(Autodiscover& search, const EndPoint& endPoint) override {
    if (pane_) pane_->autodiscoverFinished(search, endPoint);
  }
  std::optional<Credential> credentials() override {
    if (!pane_) return std::nullopt;
    return Credential{pane_->initialEmailValue_.value_or(""),
                      pane_->initialPasswordValue_.value_or("")};
  }
  AccountPreferencesViewController* pane_;
};

AccountPreferencesViewController::AccountPreferencesViewController(
    PreferencesWindowController& controller, ShellContext& context, const Json& initialValues)
    : controller_(controller), context_(context), userDefaultsController_(context.defaults()) {
  // Edits stay pending until Save; "Don't Save" drops them.
  userDefaultsController_.setInitialValues(initialValues);
  userDefaultsController_.setAppliesImmediately(false);
}

AccountPreferencesViewController::~AccountPreferencesViewController() {
  stopSearch();
  receiver_.reset();
  passwordObservation_.reset();
  storageObservation_.reset();
  if (question_) {
    questionProceed_ = nullptr;
    gtk_widget_destroy(GTK_WIDGET(std::exchange(question_, nullptr)));
  }
  closeInitialSheet();
  fields_.clear();
  if (view_) {
    gtk_widget_destroy(view_);
    g_object_unref(view_);
  }
}

GtkWidget* AccountPreferencesViewController::view() {
  if (view_) return view_;
  PaneLayout layout("AccountPreferencesViewController");
  view_ = layout.get<GtkWidget>("view", GTK_TYPE_BOX);
  usernameTF_ = layout.get<GtkEntry>("usernameTF", GTK_TYPE_ENTRY);
  passwordTF_ = layout.get<GtkEntry>("passwordTF", GTK_TYPE_ENTRY);
  serverTF_ = layout.get<GtkEntry>("serverTF", GTK_TYPE_ENTRY);
  portTF_ = layout.get<GtkEntry>("portTF", GTK_TYPE_ENTRY);
  customServerAndPort_ = layout.get<GtkToggleButton>("customServerAndPort", GTK_TYPE_TOGGLE_BUTTON);
  saveButton_ = layout.get<GtkButton>("saveButton", GTK_TYPE_BUTTON);
  removeButton_ = layout.get<GtkButton>("removeButton", GTK_TYPE_BUTTON);
  storageNotice_ = layout.get<GtkLabel>("storageNotice", GTK_TYPE_LABEL);
  discoveryNotice_ = layout.get<GtkLabel>("discoveryNotice", GTK_TYPE_LABEL);
  if (!view_) {
    view_ = gtk_label_new(_("The account settings cannot be shown: their layout is missing."));
    gtk_widget_show(view_);
  }
  g_object_ref_sink(view_);
  viewDidLoad();
  return view_;
}

void AccountPreferencesViewController::viewDidLoad() {
  struct Field {
    GtkWidget* control;
    ControlBinding::Kind kind;
    const char* key;
  };
  const Field fields[] = {
      {GTK_WIDGET(usernameTF_), ControlBinding::Kind::Text, Settings::kUsername},
      {GTK_WIDGET(serverTF_), ControlBinding::Kind::Text, Settings::kServer},
      {GTK_WIDGET(portTF_), ControlBinding::Kind::Integer, Settings::kPort},
      {GTK_WIDGET(customServerAndPort_), ControlBinding::Kind::Bool,
       Settings::kUseCustomConfiguration},
  };
  for (const auto& f : fields) {
    if (!f.control) continue;
    fields_.push_back(std::make_unique<ControlBinding>(f.control, f.kind, userDefaultsController_,
                                                       Settings::bind(f.key)));
  }
  if (saveButton_)
    g_signal_connect_swapped(saveButton_, "clicked", G_CALLBACK(+[](gpointer self) {
                               static_cast<AccountPreferencesViewController*>(self)->savePressed();
                             }),
                             this);
  if (removeButton_)
    g_signal_connect_swapped(
        removeButton_, "clicked", G_CALLBACK(+[](gpointer self) {
          static_cast<AccountPreferencesViewController*>(self)->removePressed();
        }),
        this);
  // The keyring may answer after the pane appeared (it is read in the background at start-up):
  // an untouched password field then shows the keyring's value.
  auto& keychain = context_.keychain();
  passwordObservation_ =
      keychain.addObserver(Settings::bind(kPasswordKey),
                           [this](const std::string&, const std::optional<std::string>& value) {
                             keychainPasswordArrived(value);
                           });
  storageObservation_ = keychain.addStorageObserver([this] { updateStorageNotice(); });
  updateStorageNotice();
}

void AccountPreferencesViewController::updateStorageNotice() {
  if (!storageNotice_) return;
  const auto message = context_.keychain().sessionOnlyMessage();
  gtk_label_set_text(storageNotice_, message.value_or("").c_str());
  gtk_widget_set_visible(GTK_WIDGET(storageNotice_), message.has_value());
}

void AccountPreferencesViewController::keychainPasswordArrived(
    const std::optional<std::string>& value) {
  if (!passwordTF_ || !value || value == password_) return;
  if (textOf(passwordTF_) != password_.value_or("")) return;  // the user is editing it
  if (trimmed(textOf(usernameTF_).c_str()).empty()) return;
  password_ = value;
  gtk_entry_set_text(passwordTF_, value->c_str());
}

void AccountPreferencesViewController::viewWillAppear() {
  if (discoveryNotice_) gtk_widget_hide(GTK_WIDGET(discoveryNotice_));
}

void AccountPreferencesViewController::viewDidAppear() {
  view();
  for (auto& f : fields_) f->refresh();
  // Enter in any field saves.
  if (saveButton_ &&
      gtk_widget_get_toplevel(GTK_WIDGET(saveButton_)) == GTK_WIDGET(controller_.window()))
    gtk_widget_grab_default(GTK_WIDGET(saveButton_));
  if (!trimmed(textOf(usernameTF_).c_str()).empty()) {
    password_ = context_.keychain().valueForKeyPath(Settings::bind(kPasswordKey));
    if (passwordTF_) gtk_entry_set_text(passwordTF_, password_.value_or("").c_str());
    return;
  }
  showInitialSheet();
}

void AccountPreferencesViewController::viewDidDisappear() {
  // A sheet left open (and its search) ends with the pane.
  if (initialWindow_) initialCancelPressed();
  // The default button belongs to this pane only.
  gtk_window_set_default(controller_.window(), nullptr);
}

bool AccountPreferencesViewController::hasPasswordChanged() const {
  return password_.value_or("") != textOf(passwordTF_);
}

bool AccountPreferencesViewController::hasDataChanged() const {
  // An empty text and an absent value are the same to the user.
  auto normal = [](std::optional<Json> v) {
    if (!v || v->is_null() || (v->is_string() && v->get<std::string>().empty())) return Json();
    return *v;
  };
  const UserDefaults& store = context_.defaults();
  for (const auto& field : fields_) {
    const auto key = UserDefaultsController::keyOfKeyPath(field->keyPath());
    if (!key) continue;
    std::optional<Json> stored = store.objectForKey(*key);
    if (!stored && userDefaultsController_.initialValues().contains(*key))
      stored = userDefaultsController_.initialValues()[*key];
    if (normal(userDefaultsController_.value(*key)) != normal(stored)) return true;
  }
  return hasPasswordChanged();
}

void AccountPreferencesViewController::save() {
  UserDefaults& defaults = context_.defaults();
  const std::string formerHost = serverHost(defaults.stringForKey(Settings::kServer).value_or(""));
  userDefaultsController_.save();
  if (hasPasswordChanged())
    context_.keychain().setValueForKeyPath(textOf(passwordTF_), Settings::bind(kPasswordKey));
  // A certificate the user trusted belongs to the server it was trusted for: when the server
  // changes, the exception and the remembered choice go; the new server is validated until the
  // user trusts it.
  const std::string host = serverHost(textOf(serverTF_));
  if (host != formerHost) {
    if (!formerHost.empty())
      CertificateExceptions::shared().setAllowsAnyCertificate(false, formerHost);
    if (defaults.boolForKey(Settings::kAllowUntrustedCertificates))
      defaults.setBool(Settings::kAllowUntrustedCertificates, false);
  }
  context_.center().post(AccountCommand::kAccountChanged);
}

void AccountPreferencesViewController::savePressed() {
  save();
  controller_.close();
  context_.center().post(AccountCommand::kAccountVerifyRequest);
}

void AccountPreferencesViewController::removePressed() {
  userDefaultsController_.revertToInitialValues();
  if (passwordTF_) gtk_entry_set_text(passwordTF_, "");
  initialEmailValue_.reset();
  initialPasswordValue_.reset();
}

void AccountPreferencesViewController::commitEditingThen(std::function<void(bool)> proceed) {
  if (!hasDataChanged()) {
    proceed(true);
    return;
  }
  if (question_) {  // asked already: the first answer decides
    proceed(false);
    return;
  }
  questionProceed_ = std::move(proceed);
  GtkWidget* dialog =
      gtk_message_dialog_new(controller_.window(), GTK_DIALOG_MODAL, GTK_MESSAGE_QUESTION,
                             GTK_BUTTONS_NONE, "%s", _("Save changes to the account?"));
  gtk_window_set_title(GTK_WINDOW(dialog), _("Unsaved Account Changes"));
  gtk_message_dialog_format_secondary_text(
      GTK_MESSAGE_DIALOG(dialog), "%s",
      _("All entered information will be lost if you answer Don't Save"));
  gtk_dialog_add_button(GTK_DIALOG(dialog), _("Do_n't Save"), kDontSave);
  gtk_dialog_add_button(GTK_DIALOG(dialog), _("_Cancel"), kCancel);
  gtk_dialog_add_button(GTK_DIALOG(dialog), _("_Save"), kSave);
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), kSave);
  g_signal_connect(dialog, "response", G_CALLBACK(+[](GtkDialog*, gint response, gpointer self) {
                     static_cast<AccountPreferencesViewController*>(self)->answer(response);
                   }),
                   this);
  question_ = GTK_DIALOG(dialog);
  gtk_window_present(GTK_WINDOW(dialog));
}

void AccountPreferencesViewController::answer(int response) {
  if (!question_) return;
  gtk_widget_destroy(GTK_WIDGET(std::exchange(question_, nullptr)));
  auto proceed = std::exchange(questionProceed_, nullptr);
  bool leave = false;
  if (response == kSave) {
    save();
    leave = true;
  } else if (response == kDontSave) {
    // The password field keeps its text until the pane is shown again.
    userDefaultsController_.revert();
    leave = true;
  }
  if (proceed) proceed(leave);
}

void AccountPreferencesViewController::showInitialSheet() {
  if (!initialWindow_) {
    PaneLayout layout("InitialConfiguration");
    initialWindow_ = layout.get<GtkWindow>("initialWindow", GTK_TYPE_WINDOW);
    initialEmail_ = layout.get<GtkEntry>("initialEmail", GTK_TYPE_ENTRY);
    initialPassword_ = layout.get<GtkEntry>("initialPassword", GTK_TYPE_ENTRY);
    initialEmailError_ = layout.get<GtkLabel>("initialEmailError", GTK_TYPE_LABEL);
    initialSpinner_ = layout.get<GtkSpinner>("initialSpinner", GTK_TYPE_SPINNER);
    initialContinueButton_ = layout.get<GtkButton>("initialContinueButton", GTK_TYPE_BUTTON);
    auto* cancel = layout.get<GtkButton>("initialCancelButton", GTK_TYPE_BUTTON);
    if (!initialWindow_ || !initialEmail_ || !initialPassword_ || !initialContinueButton_ ||
        !cancel) {
      WD_LOG_INFO("The first-run sheet cannot be shown: its layout is incomplete");
      initialWindow_ = nullptr;
      return;
    }
    g_object_ref(initialWindow_);  // the builder's reference goes with the layout
    g_signal_connect_swapped(
        initialEmail_, "changed", G_CALLBACK(+[](gpointer self) {
          static_cast<AccountPreferencesViewController*>(self)->initialValuesChanged();
        }),
        this);
    g_signal_connect_swapped(
        initialContinueButton_, "clicked", G_CALLBACK(+[](gpointer self) {
          static_cast<AccountPreferencesViewController*>(self)->initialContinuePressed();
        }),
        this);
    g_signal_connect_swapped(
        cancel, "clicked", G_CALLBACK(+[](gpointer self) {
          static_cast<AccountPreferencesViewController*>(self)->initialCancelPressed();
        }),
        this);
    g_signal_connect(initialWindow_, "delete-event",
                     G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer self) -> gboolean {
                       static_cast<AccountPreferencesViewController*>(self)->initialCancelPressed();
                       return TRUE;
                     }),
                     this);
    gtk_window_set_default(initialWindow_, GTK_WIDGET(initialContinueButton_));
    closeOnEscape(initialWindow_, [this] { initialCancelPressed(); });
    // The application's shortcuts (Quit, Preferences) work in the sheet too.
    if (GApplication* app = g_application_get_default(); app && GTK_IS_APPLICATION(app))
      gtk_window_set_application(initialWindow_, GTK_APPLICATION(app));
    initialValuesChanged();
  }
  if (discoveryNotice_) gtk_widget_hide(GTK_WIDGET(discoveryNotice_));
  // Modal to the Preferences window alone: it joins that window's group, so the main window, its
  // menu and the application's shortcuts stay usable.
  GtkWindow* parent = controller_.window();
  gtk_window_group_add_window(gtk_window_get_group(parent), initialWindow_);
  gtk_window_set_transient_for(initialWindow_, parent);
  gtk_window_set_modal(initialWindow_, TRUE);
  gtk_window_present(initialWindow_);
  gtk_widget_grab_focus(GTK_WIDGET(initialEmail_));
}

void AccountPreferencesViewController::initialValuesChanged() {
  if (!initialEmail_) return;
  const std::string email = textOf(initialEmail_);
  std::string error;
  const bool valid = EmailFormatter::objectValueForString(email, &error).has_value();
  if (initialEmailError_) {
    gtk_label_set_text(initialEmailError_, error.c_str());
    gtk_widget_set_visible(GTK_WIDGET(initialEmailError_), !valid && !email.empty());
  }
  gtk_widget_set_sensitive(GTK_WIDGET(initialContinueButton_), valid && !isSearching());
}

void AccountPreferencesViewController::setSearching(bool searching) {
  if (!initialWindow_) return;
  gtk_widget_set_sensitive(GTK_WIDGET(initialEmail_), !searching);
  gtk_widget_set_sensitive(GTK_WIDGET(initialPassword_), !searching);
  if (initialSpinner_) {
    gtk_widget_set_visible(GTK_WIDGET(initialSpinner_), searching);
    if (searching)
      gtk_spinner_start(initialSpinner_);
    else
      gtk_spinner_stop(initialSpinner_);
  }
  initialValuesChanged();
}

void AccountPreferencesViewController::initialContinuePressed() {
  if (!initialWindow_ || isSearching()) return;
  const std::string email = textOf(initialEmail_);
  // The field refuses anything that is not an address, so there is always a domain here.
  if (!EmailFormatter::validateEmail(email)) return;
  const auto at = email.find('@');
  if (at == std::string::npos) return;
  initialEmailValue_ = email;
  initialPasswordValue_ = textOf(initialPassword_);
  if (!receiver_) receiver_ = std::make_shared<SearchReceiver>(this);
  autodiscover_ = Autodiscover::createWithSRV(email.substr(at + 1));
  setSearching(true);
  auto search = autodiscover_;
  search->resolveWithTimeout(kSearchSeconds, receiver_);
}

void AccountPreferencesViewController::autodiscoverFinished(Autodiscover& search,
                                                            const EndPoint& endPoint) {
  if (&search != autodiscover_.get()) return;
  if (endPoint.error() == EndPointErrorInvalidCredentials) {
    // The server refused the credentials: the sheet stays for another try.
    stopSearch();
    if (GtkWindow* window = controller_.window()) effects::shake(window);
    setSearching(false);
    return;
  }
  const std::string email = initialEmailValue_.value_or(textOf(initialEmail_));
  userDefaultsController_.setValue(Settings::kUsername, email);
  if (passwordTF_)
    gtk_entry_set_text(passwordTF_,
                       initialPasswordValue_.value_or(textOf(initialPassword_)).c_str());
  if (endPoint.isSuccess()) {
    userDefaultsController_.setValue(Settings::kUseCustomConfiguration, false);
    userDefaultsController_.setValue(Settings::kServer, endPoint.host().value_or(""));
    userDefaultsController_.setValue(Settings::kPort, endPoint.port());
    autoconfigurationFinished();
    savePressed();
    return;
  }
  // Not found: the pane stays for the user to complete server and port by hand and save; an
  // account without a server is never saved from here.
  userDefaultsController_.setValue(Settings::kUseCustomConfiguration, true);
  autoconfigurationFinished();
  if (discoveryNotice_) gtk_widget_show(GTK_WIDGET(discoveryNotice_));
  gtk_window_present(controller_.window());
  if (trimmed(textOf(usernameTF_).c_str()).empty())
    focus(usernameTF_);
  else if (trimmed(textOf(passwordTF_).c_str()).empty())
    focus(passwordTF_);
  else
    focus(serverTF_);
}

void AccountPreferencesViewController::autoconfigurationFinished() {
  stopSearch();
  initialCancelPressed();
}

void AccountPreferencesViewController::stopSearch() {
  if (auto search = std::move(autodiscover_)) search->stop();
}

void AccountPreferencesViewController::initialCancelPressed() {
  stopSearch();
  closeInitialSheet();
  initialEmailValue_.reset();
  initialPasswordValue_.reset();
}

void AccountPreferencesViewController::closeInitialSheet() {
  if (!initialWindow_) return;
  GtkWindow* window = std::exchange(initialWindow_, nullptr);
  initialEmail_ = initialPassword_ = nullptr;
  initialEmailError_ = nullptr;
  initialSpinner_ = nullptr;
  initialContinueButton_ = nullptr;
  gtk_widget_destroy(GTK_WIDGET(window));
  g_object_unref(window);
}

}  // namespace wd
