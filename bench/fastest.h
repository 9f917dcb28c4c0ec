// A console reporter that keeps the fastest CPU time of each benchmark's
// repetitions, from which a benchmark prints its ratios: the machine is
// shared, and interference only ever slows a run down.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

class FastestReporter : public benchmark::ConsoleReporter {
 public:
  // Nanoseconds by benchmark function name.
  std::map<std::string, double> nanoseconds;

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration) continue;
      auto [at, added] = nanoseconds.emplace(run.run_name.function_name, run.GetAdjustedCPUTime());
      if (!added) at->second = std::min(at->second, run.GetAdjustedCPUTime());
    }
    ConsoleReporter::ReportRuns(runs);
  }
};
