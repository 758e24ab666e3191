#pragma once
// What the growth benchmarks share: processor time, the sizes to run, and the growth per decade
// of two costs per unit (time per unit at one size over time per unit at the size before).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

namespace wd::bench {

// Processor time of this process, not wall time: the machine may be shared, and a long run is
// interrupted more often than a short one, which would show as growth that is not the code's.
inline double cpuNowNs() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e9 + static_cast<double>(ts.tv_nsec);
}

// The sizes given on the command line (to profile one of them), else `defaults`.
inline std::vector<std::size_t> sizesFrom(int argc, char** argv,
                                          std::vector<std::size_t> defaults) {
  std::vector<std::size_t> sizes;
  for (int i = 1; i < argc; ++i) sizes.push_back(std::strtoul(argv[i], nullptr, 10));
  return sizes.empty() ? defaults : sizes;
}

// Prints one line per size (the two costs and their growth) and at the end the largest growth:
// "growth_max <ratio>".
class GrowthTable {
 public:
  GrowthTable(const char* unit, const char* first, const char* second, const char* growthFirst,
              const char* growthSecond) {
    std::printf("%8s %16s %16s %10s %10s\n", unit, first, second, growthFirst, growthSecond);
  }
  void add(std::size_t size, const double (&best)[2]) {
    double growth[2] = {0, 0};
    for (int k = 0; k < 2; ++k) {
      if (previous_[k] > 0) growth[k] = best[k] / previous_[k];
      max_ = std::max(max_, growth[k]);
      previous_[k] = best[k];
    }
    std::printf("%8zu %16.1f %16.1f %10.2f %10.2f\n", size, best[0], best[1], growth[0], growth[1]);
  }
  ~GrowthTable() { std::printf("growth_max %.2f\n", max_); }

 private:
  double previous_[2] = {0, 0};
  double max_ = 0;
};

}  // namespace wd::bench
