// Real FFT on FFTW3 (single precision), in place, packed spectrum layout.
#include "convolution/ipps.h"

#include "platform/reproducibility.h"

#include <fftw3.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <new>
#include <string>

namespace {

constexpr unsigned int spec_magic = 0x46465452u; // "FFTR"
constexpr int min_order = 1;
constexpr int max_order = 24;

// Orders up to 16 (65536 points, the largest transform the convolver runs per block) are planned
// with FFTW_MEASURE, larger ones with FFTW_ESTIMATE. On a current x86-64 core the measured plans
// run 1.2 (4096 points) to 1.7 (32768 points) times faster; measuring costs about 0.3 s per size
// up to 8192 points and 1.4 s at 65536, paid once per process since FFTW keeps the wisdom, so only
// the first engine of a host pays it. At 131072 points and above, measuring costs several
// seconds per size for transforms that only worker threads run.
constexpr int max_measured_order = 16;

// The transforms run on the audio thread and must not allocate, but FFTW's in-place real
// transforms allocate a scratch array on every execution. So the plans are out of place with
// buffering forbidden, and the caller's work buffer is the other array: the forward transform
// runs from the caller's buffer into the work buffer and the result is copied back, the inverse
// the other way round. That copy is the one FFTW's in-place plans make too.
constexpr unsigned int plan_rules = FFTW_NO_BUFFERING | FFTW_DESTROY_INPUT;

// FFTW's planner is not thread-safe; plan execution is.
std::mutex& planner_mutex()
{
    static std::mutex mutex;
    return mutex;
}

// The wisdom file and what was last read from or written to it (guarded by planner_mutex).
struct WisdomFile {
    std::string path;
    bool read = false;
    std::string last; // the wisdom as the file holds it
};
WisdomFile& wisdom_file()
{
    static WisdomFile file;
    return file;
}

std::string current_wisdom()
{
    char* text = fftwf_export_wisdom_to_string();
    std::string wisdom = text != nullptr ? text : "";
    std::free(text);
    return wisdom;
}

// Before planning: what earlier processes measured.
void read_wisdom_locked()
{
    WisdomFile& file = wisdom_file();
    if (file.path.empty() || file.read) return;
    file.read = true;
    if (fftwf_import_wisdom_from_filename(file.path.c_str()) != 0) file.last = current_wisdom();
}

// After planning: the file takes what this plan measured, through a temporary file and a rename.
void write_wisdom_locked()
{
    WisdomFile& file = wisdom_file();
    if (file.path.empty()) return;
    std::string wisdom = current_wisdom();
    if (wisdom.empty() || wisdom == file.last) return;
    std::string const temporary = file.path + ".partial";
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(file.path).parent_path(), ignored);
    if (fftwf_export_wisdom_to_filename(temporary.c_str()) != 0 &&
        std::rename(temporary.c_str(), file.path.c_str()) == 0) {
        file.last = std::move(wisdom);
    } else {
        std::remove(temporary.c_str());
    }
}

bool valid_flag(int flag)
{
    return flag == IPP_FFT_DIV_FWD_BY_N || flag == IPP_FFT_DIV_INV_BY_N || flag == IPP_FFT_DIV_BY_SQRTN ||
           flag == IPP_FFT_NODIV_BY_ANY;
}

void scale(float* data, int count, float factor)
{
    for (int i = 0; i < count; ++i)
        data[i] *= factor;
}

} // namespace

struct IppsFFTSpec_R_32f {
    unsigned int magic;
    int order;
    int n;
    float forward_scale; // 1 when the forward transform is not scaled
    float inverse_scale;
    int plan_alignment;       // fftwf_alignment_of the planning arrays; execution arrays must match
    std::size_t region_bytes; // one array of n + 2 floats, rounded up to 64 bytes
    fftwf_plan forward;
    fftwf_plan inverse;
};

namespace {

bool valid(const IppsFFTSpec_R_32f* spec)
{
    return spec->magic == spec_magic;
}

// The work buffer holds two 64-byte-aligned arrays of n + 2 floats: the transform's output and,
// when the caller's buffer lacks the plan's alignment, an aligned copy of the input.
struct WorkArrays {
    float* output;
    float* input_copy;
};

WorkArrays work_arrays(const IppsFFTSpec_R_32f* spec, Ipp8u* work)
{
    const auto address = reinterpret_cast<std::uintptr_t>(work);
    auto* first = reinterpret_cast<Ipp8u*>((address + 63u) & ~std::uintptr_t{63u});
    return {reinterpret_cast<float*>(first), reinterpret_cast<float*>(first + spec->region_bytes)};
}

bool plan_aligned(const float* buf, const IppsFFTSpec_R_32f* spec)
{
    return fftwf_alignment_of(const_cast<float*>(buf)) == spec->plan_alignment;
}

std::size_t floats_bytes(int count)
{
    return static_cast<std::size_t>(count) * sizeof(float);
}

} // namespace

