#include "project/ExpressionFunctions.h"

#include "base/Assert.h"
#include "base/CaseFold.h"
#include "project/SplineGraph.h"

#include <cmath>
#include <cstdint>
#include <mutex>
#include <random>
#include <thread>

namespace kiv {

namespace {

constexpr double kTwoTo63 = 9223372036854775808.0;
constexpr double kTwoTo31 = 2147483648.0;

} // namespace

double PowerValue(double base, double exponent) {
    if (exponent == 0.0) return 1.0;
    if (base == 0.0 && exponent > 0.0) return 0.0;
    if (std::trunc(exponent) == exponent && std::fabs(exponent) <= 2147483647.0) {
        // Multiplication by squaring: the same integral power, in 31 steps at most.
        std::uint32_t n = static_cast<std::uint32_t>(std::fabs(exponent));
        double result = 1.0;
        double factor = base;
        while (n != 0) {
            if (n & 1u) result *= factor;
            n >>= 1;
            if (n != 0) factor *= factor;
        }
        return exponent < 0.0 ? 1.0 / result : result;
    }
    return std::exp(exponent * std::log(base));
}

double RoundValue(double x) {
    const double rounded = std::nearbyint(x);
    if (!(rounded >= -kTwoTo63 && rounded < kTwoTo63)) return std::nan("");
    return static_cast<double>(static_cast<std::int64_t>(rounded));
}

double TruncValue(double x) {
    const double truncated = std::trunc(x);
    if (!(truncated >= -kTwoTo63 && truncated < kTwoTo63)) return std::nan("");
    return static_cast<double>(static_cast<std::int64_t>(truncated));
}

double CeilValue(double x) {
    const double ceiling = std::ceil(x);
    if (!(ceiling >= -kTwoTo31 && ceiling < kTwoTo31)) return std::nan("");
    return static_cast<double>(static_cast<std::int32_t>(ceiling));
}

double FracValue(double x) {
    return x - std::trunc(x);
}

double RndValue() {
    thread_local std::mt19937 generator(
        std::random_device{}() ^
        static_cast<unsigned>(std::hash<std::thread::id>{}(std::this_thread::get_id())));
    std::uniform_int_distribution<std::int32_t> draw(0, 2147483646);
    return draw(generator) / 2147483646.0;
}

bool TMathConst::Execute(TCalcStack& stack) {
    stack.Push(value_);
    return true;
}

bool TMathWrapper0::Execute(TCalcStack& stack) {
    stack.Push(routine_());
    return true;
}

bool TMathWrapper1::Execute(TCalcStack& stack) {
    stack.SetTop(routine_(stack.Top()));
    return true;
}

bool TMathWrapper2Ext::Execute(TCalcStack& stack) {
    const double b = stack.Pop();
    stack.SetTop(routine_(stack.Top(), b));
    return true;
}

bool TMathWrapper3::Execute(TCalcStack& stack) {
    const double c = stack.Pop();
    const double b = stack.Pop();
    stack.SetTop(routine_(stack.Top(), b, c));
    return true;
}

bool TPowerOptFunc::Execute(TCalcStack& stack) {
    const double exponent = stack.Pop();
    stack.SetTop(PowerValue(stack.Top(), exponent));
    return true;
}

bool TPowerOptFunc::Optimize(std::span<const double> constants, TRef<TCalcFunc>& replacement) {
    if (constants.empty() || !square_ || std::fabs(constants.back() - 2.0) > 1e-6) return false;
    replacement = square_;
    return true;
}

// The table itself: 16 chains of TMathFunc linked through their next_ field.
class TFunctionTable {
public:
    static constexpr unsigned kChains = 16;

    static TFunctionTable& Instance() {
        static TFunctionTable table;
        return table;
    }

    TMathFunc* Find(std::string_view name) {
        EnsureFilled();
        for (TMathFunc* f = chains_[ChainOf(name)].load(std::memory_order_acquire); f; f = f->next_)
            if (SameTextFolded(f->Name(), name)) return f;
        return nullptr;
    }

