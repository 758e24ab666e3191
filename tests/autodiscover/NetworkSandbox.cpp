#include "NetworkSandbox.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <glib.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace wd::test {

namespace {

// Host names served by the test HTTPS servers (all on 127.0.0.1) and named in the certificate.
const char* const kHosts[] = {
    "h.srv.test",    "h.srv0.test",       "a.two.test",     "b.two.test",    "m.mx.test",
    "h.auth.test",   "m.auth.test",       "auth.test",      "h.authok.test", "h.hang.test",
    "m.hang.test",   "hang.test",         "h.fall.test",    "m.fall.test",   "fall.test",
    "h.status.test", "cname-target.test", "untrusted.test", "h.cli.test",    "localhost",
};

// dnsmasq's records for every scenario. "local=/test/" makes it authoritative for .test, so an
// unknown name gets NXDOMAIN and a known name without the asked type gets an empty answer.
// three.test's SRV records (priority 1, weight 2, ports 1001 one.three.test, 1003 three.three.test,
// 1002 two.three.test) are raw records: dnsmasq answers those in one fixed order, the reverse of
// their lines (1002, 1003, 1001), where it turns srv-host answers round from query to query.
const char* kDnsmasqRecords = R"(local=/test/
srv-host=_autodiscover._tcp.srv.test,h.srv.test,8443
srv-host=_autodiscover._tcp.srv0.test,h.srv0.test,0
srv-host=_autodiscover._tcp.two.test,a.two.test,8443,0,1
srv-host=_autodiscover._tcp.two.test,b.two.test,8443,10,1
mx-host=mx.test,m.mx.test,10
srv-host=_autodiscover._tcp.auth.test,h.auth.test,8443
mx-host=auth.test,m.auth.test,10
srv-host=_autodiscover._tcp.authok.test,h.authok.test,8443
srv-host=_autodiscover._tcp.hang.test,h.hang.test,8443
mx-host=hang.test,m.hang.test,10
srv-host=_autodiscover._tcp.fall.test,h.fall.test,8443
mx-host=fall.test,m.fall.test,10
srv-host=_autodiscover._tcp.untrusted.test,untrusted.test,9443
srv-host=_autodiscover._tcp.cli.test,h.cli.test,8443
dns-rr=_autodiscover._tcp.three.test,33,0001000203E9036F6E65057468726565047465737400
dns-rr=_autodiscover._tcp.three.test,33,0001000203EB057468726565057468726565047465737400
dns-rr=_autodiscover._tcp.three.test,33,0001000203EA0374776F057468726565047465737400
srv-host=_autodiscover._tcp.cname-target.test,h.srv.test,8443
cname=_autodiscover._tcp.cname.test,_autodiscover._tcp.cname-target.test
host-record=none.test,127.0.0.2
)";

bool writeFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  return static_cast<bool>(out);
}

std::string errnoText(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}

// Static-initialisation state: entering namespaces must happen while single-threaded.
struct Entry {
  bool entered = false;
  std::string reason;
};

Entry& entry() {
  static Entry e;
  return e;
}

bool writeProc(const char* path, const std::string& text) {
  int fd = ::open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ::close(fd);
  return ok;
}

bool bringLoopbackUp(std::string& reason) {
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    reason = errnoText("socket");
    return false;
  }
  ifreq req{};
  std::strncpy(req.ifr_name, "lo", IFNAMSIZ - 1);
  bool ok = ::ioctl(fd, SIOCGIFFLAGS, &req) == 0;
  if (ok) {
    req.ifr_flags = static_cast<short>(req.ifr_flags | IFF_UP | IFF_RUNNING);
    ok = ::ioctl(fd, SIOCSIFFLAGS, &req) == 0;
  }
  if (!ok) reason = errnoText("bringing up lo");
  ::close(fd);
  return ok;
}

void enterNamespaces() {
  Entry& e = entry();
  if (const char* off = std::getenv("WD_AUTODISCOVER_NO_NETNS"); off && *off && *off != '0') {
    e.reason = "disabled by WD_AUTODISCOVER_NO_NETNS";
    return;
  }
  const uid_t uid = ::getuid();
  const gid_t gid = ::getgid();
  // As root, new network and mount namespaces directly; otherwise (or where root lacks the
  // capability, as in some containers) inside a new user namespace that maps the user to root.
  bool entered = uid == 0 && ::unshare(CLONE_NEWNET | CLONE_NEWNS) == 0;
  if (!entered) {
    if (::unshare(CLONE_NEWUSER | CLONE_NEWNET | CLONE_NEWNS) != 0) {
      e.reason = errnoText("unshare(CLONE_NEWUSER|CLONE_NEWNET|CLONE_NEWNS)");
      return;
    }
    writeProc("/proc/self/setgroups", "deny");
    if (!writeProc("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1\n") ||
        !writeProc("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1\n")) {
      e.reason = errnoText("writing the user namespace maps");
      return;
    }
  }
  // Mounts made from now on stay inside this process's mount namespace.
  if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
    e.reason = errnoText("making / private");
    return;
  }
  if (!bringLoopbackUp(e.reason)) return;
  e.entered = true;
}