IppStatus ippsFFTInitAlloc_R_32f(IppsFFTSpec_R_32f** spec, int order, int flag, IppHintAlgorithm hint)
{
    if (!spec) return ippStsNullPtrErr;
    *spec = nullptr;
    if (order < min_order || order > max_order) return ippStsFftOrderErr;
    if (!valid_flag(flag)) return ippStsFftFlagErr;
    if (hint < ippAlgHintNone || hint > ippAlgHintAccurate) return ippStsBadArgErr;

    const int n = 1 << order;
    auto* made = new (std::nothrow) IppsFFTSpec_R_32f{};
    // Planning with FFTW_MEASURE overwrites its arrays, so it gets scratch arrays of the
    // alignment that callers use.
    Ipp32f* real_array = ippsMalloc_32f(n + 2);
    Ipp32f* complex_array = ippsMalloc_32f(n + 2);
    if (!made || !real_array || !complex_array) {
        delete made;
        ippsFree(real_array);
        ippsFree(complex_array);
        return ippStsMemAllocErr;
    }
    made->magic = spec_magic;
    made->order = order;
    made->n = n;
    made->forward_scale = 1.0f;
    made->inverse_scale = 1.0f;
    if (flag == IPP_FFT_DIV_FWD_BY_N) made->forward_scale = 1.0f / static_cast<float>(n);
    if (flag == IPP_FFT_DIV_INV_BY_N) made->inverse_scale = 1.0f / static_cast<float>(n);
    if (flag == IPP_FFT_DIV_BY_SQRTN) {
        made->forward_scale = static_cast<float>(1.0 / std::sqrt(static_cast<double>(n)));
        made->inverse_scale = made->forward_scale;
    }
    made->plan_alignment = fftwf_alignment_of(real_array);
    made->region_bytes = (floats_bytes(n + 2) + 63u) & ~std::size_t{63u};

    const unsigned int rigour =
        order <= max_measured_order && !corvella::reproducible_processing() ? FFTW_MEASURE : FFTW_ESTIMATE;
    {
        std::lock_guard<std::mutex> lock(planner_mutex());
        if (rigour == FFTW_MEASURE) read_wisdom_locked();
        auto* spectrum = reinterpret_cast<fftwf_complex*>(complex_array);
        auto plan = [&](unsigned int flags) {
            made->forward = fftwf_plan_dft_r2c_1d(n, real_array, spectrum, flags | plan_rules);
            made->inverse = fftwf_plan_dft_c2r_1d(n, spectrum, real_array, flags | plan_rules);
        };
        // Plans the wisdom already holds measure nothing, and leave nothing new to write: the
        // file is only rewritten (exporting all the wisdom, a few ms a size) after a measurement.
        bool measured = false;
        if (rigour == FFTW_MEASURE) {
            plan(rigour | FFTW_WISDOM_ONLY);
            if (!made->forward || !made->inverse) {
                if (made->forward) fftwf_destroy_plan(made->forward);
                if (made->inverse) fftwf_destroy_plan(made->inverse);
                plan(rigour);
                measured = true;
            }
        } else {
            plan(rigour);
        }
        if (measured && made->forward && made->inverse) write_wisdom_locked();
        if (!made->forward || !made->inverse) {
            if (made->forward) fftwf_destroy_plan(made->forward);
            if (made->inverse) fftwf_destroy_plan(made->inverse);
            made->forward = made->inverse = nullptr;
        }
    }
    ippsFree(real_array);
    ippsFree(complex_array);
    if (!made->forward) {
        delete made;
        return ippStsMemAllocErr;
    }
    *spec = made;
    return ippStsNoErr;
}

void corvella::ipps_fft_keep_plans_in(std::string const& path)
{
    std::lock_guard<std::mutex> lock(planner_mutex());
    WisdomFile& file = wisdom_file();
    if (file.path == path) return;
    file.path = path;
    file.read = false;
    file.last.clear();
}

void corvella::ipps_fft_forget_plans()
{
    std::lock_guard<std::mutex> lock(planner_mutex());
    fftwf_forget_wisdom();
    wisdom_file().read = false;
    wisdom_file().last.clear();
}

