// Cost of large page values crossing the bridge, per key: an object of 1,000, 10,000 and
// 100,000 keys passed from the page to a native member (converted by the page side, encoded,
// decoded and made a Dictionary) and one of the same size returned to the page, through the
// same marshaller and wire encoding as the web process (the headless page). A conversion that
// is linear in the number of keys costs the same per key at every size; each line prints the
// growth per decade (time per key at this size over time per key at the size ten times
// smaller) and the last line the largest of them: "growth_max <ratio>". The platform columns are
// the engine alone doing the nearest work in the page: JSON.stringify of the object (reading
// every name and value out) and JSON.parse of its text (building the object), the floor any
// conversion through the engine has.
#include <glib.h>

#include <algorithm>
#include <array>
#include <string>

#include "Growth.h"
#include "bridge/Exports.h"
#include "bridge/testing/JscHarness.h"

namespace {

using namespace wd::bridge;

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
  const auto sizes = wd::bench::sizesFrom(argc, argv, {1000, 10000, 100000});
  auto sink = std::make_shared<Sink>();
  testing::JscHarness page;
  page.install({sink, {{"Sink", sink}}});
  wd::bench::GrowthTable table("keys", "to native ns/key", "to page ns/key", "growth_in",
                               "growth_out", true);
  const char* names[2] = {"to_native", "to_page"};
  const char* platformNames[2] = {"platform_stringify", "platform_parse"};
  for (std::size_t keys : sizes) {
    // Enough rounds for about a million keys per size; the best round counts (the machine is
    // shared, and only the conversion's own cost is of interest).
    const int rounds =
        wd::bench::roundsFor(static_cast<int>(std::max<std::size_t>(3, 1000000 / keys)));
    page.evaluate("var o = {}; for (var i = 0; i < " + std::to_string(keys) +
                  "; ++i) o['key' + i] = i;");
    sink->made = Dictionary();
    for (std::size_t i = 0; i < keys; ++i)
      sink->made.entries().emplace_back("key" + std::to_string(i), Value(double(i)));
    // Runs the two scripts once and keeps each one's best time per key.
    auto timeBoth = [&](const char* first, const char* second, const char* phases[2],
                        double* best) {
      const double t0 = wd::bench::lap(nullptr, keys);
      page.evaluate(first);
      const double t1 = wd::bench::lap(phases[0], keys);
      page.evaluate(second);
      const double t2 = wd::bench::lap(phases[1], keys);
      best[0] = std::min(best[0], (t1 - t0) / double(keys));
      best[1] = std::min(best[1], (t2 - t1) / double(keys));
    };
    double best[2] = {1e300, 1e300};
    std::array<double, 2> platform = {1e300, 1e300};
    page.evaluate("var text = JSON.stringify(o); undefined");
    for (int r = 0; r < rounds; ++r) {
      timeBoth("JSON.stringify(o); undefined", "JSON.parse(text); undefined", platformNames,
               platform.data());
      timeBoth("MacGap.Sink.take(o); undefined", "MacGap.Sink.give(); undefined", names, best);
    }
    table.add(keys, best, platform);
  }
  return 0;
}
