// The console table, then a summary a benchmark program prints from the times it measured: each
// benchmark's time per iteration in seconds (processor time, or the median wall-clock time), by
// name, so that results read as ratios to a reference measured in the same run.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kiv::bench {

// Which time the ratios compare: processor time per iteration, or the median wall-clock time of
// the repetitions (a benchmark run once counts as its own median) for work done on threads the
// benchmark does not own (the GL driver's, the loader's).
enum class TRatioClock { kCpu, kWallMedian };

class TRatioReporter : public benchmark::ConsoleReporter {
public:
    using TSummary = std::function<void(const TRatioReporter&)>;

    explicit TRatioReporter(TSummary summary, TRatioClock clock = TRatioClock::kCpu)
        : summary_(std::move(summary)), clock_(clock) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const double unit = benchmark::GetTimeUnitMultiplier(run.time_unit);
            if (clock_ == TRatioClock::kCpu) {
                if (run.run_type == Run::RT_Iteration)
                    seconds_[run.benchmark_name()] = run.GetAdjustedCPUTime() / unit;
                continue;
            }
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            const bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
            if (median || single) seconds_[run.run_name.function_name] = run.GetAdjustedRealTime() / unit;
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        summary_(*this);
    }

    // Seconds per iteration; none when the benchmark did not run (filtered out) or took no time.
    std::optional<double> Seconds(const std::string& name) const {
        const auto found = seconds_.find(name);
        if (found == seconds_.end() || found->second <= 0) return std::nullopt;
        return found->second;
    }
    // Prints "ratio LABEL = N.NN" when both benchmarks ran.
    void PrintRatio(const char* label, const std::string& numerator, const std::string& denominator) const {
        const std::optional<double> a = Seconds(numerator), b = Seconds(denominator);
        if (a && b) std::printf("ratio %s = %.2f\n", label, *a / *b);
    }
    // The same with its target: "ratio LABEL = N.NN (target <= T)".
    void PrintRatio(const char* label, const std::string& numerator, const std::string& denominator,
                    double target) const {
        const std::optional<double> a = Seconds(numerator), b = Seconds(denominator);
        if (a && b) std::printf("ratio %s = %.2f (target <= %.1f)\n", label, *a / *b, target);
    }

private:
    TSummary summary_;
    TRatioClock clock_;
    std::map<std::string, double> seconds_;
};

// The main of a benchmark program whose report ends with `summary`. `defaults` are switches put
// before the command line's own, which may override them.
inline int RunWithSummary(int argc, char** argv, TRatioReporter::TSummary summary,
                          TRatioClock clock = TRatioClock::kCpu, std::vector<std::string> defaults = {}) {
    std::vector<char*> args(argv, argv + argc);
    args.insert(args.begin() + 1, defaults.size(), nullptr);
    for (std::size_t i = 0; i < defaults.size(); ++i)
        args[1 + i] = defaults[i].data();
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    TRatioReporter reporter(std::move(summary), clock);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}

} // namespace kiv::bench
