// With clang 14 on glibc 2.36, LeakSanitizer's exit scan crashes on the dynamic TLS of run-time
// loaded modules (GIO's TLS module, GnuTLS): the network tests' default, ASAN_OPTIONS overrides.
extern "C" const char* __asan_default_options();
extern "C" const char* __asan_default_options() {
  return "intercept_tls_get_addr=0";
}
