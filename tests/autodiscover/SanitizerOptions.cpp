// Defaults for the sanitizer runtime in the network tests (ignored without sanitizers; the
// environment's ASAN_OPTIONS still override them).
//
// intercept_tls_get_addr=0: with clang 14's runtime on glibc 2.36, the dynamic-TLS ranges that
// ASan records through __tls_get_addr are garbage for threads that touched the TLS of modules
// loaded at run time (GIO's TLS module, GnuTLS, p11-kit), and LeakSanitizer's exit-time scan then
// crashes ("Tracer caught signal 11 ... DTLS"). Without the interception LSan scans no dynamic
// TLS, which only such system libraries use (they are in tests/lsan.supp).
extern "C" const char* __asan_default_options();
extern "C" const char* __asan_default_options() {
  return "intercept_tls_get_addr=0";
}