// Runs before main (single-threaded), in every process of this test binary.
[[maybe_unused]] const bool kEntered = (enterNamespaces(), true);

bool bindMount(const std::string& source, const std::string& target, std::string& reason) {
  if (::mount(source.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) != 0) {
    reason = errnoText(("bind-mounting over " + target).c_str());
    return false;
  }
  return true;
}

bool run(const std::vector<std::string>& argv, std::string& reason) {
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  gchar* err = nullptr;
  gint status = 0;
  GError* error = nullptr;
  const gboolean ok = g_spawn_sync(nullptr, args.data(), nullptr, G_SPAWN_SEARCH_PATH, nullptr,
                                   nullptr, nullptr, &err, &status, &error);
  if (!ok || !g_spawn_check_wait_status(status, nullptr)) {
    reason = argv[0] + " failed: " + (error ? error->message : "") + (err ? err : "");
    g_clear_error(&error);
    g_free(err);
    return false;
  }
  g_free(err);
  return true;
}

// One DNS query to 127.0.0.1:53; true when any answer comes within 200 ms.
bool dnsAnswers() {
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(53);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  // Query: id 0x4242, RD, one question "h.srv.test" A IN.
  const unsigned char query[] = {0x42, 0x42, 0x01, 0x00, 0, 1,   0,   0,   0,   0, 0, 0, 1, 'h',
                                 3,    's',  'r',  'v',  4, 't', 'e', 's', 't', 0, 0, 1, 0, 1};
  bool ok = false;
  if (::sendto(fd, query, sizeof query, 0, reinterpret_cast<sockaddr*>(&addr), sizeof addr) > 0) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 200) == 1) {
      unsigned char buf[512];
      ok = ::recv(fd, buf, sizeof buf, 0) > 0;
    }
  }
  ::close(fd);
  return ok;
}

}  // namespace

NetworkSandbox& NetworkSandbox::shared() {
  static NetworkSandbox sandbox;
  return sandbox;
}

NetworkSandbox::NetworkSandbox() {
  if (!entry().entered) {
    reason_ = entry().reason.empty() ? "namespaces not entered" : entry().reason;
    return;
  }
  available_ = setUp();
}

NetworkSandbox::~NetworkSandbox() {
  stopDnsmasq();
  if (!dir_.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
}

bool NetworkSandbox::setUp() {
  // Proxies from the environment would take the test's requests off loopback.
  for (const char* var : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy",
                          "ALL_PROXY", "no_proxy", "NO_PROXY"})
    ::unsetenv(var);
  char tmpl[] = "/tmp/wd-autodiscover-XXXXXX";
  if (::mkdtemp(tmpl) == nullptr) {
    reason_ = errnoText("mkdtemp");
    return false;
  }
  dir_ = tmpl;
  // glibc answers IPv4-only lookups with AI_ADDRCONFIG (GLib's resolver makes them) only when a
  // non-loopback IPv4 address exists: give loopback one from the documentation range.
  if (!run({"ip", "addr", "add", "192.0.2.1/32", "dev", "lo"}, reason_)) return false;

  std::ostringstream hosts;
  hosts << "127.0.0.1 localhost\n";
  for (const char* h : kHosts) hosts << "127.0.0.1 " << h << "\n";
  hosts << "127.0.0.2 none.test\n";
  if (!writeFile(dir_ + "/hosts", hosts.str()) ||
      !writeFile(dir_ + "/resolv.conf", "nameserver 127.0.0.1\noptions timeout:1 attempts:1\n") ||
      !writeFile(dir_ + "/nsswitch.conf", "hosts: files dns\n")) {
    reason_ = "cannot write the sandbox files";
    return false;
  }
  if (!bindMount(dir_ + "/hosts", "/etc/hosts", reason_) ||
      !bindMount(dir_ + "/resolv.conf", "/etc/resolv.conf", reason_))
    return false;
  if (std::filesystem::exists("/etc/nsswitch.conf") &&
      !bindMount(dir_ + "/nsswitch.conf", "/etc/nsswitch.conf", reason_))
    return false;

  // Certificates: a CA, a server certificate for every test host signed by it, and an
  // unrelated self-signed certificate.
  std::string san = "subjectAltName=IP:127.0.0.1";
  for (const char* h : kHosts) san += std::string(",DNS:") + h;
  writeFile(dir_ + "/server.ext", san +
                                      "\nbasicConstraints=CA:FALSE\nkeyUsage=digitalSignature\n"
                                      "extendedKeyUsage=serverAuth\n");
  const std::string d = dir_ + "/";
  certFile_ = d + "server.pem";
  keyFile_ = d + "server.key";
  untrustedCertFile_ = d + "untrusted.pem";
  untrustedKeyFile_ = d + "untrusted.key";
  const std::vector<std::string> newKey = {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256",
                                           "-nodes"};
  auto req = [&newKey](std::vector<std::string> args) {
    args.insert(args.begin(), {"openssl", "req"});
    args.insert(args.end(), newKey.begin(), newKey.end());
    return args;
  };
  const std::vector<std::vector<std::string>> commands = {
      req({"-x509", "-days", "3", "-keyout", d + "ca.key", "-out", d + "ca.pem", "-subj",
           "/CN=Wendrel Test CA", "-addext", "basicConstraints=critical,CA:TRUE", "-addext",
           "keyUsage=critical,keyCertSign,cRLSign"}),
      req({"-new", "-keyout", keyFile_, "-out", d + "server.csr", "-subj",
           "/CN=autodiscover.test"}),
      {"openssl", "x509", "-req", "-in", d + "server.csr", "-CA", d + "ca.pem", "-CAkey",
       d + "ca.key", "-CAcreateserial", "-out", certFile_, "-days", "3", "-extfile",
       d + "server.ext"},
      req({"-x509", "-days", "3", "-keyout", untrustedKeyFile_, "-out", untrustedCertFile_, "-subj",
           "/CN=untrusted.test", "-addext", "subjectAltName=DNS:untrusted.test"}),
  };
  for (const auto& c : commands)
    if (!run(c, reason_)) return false;
  // Only this process and its children trust the test CA, and nothing else.
  for (const char* bundle :
       {"/etc/ssl/certs/ca-certificates.crt", "/etc/pki/tls/certs/ca-bundle.crt"})
    if (std::filesystem::exists(bundle) && !bindMount(d + "ca.pem", bundle, reason_)) return false;

  if (!writeFile(d + "dnsmasq.conf", kDnsmasqRecords)) {
    reason_ = "cannot write dnsmasq.conf";
    return false;
  }
  return startDnsmasq();
}