IppStatus ippsFFTFree_R_32f(IppsFFTSpec_R_32f* spec)
{
    if (!spec) return ippStsNullPtrErr;
    if (!valid(spec)) return ippStsContextMatchErr;
    {
        std::lock_guard<std::mutex> lock(planner_mutex());
        fftwf_destroy_plan(spec->forward);
        fftwf_destroy_plan(spec->inverse);
    }
    spec->magic = 0;
    delete spec;
    return ippStsNoErr;
}

IppStatus ippsFFTGetBufSize_R_32f(const IppsFFTSpec_R_32f* spec, int* size)
{
    if (!spec || !size) return ippStsNullPtrErr;
    if (!valid(spec)) return ippStsContextMatchErr;
    *size = static_cast<int>(64 + 2 * spec->region_bytes); // 64 for aligning the caller's block
    return ippStsNoErr;
}

IppStatus ippsFFTFwd_RToCCS_32f_I(Ipp32f* buf, const IppsFFTSpec_R_32f* spec, Ipp8u* work)
{
    if (!buf || !spec || !work) return ippStsNullPtrErr;
    if (!valid(spec)) return ippStsContextMatchErr;
    const int n = spec->n;
    const WorkArrays arrays = work_arrays(spec, work);
    float* input = buf;
    if (!plan_aligned(buf, spec)) {
        input = arrays.input_copy;
        std::memcpy(input, buf, floats_bytes(n));
    }
    fftwf_execute_dft_r2c(spec->forward, input, reinterpret_cast<fftwf_complex*>(arrays.output));
    if (spec->forward_scale != 1.0f) scale(arrays.output, n + 2, spec->forward_scale);
    std::memcpy(buf, arrays.output, floats_bytes(n + 2));
    return ippStsNoErr;
}

IppStatus ippsFFTInv_CCSToR_32f_I(Ipp32f* buf, const IppsFFTSpec_R_32f* spec, Ipp8u* work)
{
    if (!buf || !spec || !work) return ippStsNullPtrErr;
    if (!valid(spec)) return ippStsContextMatchErr;
    const int n = spec->n;
    const WorkArrays arrays = work_arrays(spec, work);
    std::memcpy(arrays.output, buf, floats_bytes(n + 2));
    float* output = plan_aligned(buf, spec) ? buf : arrays.input_copy;
    fftwf_execute_dft_c2r(spec->inverse, reinterpret_cast<fftwf_complex*>(arrays.output), output);
    if (spec->inverse_scale != 1.0f) scale(output, n, spec->inverse_scale);
    if (output != buf) std::memcpy(buf, output, floats_bytes(n));
    return ippStsNoErr;
}

IppStatus ippsFFTFwd_RToCCS_32f(Ipp32f* src, Ipp32f* dst, const IppsFFTSpec_R_32f* spec, Ipp8u* work)
{
    if (!src || !dst || !spec || !work) return ippStsNullPtrErr;
    if (!valid(spec)) return ippStsContextMatchErr;
    if (!plan_aligned(src, spec) || !plan_aligned(dst, spec)) {
        if (src != dst) std::memcpy(dst, src, floats_bytes(spec->n));
        return ippsFFTFwd_RToCCS_32f_I(dst, spec, work);
    }
    fftwf_execute_dft_r2c(spec->forward, src, reinterpret_cast<fftwf_complex*>(dst));
    if (spec->forward_scale != 1.0f) scale(dst, spec->n + 2, spec->forward_scale);
    return ippStsNoErr;
}

IppStatus ippsFFTInv_CCSToR_32f(Ipp32f* src, Ipp32f* dst, const IppsFFTSpec_R_32f* spec, Ipp8u* work)
{
    if (!src || !dst || !spec || !work) return ippStsNullPtrErr;
    if (!valid(spec)) return ippStsContextMatchErr;
    if (!plan_aligned(src, spec) || !plan_aligned(dst, spec)) {
        IppStatus const status = ippsFFTInv_CCSToR_32f_I(src, spec, work);
        if (status == ippStsNoErr && src != dst) std::memcpy(dst, src, floats_bytes(spec->n));
        return status;
    }
    fftwf_execute_dft_c2r(spec->inverse, reinterpret_cast<fftwf_complex*>(src), dst);
    if (spec->inverse_scale != 1.0f) scale(dst, spec->n, spec->inverse_scale);
    return ippStsNoErr;
}
