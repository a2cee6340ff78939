// Runs the benchmarks named on the command line in random interleaving (so a slow spell of the
// machine falls on every benchmark alike) and collects each one's median time per iteration.
#pragma once
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

enum class MedianClock { kCpu, kWall };

// Benchmark name ("function" or "function/args") -> median nanoseconds per iteration; false
// when the command line held arguments the library does not know.
inline bool RunInterleavedMedians(int argc, char** argv, MedianClock clock, std::map<std::string, double>* ns) {
  class Collect : public benchmark::ConsoleReporter {
   public:
    Collect(MedianClock c, std::map<std::string, double>* out) : clock_(c), out_(out) {}
    void ReportRuns(const std::vector<Run>& runs) override {
      ConsoleReporter::ReportRuns(runs);
      for (const Run& r : runs)
        if (r.run_type == Run::RT_Aggregate && r.aggregate_name == "median")
          (*out_)[r.run_name.function_name + (r.run_name.args.empty() ? "" : "/" + r.run_name.args)] =
              clock_ == MedianClock::kCpu ? r.GetAdjustedCPUTime() : r.GetAdjustedRealTime();
    }

   private:
    MedianClock clock_;
    std::map<std::string, double>* out_;
  };
  std::vector<char*> args(argv, argv + argc);
  std::string interleave = "--benchmark_enable_random_interleaving=true";
  args.insert(args.begin() + 1, interleave.data());
  int nargs = static_cast<int>(args.size());
  benchmark::Initialize(&nargs, args.data());
  if (benchmark::ReportUnrecognizedArguments(nargs, args.data())) return false;
  Collect reporter(clock, ns);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\n");  // the reporter's last line may end in a colour code without a newline
  return true;
}