bool NetworkSandbox::startDnsmasq() {
  const std::string conf = "--conf-file=" + dir_ + "/dnsmasq.conf";
  const std::string log = "--log-facility=" + dir_ + "/dnsmasq.log";
  const char* candidates[] = {"/usr/sbin/dnsmasq", "/sbin/dnsmasq", "/usr/bin/dnsmasq"};
  const char* binary = nullptr;
  for (const char* c : candidates)
    if (::access(c, X_OK) == 0) binary = c;
  if (binary == nullptr) {
    reason_ = "dnsmasq is not installed (package dnsmasq-base)";
    return false;
  }
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid < 0) {
    reason_ = errnoText("fork");
    return false;
  }
  if (pid == 0) {
    // dnsmasq dies with the test process, even when the test process is killed.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);
    // --no-daemon keeps dnsmasq from changing its user and group, which fails inside a user
    // namespace; it also copies the log to stderr, which is silenced (the log file has it all).
    const int devnull = ::open("/dev/null", O_RDWR);
    if (devnull >= 0) {
      ::dup2(devnull, 1);
      ::dup2(devnull, 2);
    }
    ::execl(binary, "dnsmasq", "--no-daemon", "--port=53", "--listen-address=127.0.0.1",
            "--bind-interfaces", "--no-resolv", "--no-hosts", "--user=root",
            "--pid-file=", "--log-queries", log.c_str(), conf.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  dnsmasqPid_ = pid;
  for (int i = 0; i < 100; ++i) {
    if (dnsAnswers()) return true;
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid) {
      dnsmasqPid_ = -1;
      reason_ = "dnsmasq exited at start:";
      std::ifstream in(dir_ + "/dnsmasq.log");
      for (std::string line; std::getline(in, line);) reason_ += " " + line;
      return false;
    }
  }
  reason_ = "dnsmasq does not answer";
  return false;
}

void NetworkSandbox::stopDnsmasq() {
  if (dnsmasqPid_ <= 0) return;
  ::kill(dnsmasqPid_, SIGTERM);
  int status = 0;
  ::waitpid(dnsmasqPid_, &status, 0);
  dnsmasqPid_ = -1;
}

std::vector<std::string> NetworkSandbox::dnsQueries() const {
  std::vector<std::string> lines;
  std::ifstream in(dir_ + "/dnsmasq.log");
  std::string line;
  while (std::getline(in, line)) {
    const auto at = line.find("query[");
    if (at != std::string::npos) lines.push_back(line.substr(at));
  }
  return lines;
}

bool NetworkSandbox::dnsQueried(const std::string& type, const std::string& name) const {
  const std::string needle = "query[" + type + "] " + name + " ";
  for (const auto& l : dnsQueries())
    if (l.rfind(needle, 0) == 0) return true;
  return false;
}

}  // namespace wd::test
