// The floor the convolver stands on: real FFTs, the complex products of its inner loop and the
// FIR head, each vector loop on every code path the processor has.
#include "convolution/ipps.h"

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

namespace {

void fill_random(float* data, int count, unsigned seed)
{
    std::mt19937 engine(seed);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    for (int i = 0; i < count; ++i)
        data[i] = dist(engine);
}

// Forces a code path for the benchmark's lifetime; reports whether the processor has it.
class PathScope {
public:
    explicit PathScope(benchmark::State& state) : saved_(corvella::ipps_code_path())
    {
        const auto path = static_cast<corvella::IppsCodePath>(state.range(1));
        ok_ = corvella::ipps_set_code_path(path);
        if (ok_)
            state.SetLabel(corvella::ipps_code_path_name(path));
        else
            state.SkipWithError("code path not available on this processor");
    }
    ~PathScope() { corvella::ipps_set_code_path(saved_); }
    bool ok() const { return ok_; }

private:
    corvella::IppsCodePath saved_;
    bool ok_ = false;
};

void all_paths(benchmark::internal::Benchmark* b, int len)
{
    for (int path = 0; path <= 2; ++path)
        b->Args({len, path});
}

// Forward then inverse transform of n points, in place, as the convolver runs them.
void BM_RealFftForwardInverse(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    int order = 0;
    while ((1 << order) < n)
        ++order;
    IppsFFTSpec_R_32f* spec = nullptr;
    if (ippsFFTInitAlloc_R_32f(&spec, order, IPP_FFT_DIV_INV_BY_N, ippAlgHintNone) != ippStsNoErr) {
        state.SkipWithError("FFT set-up failed");
        return;
    }
    int work_size = 0;
    ippsFFTGetBufSize_R_32f(spec, &work_size);
    Ipp8u* work = ippsMalloc_8u(work_size);
    Ipp32f* buf = ippsMalloc_32f(n + 4);
    fill_random(buf, n + 4, 1);
    for (auto _ : state) {
        ippsFFTFwd_RToCCS_32f_I(buf, spec, work);
        ippsFFTInv_CCSToR_32f_I(buf, spec, work);
        benchmark::DoNotOptimize(buf);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * n); // samples through both transforms
    ippsFree(buf);
    ippsFree(work);
    ippsFFTFree_R_32f(spec);
}
BENCHMARK(BM_RealFftForwardInverse)->Arg(256)->Arg(4096)->Arg(65536);

// acc += a x b over the spectrum of a 65536-point transform (32,770 complex values).
void BM_ComplexMultiplyAdd(benchmark::State& state)
{
    PathScope scope(state);
    if (!scope.ok()) return;
    const int len = static_cast<int>(state.range(0));
    Ipp32f* a = ippsMalloc_32f(2 * len);
    Ipp32f* b = ippsMalloc_32f(2 * len);
    Ipp32f* acc = ippsMalloc_32f(2 * len);
    fill_random(a, 2 * len, 2);
    fill_random(b, 2 * len, 3);
    fill_random(acc, 2 * len, 4);
    auto* ac = reinterpret_cast<Ipp32fc*>(a);
    auto* bc = reinterpret_cast<Ipp32fc*>(b);
    auto* accc = reinterpret_cast<Ipp32fc*>(acc);
    for (auto _ : state) {
        ippsAddProduct_32fc(ac, bc, accc, len); // grows linearly; stays far from overflow
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * len);
    state.SetBytesProcessed(state.iterations() * len * static_cast<int64_t>(4 * sizeof(Ipp32fc)));
    ippsFree(a);
    ippsFree(b);
    ippsFree(acc);
}
BENCHMARK(BM_ComplexMultiplyAdd)->Apply([](benchmark::internal::Benchmark* b) { all_paths(b, 32770); });

// dst = a x b over 32,770 complex values.
void BM_ComplexMultiply(benchmark::State& state)
{
    PathScope scope(state);
    if (!scope.ok()) return;
    const int len = static_cast<int>(state.range(0));
    Ipp32f* a = ippsMalloc_32f(2 * len);
    Ipp32f* b = ippsMalloc_32f(2 * len);
    Ipp32f* dst = ippsMalloc_32f(2 * len);
    fill_random(a, 2 * len, 5);
    fill_random(b, 2 * len, 6);
    for (auto _ : state) {
        ippsMul_32fc(reinterpret_cast<Ipp32fc*>(a), reinterpret_cast<Ipp32fc*>(b),
                     reinterpret_cast<Ipp32fc*>(dst), len);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * len);
    state.SetBytesProcessed(state.iterations() * len * static_cast<int64_t>(3 * sizeof(Ipp32fc)));
    ippsFree(a);
    ippsFree(b);
    ippsFree(dst);
}
BENCHMARK(BM_ComplexMultiply)->Apply([](benchmark::internal::Benchmark* b) { all_paths(b, 32770); });

// A 256-tap FIR over blocks of 128 frames: the zero-latency head at its smallest partition.
void BM_Fir256Taps(benchmark::State& state)
{
    PathScope scope(state);
    if (!scope.ok()) return;
    const int frames = static_cast<int>(state.range(0));
    std::vector<float> taps(256), x(static_cast<std::size_t>(frames)), y(static_cast<std::size_t>(frames));
    fill_random(taps.data(), 256, 7);
    fill_random(x.data(), frames, 8);
    IppsFIRState_32f* fir = nullptr;
    if (ippsFIRInitAlloc_32f(&fir, taps.data(), 256, nullptr) != ippStsNoErr) {
        state.SkipWithError("FIR set-up failed");
        return;
    }
    for (auto _ : state) {
        ippsFIR_32f(x.data(), y.data(), frames, fir);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * frames);
    state.counters["taps_per_second"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * frames * 256, benchmark::Counter::kIsRate);
    ippsFIRFree_32f(fir);
}
BENCHMARK(BM_Fir256Taps)->Apply([](benchmark::internal::Benchmark* b) { all_paths(b, 128); });

} // namespace

BENCHMARK_MAIN();
