#pragma once
// Fetches one autodiscover document over HTTPS with libsoup: a plain GET with the session's
// default settings. Credentials are sent only in answer to the server's authentication challenge
// (never to a proxy, never over plain HTTP, and not again once the server rejected them, so a
// wrong password costs one failed login instead of a burst that could lock the account).
// Server certificates are validated, except for hosts in the process-wide certificate-exception
// registry (wd::CertificateExceptions).
//
// Outcome: a status of 400 or above cancels the request; exactly 401 reports
// `invalidCredentials`, other error statuses report nothing. Completion and transport failure
// alike report `xmlSourceDidFinished` with the body received so far. `cancel` and destruction
// report nothing. Every report comes from the main loop, never from inside `start`.
#include <gio/gio.h>

#include <memory>
#include <optional>
#include <string>

typedef struct _SoupSession SoupSession;
typedef struct _SoupMessage SoupMessage;
typedef struct _SoupAuth SoupAuth;

namespace wd {

// The user name and password that answer a server's authentication challenge.
struct Credential {
  std::string user;
  std::string password;
};

class AutodiscoverCredentials {
 public:
  virtual ~AutodiscoverCredentials() = default;
  // None: the challenge is left unanswered.
  virtual std::optional<Credential> credentials() = 0;
};

class XMLSource;

class XMLSourceDelegate : public AutodiscoverCredentials {
 public:
  // The request ended, successfully or not, with the body collected so far.
  virtual void xmlSourceDidFinished(XMLSource& source, const std::string& content) {
    (void)source;
    (void)content;
  }
  // The server answered 401.
  virtual void invalidCredentials(XMLSource& source) { (void)source; }
};

class XMLSource : public std::enable_shared_from_this<XMLSource> {
 public:
  // Bodies are collected up to this size; a longer body ends the request like a broken transfer.
  static constexpr std::size_t kMaxBodySize = 4 * 1024 * 1024;

  static std::shared_ptr<XMLSource> create(std::string endPoint,
                                           std::weak_ptr<XMLSourceDelegate> delegate);
  ~XMLSource();
  XMLSource(const XMLSource&) = delete;
  XMLSource& operator=(const XMLSource&) = delete;

  const std::string& endPoint() const { return endPoint_; }
  void start();
  // Ends the request; nothing is reported afterwards.
  void cancel();
  // The body so far (empty before the first response).
  std::string content() const { return hasData() ? *data_ : std::string(); }
  bool hasData() const { return data_.has_value() && !data_->empty(); }

 private:
  XMLSource(std::string endPoint, std::weak_ptr<XMLSourceDelegate> delegate);
  using WeakRef = std::weak_ptr<XMLSource>;

  static void sent(GObject* object, GAsyncResult* result, gpointer data);
  static void received(GObject* object, GAsyncResult* result, gpointer data);
  static gboolean finishIdle(gpointer data);
  static gboolean authenticate(SoupMessage* message, SoupAuth* auth, gboolean retrying,
                               gpointer data);
  static gboolean acceptCertificate(SoupMessage* message, GTlsCertificate* certificate,
                                    GTlsCertificateFlags errors, gpointer data);
  void readNext();
  void finish();

  const std::string endPoint_;
  std::weak_ptr<XMLSourceDelegate> delegate_;
  SoupSession* session_ = nullptr;
  SoupMessage* message_ = nullptr;
  GCancellable* cancellable_ = nullptr;
  GInputStream* stream_ = nullptr;
  guint idle_ = 0;
  std::optional<std::string> data_;
  bool started_ = false;
  bool ended_ = false;
};

}  // namespace wd
