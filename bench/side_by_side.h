// Runs benchmarks side by side on a shared, noisy machine: each round runs
// every benchmark once, one after the other, so that a program and its peer
// meet the same load; the median rate of each over the rounds is kept. The
// caller's `summary` receives those rates (items or bytes per second, by
// name) and prints the figures the benchmark is judged by as its last line.
#ifndef ISMGR_BENCH_SIDE_BY_SIDE_H_
#define ISMGR_BENCH_SIDE_BY_SIDE_H_

#include <benchmark/benchmark.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace ismgr::bench {

using Rates = std::map<std::string, double>;

class RateReporter : public benchmark::ConsoleReporter {
 public:
  RateReporter() : ConsoleReporter(OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      std::string name = run.benchmark_name();
      name = name.substr(0, name.find("/round:"));
      for (const char* rate : {"items_per_second", "bytes_per_second"}) {
        auto it = run.counters.find(rate);
        if (it != run.counters.end()) seen_[name].push_back(it->second.value);
      }
    }
  }
  Rates medians() const {
    Rates rates;
    for (auto [name, values] : seen_) {
      std::sort(values.begin(), values.end());
      rates[name] = values[values.size() / 2];
    }
    return rates;
  }

 private:
  std::map<std::string, std::vector<double>> seen_;
};

// Registers `cases` (name, function) for `rounds` rounds, runs them and hands
// the median rates to `summary`.
inline int run_side_by_side(
    int argc, char** argv,
    const std::vector<std::pair<std::string, void (*)(benchmark::State&)>>& cases,
    const std::function<void(const Rates&)>& summary, int rounds = 5) {
  benchmark::Initialize(&argc, argv);
  for (int r = 0; r < rounds; ++r) {
    for (const auto& [name, fn] : cases) {
      benchmark::RegisterBenchmark((name + "/round:" + std::to_string(r)).c_str(), fn);
    }
  }
  RateReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  summary(reporter.medians());
  benchmark::Shutdown();
  return 0;
}

}  // namespace ismgr::bench

#endif  // ISMGR_BENCH_SIDE_BY_SIDE_H_
