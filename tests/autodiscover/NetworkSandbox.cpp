#include "NetworkSandbox.h"

#include <glib.h>
#include <resolv.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "support/Files.h"
#include "support/Process.h"

namespace wd::test {

namespace {

// Host names served by the test HTTPS servers (all on 127.0.0.1) and named in the certificate.
const char* const kHosts[] = {
    "h.srv.test",        "h.srv0.test",    "a.two.test",  "b.two.test",  "m.mx.test",
    "h.auth.test",       "m.auth.test",    "auth.test",   "h.hang.test", "m.hang.test",
    "hang.test",         "h.fall.test",    "m.fall.test", "fall.test",   "h.status.test",
    "cname-target.test", "untrusted.test", "h.cli.test",  "localhost",
};

// dnsmasq's records ("local=/test/": authoritative for .test). three.test's SRV records are raw
// (ports 1001, 1003, 1002): dnsmasq answers those in one fixed order, the reverse of their lines.
const char* kDnsmasqRecords = R"(local=/test/
srv-host=_autodiscover._tcp.srv.test,h.srv.test,8443
srv-host=_autodiscover._tcp.srv0.test,h.srv0.test,0
srv-host=_autodiscover._tcp.two.test,a.two.test,8443,0,1
srv-host=_autodiscover._tcp.two.test,b.two.test,8443,10,1
mx-host=mx.test,m.mx.test,10
srv-host=_autodiscover._tcp.auth.test,h.auth.test,8443
mx-host=auth.test,m.auth.test,10
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

std::string errnoText(const std::string& what) {
  return what + ": " + std::strerror(errno);
}

// Entered before main (single-threaded, as unshare needs), in every process of this test binary;
// why that failed, empty when it did not.
const std::string kEntryFailure = []() -> std::string {
  if (const char* off = g_getenv("WD_AUTODISCOVER_NO_NETNS"); off && *off && *off != '0')
    return "disabled by WD_AUTODISCOVER_NO_NETNS";
  const std::string uid = std::to_string(::getuid()), gid = std::to_string(::getgid());
  // As root directly, else (or where root lacks the capability) in a user namespace as root.
  if (::getuid() != 0 || ::unshare(CLONE_NEWNET | CLONE_NEWNS) != 0) {
    if (::unshare(CLONE_NEWUSER | CLONE_NEWNET | CLONE_NEWNS) != 0)
      return errnoText("unshare(CLONE_NEWUSER|CLONE_NEWNET|CLONE_NEWNS)");
    writeFile("/proc/self/setgroups", "deny");
    if (!writeFile("/proc/self/uid_map", "0 " + uid + " 1\n") ||
        !writeFile("/proc/self/gid_map", "0 " + gid + " 1\n"))
      return errnoText("writing the user namespace maps");
  }
  if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
    return errnoText("making / private");
  return "";
}();

}  // namespace

NetworkSandbox& NetworkSandbox::shared() {
  static NetworkSandbox sandbox;
  return sandbox;
}

NetworkSandbox::NetworkSandbox() {
  reason_ = kEntryFailure.empty() ? setUp() : kEntryFailure;
}

NetworkSandbox::~NetworkSandbox() {
  if (dnsmasqPid_ > 0) {
    ::kill(dnsmasqPid_, SIGTERM);
    ::waitpid(dnsmasqPid_, nullptr, 0);
  }
  std::error_code ec;
  if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
}

std::string NetworkSandbox::setUp() {
  for (const char* var : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy",
                          "ALL_PROXY", "no_proxy", "NO_PROXY"})
    g_unsetenv(var);
  char tmpl[] = "/tmp/wd-autodiscover-XXXXXX";
  if (::mkdtemp(tmpl) == nullptr) return errnoText("mkdtemp");
  dir_ = tmpl;
  const std::string d = dir_ + "/";
  std::string hosts = "127.0.0.2 none.test\n", san = "subjectAltName=IP:127.0.0.1";
  for (const char* h : kHosts) hosts += std::string("127.0.0.1 ") + h + "\n";
  for (const char* h : kHosts) san += std::string(",DNS:") + h;
  if (!writeFile(d + "hosts", hosts) || !writeFile(d + "nsswitch.conf", "hosts: files dns\n") ||
      !writeFile(d + "resolv.conf", "nameserver 127.0.0.1\noptions timeout:1 attempts:1\n") ||
      !writeFile(d + "dnsmasq.conf", kDnsmasqRecords))
    return "cannot write the sandbox files";
  // glibc answers AI_ADDRCONFIG lookups only with a non-loopback IPv4 address: lo gets one. Then
  // two self-signed certificates: one for every test host (the only one trusted), and one more.
  const std::string req =
      "openssl req -x509 -days 3 -newkey ec -pkeyopt ec_paramgen_curve:P-256 "
      "-nodes -addext basicConstraints=critical,CA:FALSE -keyout ";
  for (const std::string& command :
       {std::string("ip link set lo up"), std::string("ip addr add 192.0.2.1/32 dev lo"),
        req + keyFile() + " -out " + certificateFile() + " -subj /CN=autodiscover.test -addext '" +
            san + "'",
        req + keyFile(true) + " -out " + certificateFile(true) +
            " -subj /CN=untrusted.test -addext subjectAltName=DNS:untrusted.test"})
    if (const ProcessResult r = runProcess(command); r.status != 0)
      return command + " failed (" + std::to_string(r.status) + "): " + r.err;
  const std::pair<std::string, const char*> mounts[] = {
      {d + "hosts", "/etc/hosts"},
      {d + "resolv.conf", "/etc/resolv.conf"},
      {d + "nsswitch.conf", "/etc/nsswitch.conf"},
      {certificateFile(), "/etc/ssl/certs/ca-certificates.crt"},
      {certificateFile(), "/etc/pki/tls/certs/ca-bundle.crt"}};
  for (const auto& [source, target] : mounts)
    if (std::filesystem::exists(target) &&
        ::mount(source.c_str(), target, nullptr, MS_BIND, nullptr) != 0)
      return errnoText(std::string("bind-mounting over ") + target);
  // --no-daemon: changing user and group fails in a user namespace; it dies with the test.
  g_auto(GStrv) argv = nullptr;
  g_shell_parse_argv(("/usr/sbin/dnsmasq --no-daemon --port=53 --listen-address=127.0.0.1 "
                      "--bind-interfaces --no-resolv --no-hosts --user=root --pid-file= "
                      "--log-queries --log-facility=" +
                      d + "log --conf-file=" + d + "dnsmasq.conf")
                         .c_str(),
                     nullptr, &argv, nullptr);
  g_autoptr(GError) error = nullptr;
  if (!g_spawn_async(
          nullptr, argv, nullptr,
          static_cast<GSpawnFlags>(G_SPAWN_DO_NOT_REAP_CHILD | G_SPAWN_STDOUT_TO_DEV_NULL |
                                   G_SPAWN_STDERR_TO_DEV_NULL),
          [](gpointer) { ::prctl(PR_SET_PDEATHSIG, SIGKILL); }, nullptr, &dnsmasqPid_, &error))
    return std::string("dnsmasq (package dnsmasq-base): ") + error->message;
  for (int i = 0; i < 400; ++i) {
    unsigned char answer[512];
    if (::res_query("none.test", C_IN, T_A, answer, sizeof answer) > 0) return "";
    if (::waitpid(dnsmasqPid_, nullptr, WNOHANG) == dnsmasqPid_)
      return (dnsmasqPid_ = -1), "dnsmasq exited at start: " + readFile(d + "log").value_or("");
    g_usleep(50 * 1000);
  }
  return "dnsmasq does not answer";
}

bool NetworkSandbox::dnsQueried(const std::string& type, const std::string& name) const {
  return readFile(dir_ + "/log").value_or("").find("query[" + type + "] " + name + " ") !=
         std::string::npos;
}

}  // namespace wd::test