    void Register(TRef<TMathFunc> function) {
        EnsureFilled();
        Insert(function.Detach());
    }

    void Clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto& chain : chains_) {
            TMathFunc* f = chain.exchange(nullptr, std::memory_order_acq_rel);
            while (f) {
                TMathFunc* next = f->next_;
                f->next_ = nullptr;
                f->inTable_.store(false);
                f->Release();
                f = next;
            }
        }
        filled_.store(false, std::memory_order_release);
    }

private:
    static unsigned ChainOf(std::string_view name) { return FoldedHash(name) % kChains; }

    // Takes over the caller's reference. The link is written before the exchange publishes the
    // entry, so a reader that sees the entry sees its link.
    void Insert(TMathFunc* function) {
        if (function->inTable_.exchange(true)) {
            function->Release();
            KIV_FAIL("function registered twice");
        }
        std::atomic<TMathFunc*>& head = chains_[ChainOf(function->Name())];
        TMathFunc* old = head.load(std::memory_order_acquire);
        do {
            function->next_ = old;
        } while (
            !head.compare_exchange_weak(old, function, std::memory_order_release, std::memory_order_acquire));
    }

    void EnsureFilled() {
        if (filled_.load(std::memory_order_acquire)) return;
        std::lock_guard<std::mutex> lock(mutex_);
        if (filled_.load(std::memory_order_relaxed)) return;
        Fill();
        filled_.store(true, std::memory_order_release);
    }

    template <class T, class... Args> T* Add(Args&&... args) {
        T* function = new T(std::forward<Args>(args)...);
        Insert(function);
        return function;
    }

    void Fill() {
        Add<TMathConst>("Pi", 3.141592653589793);
        Add<TMathWrapper1>("Sin", [](double x) { return std::sin(x); });
        Add<TMathWrapper1>("Cos", [](double x) { return std::cos(x); });
        Add<TMathWrapper1>("Tan", [](double x) { return std::tan(x); });
        Add<TMathWrapper1>("Cotan", [](double x) { return 1.0 / std::tan(x); });
        Add<TMathWrapper1>("ArcSin", [](double x) { return std::asin(x); });
        Add<TMathWrapper1>("ArcCos", [](double x) { return std::acos(x); });
        Add<TMathWrapper1>("ArcTan", [](double x) { return std::atan(x); });
        Add<TMathWrapper2Ext>("ArcTan2", [](double y, double x) { return std::atan2(y, x); });
        Add<TMathWrapper2Ext>("Hypot", [](double a, double b) { return std::hypot(a, b); });
        Add<TMathWrapper1>("Sqrt", [](double x) { return std::sqrt(x); });
        TMathFunc* square = Add<TMathWrapper1>("Sqr", [](double x) { return x * x; });
        Add<TPowerOptFunc>("Power", TRef<TCalcFunc>::Share(square));
        Add<TPowerOptFunc>("Pow", TRef<TCalcFunc>::Share(square));
        Add<TMathWrapper1>("Abs", [](double x) { return std::fabs(x); });
        Add<TMathWrapper1>("Frac", &FracValue);
        Add<TMathWrapper1>("Round", &RoundValue);
        Add<TMathWrapper1>("Trunc", &TruncValue);
        Add<TMathWrapper1>("Ceil", &CeilValue);
        Add<TMathWrapper3>("Lerp", [](double a, double b, double t) { return a + (b - a) * t; });
        Add<TMathWrapper0>("Rnd", &RndValue, false);
        Add<TQSplineGraph>();
    }

    std::mutex mutex_;
    std::atomic<bool> filled_{false};
    std::atomic<TMathFunc*> chains_[kChains] = {};
};

TRef<TCalcFunc> FindFunction(std::string_view name) {
    return TRef<TCalcFunc>::Share(TFunctionTable::Instance().Find(name));
}

void RegisterFunction(TRef<TMathFunc> function) {
    if (function) TFunctionTable::Instance().Register(std::move(function));
}

void ClearFunctions() {
    TFunctionTable::Instance().Clear();
}

} // namespace kiv
