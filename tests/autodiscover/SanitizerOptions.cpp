// The sanitizer runtime's default for the network tests (ASAN_OPTIONS still overrides it): with
// clang 14 on glibc 2.36, ASan's dynamic-TLS ranges of threads that used run-time loaded modules
// (GIO's TLS module, GnuTLS, p11-kit) are garbage and LeakSanitizer's exit scan crashes ("Tracer
// caught signal 11 ... DTLS"); only such system libraries (tests/lsan.supp) use dynamic TLS.
extern "C" const char* __asan_default_options();
extern "C" const char* __asan_default_options() {
  return "intercept_tls_get_addr=0";
}
