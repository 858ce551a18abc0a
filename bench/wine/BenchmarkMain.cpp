// Runs the benchmarks registered through the Google Benchmark subset in
// benchmark/benchmark.h. Options: --benchmark_filter=REGEX, --benchmark_repetitions=N
// (other Google Benchmark options are accepted and ignored).
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <regex>

#include "benchmark/benchmark.h"

namespace benchmark {
namespace internal {

std::vector<Benchmark*>& registry() {
    static std::vector<Benchmark*> benchmarks;
    return benchmarks;
}

Benchmark* registerBenchmark(Benchmark* benchmark) {
    registry().push_back(benchmark);
    return benchmark;
}

}  // namespace internal
}  // namespace benchmark

namespace {

using benchmark::Counter;
using benchmark::State;
using benchmark::internal::Benchmark;

std::string runName(const Benchmark& b, const std::vector<int64_t>& args) {
    std::string name = b.name_;
    for (size_t i = 0; i < args.size(); ++i) {
        name += "/";
        if (i < b.argNames_.size())
            name += b.argNames_[i] + ":";
        name += std::to_string(args[i]);
    }
    return name;
}

// One run of at least half a second; its counters as Google Benchmark reports them.
std::map<std::string, double> measure(const Benchmark& b, const std::vector<int64_t>& args) {
    for (int64_t iterations = 1;; iterations *= 4) {
        State state(args, iterations);
        b.function_(state);
        if (state.seconds() < 0.5 && iterations < (int64_t(1) << 40))
            continue;
        std::map<std::string, double> values;
        values["ns_per_iteration"] = state.seconds() * 1e9 / double(iterations);
        for (const auto& [name, counter] : state.counters) {
            double v = counter.value;
            if (counter.flags & Counter::kIsRate)
                v /= state.seconds();
            if (counter.flags & Counter::kInvert)
                v = 1.0 / v;
            values[name] = v;
        }
        return values;
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::string filter = ".";
    int repetitions = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--benchmark_filter=", 19) == 0)
            filter = argv[i] + 19;
        else if (std::strncmp(argv[i], "--benchmark_repetitions=", 24) == 0)
            repetitions = std::max(1, std::atoi(argv[i] + 24));
    }
    const std::regex wanted(filter);
    for (const Benchmark* b : benchmark::internal::registry()) {
        std::vector<std::vector<int64_t>> sets = b->argSets_;
        if (sets.empty())
            sets.push_back({});
        for (const auto& args : sets) {
            const std::string name = runName(*b, args);
            if (!std::regex_search(name, wanted))
                continue;
            std::map<std::string, std::vector<double>> runs;
            for (int r = 0; r < repetitions; ++r)
                for (const auto& [counter, value] : measure(*b, args))
                    runs[counter].push_back(value);
            std::printf("%-60s", (name + "_median").c_str());
            for (auto& [counter, values] : runs) {
                std::sort(values.begin(), values.end());
                const size_t n = values.size();
                const double median = n % 2 ? values[n / 2] : 0.5 * (values[n / 2 - 1] + values[n / 2]);
                std::printf(" %s=%.4g", counter.c_str(), median);
            }
            std::printf("\n");
            std::fflush(stdout);
        }
    }
    return 0;
}
