// Cost of large page values crossing the bridge, per key: an object of 1,000, 10,000 and
// 100,000 keys passed from the page to a native member (converted by the page side, encoded,
// decoded and made a Dictionary) and one of the same size returned to the page, through the
// same marshaller and wire encoding as the web process (the headless page). A conversion that
// is linear in the number of keys costs the same per key at every size; each line prints the
// growth per decade (time per key at this size over time per key at the size ten times
// smaller) and the last line the largest of them: "growth_max <ratio>".
#include <glib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "bridge/Exports.h"
#include "bridge/testing/JscHarness.h"

namespace {

using namespace wd::bridge;

// Processor time of this process, not wall time: the machine may be shared, and a long run is
// interrupted more often than a short one, which would show as growth that is not the code's.
double nowNs() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e9 + static_cast<double>(ts.tv_nsec);
}

class Sink : public ScriptObject {
 public:
  double take(std::optional<Dictionary> d) { return d ? static_cast<double>(d->size()) : -1; }
  Value give() const { return Value(made); }
  const ClassInfo& scriptClass() const override {
    static const ClassInfo& info =
        ClassBuilder<Sink>("Sink").method("take:", &Sink::take).method("give", &Sink::give).build();
    return info;
  }
  Dictionary made;
};

}  // namespace

int main(int argc, char** argv) {
  // Sizes may be given on the command line (for profiling one size); the default is the three.
  std::vector<std::size_t> sizes;
  for (int i = 1; i < argc; ++i) sizes.push_back(std::strtoul(argv[i], nullptr, 10));
  if (sizes.empty()) sizes = {1000, 10000, 100000};
  auto sink = std::make_shared<Sink>();
  testing::JscHarness page;
  page.install({sink, {{"Sink", sink}}});
  double growthMax = 0;
  double previous[2] = {0, 0};
  std::printf("%8s %16s %16s %10s %10s\n", "keys", "to native ns/key", "to page ns/key",
              "growth_in", "growth_out");
  for (std::size_t keys : sizes) {
    // Enough rounds for about a million keys per size; the best round counts (the machine is
    // shared, and only the conversion's own cost is of interest).
    const int rounds = static_cast<int>(std::max<std::size_t>(3, 1000000 / keys));
    page.evaluate("var o = {}; for (var i = 0; i < " + std::to_string(keys) +
                  "; ++i) o['key' + i] = i;");
    sink->made = Dictionary();
    for (std::size_t i = 0; i < keys; ++i)
      sink->made.entries().emplace_back("key" + std::to_string(i), Value(double(i)));
    double best[2] = {1e300, 1e300};
    for (int r = 0; r < rounds; ++r) {
      double t0 = nowNs();
      page.evaluate("MacGap.Sink.take(o); undefined");
      double t1 = nowNs();
      page.evaluate("MacGap.Sink.give(); undefined");
      double t2 = nowNs();
      best[0] = std::min(best[0], (t1 - t0) / double(keys));
      best[1] = std::min(best[1], (t2 - t1) / double(keys));
    }
    double growth[2] = {0, 0};
    for (int k = 0; k < 2; ++k) {
      if (previous[k] > 0) growth[k] = best[k] / previous[k];
      growthMax = std::max(growthMax, growth[k]);
      previous[k] = best[k];
    }
    std::printf("%8zu %16.1f %16.1f %10.2f %10.2f\n", keys, best[0], best[1], growth[0], growth[1]);
  }
  std::printf("growth_max %.2f\n", growthMax);
  return 0;
}
