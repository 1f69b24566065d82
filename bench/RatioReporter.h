// The console table, then a summary a benchmark program prints from the times it measured: each
// benchmark's CPU time per iteration in seconds, by name, so that results read as ratios to a
// reference measured in the same run.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>

namespace kiv::bench {

class TRatioReporter : public benchmark::ConsoleReporter {
public:
    using TSummary = std::function<void(const TRatioReporter&)>;

    explicit TRatioReporter(TSummary summary) : summary_(std::move(summary)) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration)
                seconds_[run.benchmark_name()] =
                    run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
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

private:
    TSummary summary_;
    std::map<std::string, double> seconds_;
};

// The main of a benchmark program whose report ends with `summary`.
inline int RunWithSummary(int argc, char** argv, TRatioReporter::TSummary summary) {
    benchmark::Initialize(&argc, argv);
    TRatioReporter reporter(std::move(summary));
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}

} // namespace kiv::bench
