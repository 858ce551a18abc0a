#pragma once
// The part of Google Benchmark's interface that the benchmarks here use, for the
// Windows builds (there is no Google Benchmark for MinGW on the build machine), so
// that the same benchmark sources measure the 32- and 64-bit editions under Wine.
// Each benchmark runs until it has taken at least half a second; a run's counters
// are reported as the median of --benchmark_repetitions runs, in lines shaped like
// Google Benchmark's ("name_median ... ns_per_frame=... x_realtime=...").
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace benchmark {

class Counter {
public:
    enum Flags { kDefaults = 0, kIsRate = 1, kInvert = 2 };
    Counter(double value = 0.0, int flags = kDefaults) : value(value), flags(flags) {}
    double value;
    int flags;
};

class State {
public:
    State(const std::vector<int64_t>& args, int64_t iterations) : args_(args), iterations_(iterations) {}

    struct Value {
        ~Value() {}  // not trivial, so the unused loop variable draws no warning
    };
    class Iterator {
    public:
        Iterator(State* state, int64_t left) : state_(state), left_(left) {}
        Value operator*() const { return Value(); }
        Iterator& operator++() {
            --left_;
            return *this;
        }
        bool operator!=(const Iterator&) const {
            if (left_ > 0)
                return true;
            state_->stop();
            return false;
        }

    private:
        State* state_;
        int64_t left_;
    };
    Iterator begin() {
        started_ = std::chrono::steady_clock::now();
        return Iterator(this, iterations_);
    }
    Iterator end() { return Iterator(this, 0); }

    int64_t range(size_t index) const { return index < args_.size() ? args_[index] : 0; }
    int64_t iterations() const { return iterations_; }
    double seconds() const { return seconds_; }

    std::map<std::string, Counter> counters;

private:
    void stop() { seconds_ = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count(); }

    std::vector<int64_t> args_;
    int64_t iterations_;
    std::chrono::steady_clock::time_point started_;
    double seconds_ = 0.0;
};

template <class T>
inline void DoNotOptimize(T const& value) {
    asm volatile("" : : "r,m"(value) : "memory");
}
inline void ClobberMemory() { asm volatile("" : : : "memory"); }

namespace internal {

class Benchmark {
public:
    Benchmark(const char* name, void (*function)(State&)) : name_(name), function_(function) {}
    Benchmark* ArgNames(const std::vector<std::string>& names) {
        argNames_ = names;
        return this;
    }
    Benchmark* Args(const std::vector<int64_t>& args) {
        argSets_.push_back(args);
        return this;
    }
    Benchmark* ArgsProduct(const std::vector<std::vector<int64_t>>& lists) {
        std::vector<std::vector<int64_t>> product{{}};
        for (const auto& list : lists) {
            std::vector<std::vector<int64_t>> next;
            for (const auto& prefix : product)
                for (int64_t value : list) {
                    next.push_back(prefix);
                    next.back().push_back(value);
                }
            product = next;
        }
        argSets_.insert(argSets_.end(), product.begin(), product.end());
        return this;
    }
    Benchmark* Apply(void (*apply)(Benchmark*)) {
        apply(this);
        return this;
    }

    const char* name_;
    void (*function_)(State&);
    std::vector<std::string> argNames_;
    std::vector<std::vector<int64_t>> argSets_;
};

Benchmark* registerBenchmark(Benchmark* benchmark);

}  // namespace internal
}  // namespace benchmark

#define BENCHMARK_NAME_JOIN2(a, b) a##b
#define BENCHMARK_NAME_JOIN(a, b) BENCHMARK_NAME_JOIN2(a, b)
#define BENCHMARK(function)                                                                   \
    static ::benchmark::internal::Benchmark* BENCHMARK_NAME_JOIN(benchmark_registered_, __LINE__) = \
        ::benchmark::internal::registerBenchmark(new ::benchmark::internal::Benchmark(#function, function))
