#pragma once
// What the growth benchmarks share: processor time, the sizes to run, and the growth per decade
// of two costs per unit (time per unit at one size over time per unit at the size before).
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#ifdef WD_BENCH_CALLGRIND  // set by the build when valgrind's header is installed
#include <valgrind/callgrind.h>
#endif

namespace wd::bench {

// Processor time of this process, not wall time: the machine may be shared, and a long run is
// interrupted more often than a short one, which would show as growth that is not the code's.
inline double cpuNowNs() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e9 + static_cast<double>(ts.tv_nsec);
}

// Under callgrind (`./scripts/bench NAME --instructions`) the instructions of each timed phase
// are counted as well: lap() ends the phase before it (a dump named "<column> <size>", which the
// script divides by the size; "-" for the time before the first phase) and starts the next. The
// count does not move with the machine's load or its caches, so its growth is the code's own.
inline bool underCallgrind() {
#ifdef WD_BENCH_CALLGRIND
  return RUNNING_ON_VALGRIND != 0;
#else
  return false;
#endif
}

// Ends the phase `column` (nullptr: the time before a round's first phase) of size `size`;
// returns the processor time.
inline double lap(const char* column, std::size_t size) {
#ifdef WD_BENCH_CALLGRIND
  if (underCallgrind()) {
    char name[96];
    std::snprintf(name, sizeof name, "%s %zu", column ? column : "-", size);
    CALLGRIND_DUMP_STATS_AT(name);
  }
#else
  (void)column;
  (void)size;
#endif
  return cpuNowNs();
}

// The rounds to run at one size: `rounds`, or two under callgrind (instruction counts do not
// need the best of many, and the simulated processor is some fifty times slower).
inline int roundsFor(int rounds) {
  return underCallgrind() ? 2 : rounds;
}

// The sizes given on the command line (to profile one of them), else `defaults`.
inline std::vector<std::size_t> sizesFrom(int argc, char** argv,
                                          std::vector<std::size_t> defaults) {
  std::vector<std::size_t> sizes;
  for (int i = 1; i < argc; ++i) sizes.push_back(std::strtoul(argv[i], nullptr, 10));
  return sizes.empty() ? defaults : sizes;
}

// Prints one line per size (the two costs and their growth) and at the end the largest growth:
// "growth_max <ratio>". With `platform` costs (the same work done by the toolkit or engine
// alone, without the application's code) each line also shows those, their growth and the
// growth of the application's own part (cost minus platform cost), and the end adds
// "platform_growth_max" and "own_growth_max": a growth the platform shows as well comes from
// the platform (caches outgrown by the data), one only the own part shows from the code.
class GrowthTable {
 public:
  GrowthTable(const char* unit, const char* first, const char* second, const char* growthFirst,
              const char* growthSecond, bool platform = false)
      : platform_(platform) {
    std::printf("%8s %14s %14s %10s %10s", unit, first, second, growthFirst, growthSecond);
    if (platform_)
      std::printf(" %10s %10s %10s %10s %10s %10s", "platform", "platform", "p_growth", "p_growth",
                  "own_growth", "own_growth");
    std::printf("\n");
  }
  void add(std::size_t size, const double (&best)[2], const std::array<double, 2>& platform = {}) {
    const double own[2] = {best[0] - platform[0], best[1] - platform[1]};
    double growth[3][2] = {};
    for (int k = 0; k < 2; ++k) {
      growth[0][k] = grow(previous_[0][k], best[k], max_[0]);
      growth[1][k] = grow(previous_[1][k], platform[k], max_[1]);
      growth[2][k] = grow(previous_[2][k], own[k], max_[2]);
    }
    std::printf("%8zu %14.1f %14.1f %10.2f %10.2f", size, best[0], best[1], growth[0][0],
                growth[0][1]);
    if (platform_)
      std::printf(" %10.1f %10.1f %10.2f %10.2f %10.2f %10.2f", platform[0], platform[1],
                  growth[1][0], growth[1][1], growth[2][0], growth[2][1]);
    std::printf("\n");
  }
  ~GrowthTable() {
    std::printf("growth_max %.2f\n", max_[0]);
    if (platform_) std::printf("platform_growth_max %.2f\nown_growth_max %.2f\n", max_[1], max_[2]);
  }

 private:
  // Growth of a cost over the one at the size before (0 for the first size).
  static double grow(double& previous, double now, double& max) {
    const double growth = previous > 0 ? now / previous : 0;
    previous = now;
    max = std::max(max, growth);
    return growth;
  }
  bool platform_;
  double previous_[3][2] = {};  // the application, the platform, the own part
  double max_[3] = {};
};

}  // namespace wd::bench
