#pragma once

#include <string>

// Vector operations on sample arrays: allocation, element-wise arithmetic, the real FFT, FIR and
// IIR filters, low-pass design, integer up/down sampling, a fixed-ratio polyphase resampler,
// Gaussian noise and the floating-point denormal modes.
//
// Conventions shared by every operation:
// - Lengths count elements (complex values for the _32fc operations), never bytes. A length of 0
//   does nothing and succeeds; a negative length fails with ippStsSizeErr.
// - Every operation returns an IppStatus: ippStsNoErr (0) on success, a negative code otherwise.
//   A failing operation writes nothing to its outputs unless its comment says otherwise; a
//   failed InitAlloc leaves a null state pointer.
// - Null pointers fail with ippStsNullPtrErr (checked before the length).
// - Sources and destinations of different arrays must not overlap, except where an operation says
//   so (ippsMove_32f, and the in-place _I forms).
// - Only ippsMalloc_*, ippsFree and the InitAlloc/Free pairs allocate; everything else may run on
//   the audio thread.
//
// Threading: the operations keep no shared mutable state, so any of them may run on any thread at
// the same time as any other, provided two threads never use the same state object (FIR or IIR
// state) or the same FFT work buffer at once. An FFT specification may be shared by threads that
// each bring their own work buffer, and a resampler specification is only read while it runs.
// ippsFFTInitAlloc_R_32f and ippsFFTFree_R_32f take one
// process-wide planner lock (they may block while another thread plans) and must not be called
// from the audio thread; the transforms themselves take no lock.

typedef unsigned char Ipp8u;
typedef float Ipp32f;
typedef double Ipp64f;
typedef int IppStatus;

struct Ipp32fc {
    Ipp32f re;
    Ipp32f im;
};

// Plain ints with named values, so that callers may pass either the names or the numbers.
typedef int IppBool;
inline constexpr IppBool ippFalse = 0;
inline constexpr IppBool ippTrue = 1;

typedef int IppHintAlgorithm;
inline constexpr IppHintAlgorithm ippAlgHintNone = 0;
inline constexpr IppHintAlgorithm ippAlgHintFast = 1;
inline constexpr IppHintAlgorithm ippAlgHintAccurate = 2;

// Window codes for ippsFIRGenLowpass_64f.
enum IppWinType {
    ippWinBartlett = 0, // triangle, zero at both ends
    ippWinBlackman = 1, // 0.42 - 0.5 cos + 0.08 cos 2x
    ippWinHamming = 2,  // 0.54 - 0.46 cos
    ippWinHann = 3,     // 0.5 - 0.5 cos
    ippWinRect = 4      // no window
};

// Scaling rules of the real FFT (exactly one of them).
inline constexpr int IPP_FFT_DIV_FWD_BY_N = 1;
inline constexpr int IPP_FFT_DIV_INV_BY_N = 2;
inline constexpr int IPP_FFT_DIV_BY_SQRTN = 4;
inline constexpr int IPP_FFT_NODIV_BY_ANY = 8;

inline constexpr IppStatus ippStsNoErr = 0;
inline constexpr IppStatus ippStsBadArgErr = -5;        // an argument outside its range
inline constexpr IppStatus ippStsSizeErr = -6;          // a length or count outside its range
inline constexpr IppStatus ippStsNullPtrErr = -8;       // a required pointer is null
inline constexpr IppStatus ippStsMemAllocErr = -9;      // memory or an FFT plan could not be obtained
inline constexpr IppStatus ippStsFftOrderErr = -15;     // FFT order outside 1..24
inline constexpr IppStatus ippStsFftFlagErr = -16;      // unknown FFT scaling rule
inline constexpr IppStatus ippStsContextMatchErr = -18; // a state or specification not set up here
inline constexpr IppStatus ippStsDivByZeroErr = -19;    // a0 of an IIR, or taps that sum to zero
inline constexpr IppStatus ippStsFIRLenErr = -20;       // tap count outside its range
inline constexpr IppStatus ippStsOutOfRangeErr = -21;   // a frequency or phase outside its range

// ---------------------------------------------------------------------------------------------
// Memory. Blocks start on a 64-byte boundary; a count of 0 or less, or exhausted memory, gives
// null. ippsFree accepts only pointers from these functions, and null (which it ignores).

Ipp8u* ippsMalloc_8u(int len);
Ipp32f* ippsMalloc_32f(int len);
Ipp64f* ippsMalloc_64f(int len);
void ippsFree(void* ptr);

// ---------------------------------------------------------------------------------------------
// Element-wise operations.

IppStatus ippsSet_32f(Ipp32f val, Ipp32f* dst, int len);
IppStatus ippsSet_8u(Ipp8u val, Ipp8u* dst, int len);
IppStatus ippsCopy_32f(const Ipp32f* src, Ipp32f* dst, int len);
// Correct for overlapping ranges in either direction.
IppStatus ippsMove_32f(const Ipp32f* src, Ipp32f* dst, int len);
IppStatus ippsAdd_32f_I(const Ipp32f* src, Ipp32f* srcdst, int len);
IppStatus ippsAdd_32f(const Ipp32f* src1, const Ipp32f* src2, Ipp32f* dst, int len);
IppStatus ippsMulC_32f(const Ipp32f* src, Ipp32f val, Ipp32f* dst, int len);
IppStatus ippsMulC_32f_I(Ipp32f val, Ipp32f* srcdst, int len);
IppStatus ippsMul_32f_I(const Ipp32f* src, Ipp32f* srcdst, int len);
IppStatus ippsFlip_32f_I(Ipp32f* srcdst, int len);
// A length of 0 fails with ippStsSizeErr and sets both results to 0.
IppStatus ippsMinMax_32f(const Ipp32f* src, int len, Ipp32f* min, Ipp32f* max);

// Complex products over interleaved (re, im) arrays; len counts complex values. These are the
// convolver's inner loop: vectorised, with a run-time choice of instruction set (see the code-path
// functions at the end). Any alignment of 4 bytes or more works; dst must not overlap a or b.
IppStatus ippsMul_32fc(const Ipp32fc* a, const Ipp32fc* b, Ipp32fc* dst, int len);
IppStatus ippsAddProduct_32fc(const Ipp32fc* a, const Ipp32fc* b, Ipp32fc* srcdst, int len);

// ---------------------------------------------------------------------------------------------
// Real FFT of n = 2^order points (order 1..24), in place.
//
// The forward transform takes n real samples and leaves the packed spectrum: n/2 + 1 complex
// values interleaved as n + 2 floats, Re(0), Im(0), ..., Re(n/2), Im(n/2), with Im(0) = Im(n/2) = 0.
// The inverse takes that layout back to n real samples (it ignores Im(0) and Im(n/2); the two
// floats after the samples keep their spectrum values). The buffer must hold n + 2 floats.
//
// The flag chooses the scaling (IPP_FFT_DIV_INV_BY_N: forward plain, inverse divided by n, so
// that the inverse of a product of two forward transforms is their circular convolution); the
// hint is accepted and ignored.
//
// The work buffer is required (null fails with ippStsNullPtrErr), may have any alignment and must
// hold the bytes reported by ippsFFTGetBufSize_R_32f; a transform uses it as scratch, so threads
// sharing a specification need one each. The transforms never allocate. Buffers starting on a
// 64-byte boundary (as from ippsMalloc_32f), or any other boundary FFTW treats alike (on current
// builds every 16 bytes), are read in place; others take one extra copy.
struct IppsFFTSpec_R_32f;

IppStatus ippsFFTInitAlloc_R_32f(IppsFFTSpec_R_32f** spec, int order, int flag, IppHintAlgorithm hint);
IppStatus ippsFFTFree_R_32f(IppsFFTSpec_R_32f* spec);
IppStatus ippsFFTGetBufSize_R_32f(const IppsFFTSpec_R_32f* spec, int* size);
IppStatus ippsFFTFwd_RToCCS_32f_I(Ipp32f* buf, const IppsFFTSpec_R_32f* spec, Ipp8u* work);
IppStatus ippsFFTInv_CCSToR_32f_I(Ipp32f* buf, const IppsFFTSpec_R_32f* spec, Ipp8u* work);

// Out of place: src and dst must not overlap. They save the copy that the in-place forms make
// and may overwrite src (FFTW's destroy-input plans run fastest); callers that keep src use the
// in-place forms. dst holds n + 2 floats for the forward transform, n for the inverse.
IppStatus ippsFFTFwd_RToCCS_32f(Ipp32f* src, Ipp32f* dst, const IppsFFTSpec_R_32f* spec, Ipp8u* work);
IppStatus ippsFFTInv_CCSToR_32f(Ipp32f* src, Ipp32f* dst, const IppsFFTSpec_R_32f* spec, Ipp8u* work);

// ---------------------------------------------------------------------------------------------
// Single-rate FIR filter: y[i] = sum over k of taps[k] x[i - k], the history carried from call to
// call. The state owns copies of the taps and of the history and all scratch it needs, so
// filtering never allocates; long calls are processed in internal chunks of 512 frames.
//
// A delay line is tapsLen floats holding the last tapsLen inputs in time order: dlyLine[0] is
// x[-tapsLen], dlyLine[tapsLen - 1] is x[-1] (only the last tapsLen - 1 of them reach the output).
// A null delay line means an all-zero history.
struct IppsFIRState_32f;

// tapsLen 1..1048576.
IppStatus ippsFIRInitAlloc_32f(IppsFIRState_32f** state, const Ipp32f* taps, int tapsLen,
                               const Ipp32f* dlyLine);
IppStatus ippsFIRFree_32f(IppsFIRState_32f* state);
// Replaces the taps (the tap count stays); the history is kept.
IppStatus ippsFIRSetTaps_32f(const Ipp32f* taps, IppsFIRState_32f* state);
IppStatus ippsFIRSetDlyLine_32f(IppsFIRState_32f* state, const Ipp32f* dlyLine);
IppStatus ippsFIRGetDlyLine_32f(const IppsFIRState_32f* state, Ipp32f* dlyLine);
IppStatus ippsFIR_32f(const Ipp32f* src, Ipp32f* dst, int numIters, IppsFIRState_32f* state);
IppStatus ippsFIR_32f_I(Ipp32f* srcdst, int numIters, IppsFIRState_32f* state);

// Windowed-sinc low-pass of tapsLen (3 or more) taps, symmetric about (tapsLen - 1) / 2. rFreq is
// the cut-off divided by the sampling rate, in (0, 0.5); the response there is about one half.
// winType is an IppWinType; the windows are the symmetric ones of length tapsLen (Bartlett,
// Blackman and Hann are zero at both ends). doNormal non-zero scales the taps to sum exactly 1
// (unity gain at 0 Hz).
IppStatus ippsFIRGenLowpass_64f(Ipp64f rFreq, Ipp64f* taps, int tapsLen, int winType, IppBool doNormal);

// ---------------------------------------------------------------------------------------------
// IIR filter of the given order (1..64) in one section:
//   a0 y[i] = b0 x[i] + ... + bN x[i - N] - a1 y[i - 1] - ... - aN y[i - N].
// taps holds 2 (order + 1) values, b0..bN then a0..aN; everything is divided by a0 (which must
// not be 0). The filter runs in transposed direct form II with a double-precision state; a delay
// line is that state, order values (null: all zero).
struct IppsIIRState_32f;

IppStatus ippsIIRInitAlloc_32f(IppsIIRState_32f** state, const Ipp32f* taps, int order,
                               const Ipp32f* dlyLine);
IppStatus ippsIIRFree_32f(IppsIIRState_32f* state);
IppStatus ippsIIRSetDlyLine_32f(IppsIIRState_32f* state, const Ipp32f* dlyLine);
IppStatus ippsIIR_32f(const Ipp32f* src, Ipp32f* dst, int len, IppsIIRState_32f* state);
IppStatus ippsIIR_32f_I(Ipp32f* srcdst, int len, IppsIIRState_32f* state);

// ---------------------------------------------------------------------------------------------
// Integer sample-rate steps; factor >= 1 and 0 <= *phase < factor.
//
// SampleUp writes srcLen x factor samples: src[i] at dst[i x factor + phase], zeros elsewhere.
// Every input fills a whole group of factor outputs, so the phase stays as it is.
IppStatus ippsSampleUp_32f(const Ipp32f* src, int srcLen, Ipp32f* dst, int* dstLen, int factor, int* phase);
// SampleDown keeps src[phase], src[phase + factor], ... below srcLen (srcLen / factor of them when
// factor divides srcLen) and leaves in *phase the offset of the next sample to keep in the block
// that follows, so that consecutive calls decimate one continuous stream.
IppStatus ippsSampleDown_32f(const Ipp32f* src, int srcLen, Ipp32f* dst, int* dstLen, int factor, int* phase);

// ---------------------------------------------------------------------------------------------
// Fixed-ratio polyphase resampler between two integer rates (reduced by their greatest common
// divisor: up = outRate / g phases, down = inRate / g input samples per up outputs).
//
// Filter: a Kaiser-windowed sinc whose window spans len samples of the lower of the two rates
// (len input samples when up-sampling, len x inRate / outRate input samples when down-sampling),
// with cut-off rollf x the lower Nyquist frequency and alpha the Kaiser beta. Each of the up
// phases is normalised to sum 1, so a constant input gives exactly the constant x norm wherever
// the window lies wholly inside the input.
//
// Set-up: GetSize reports the bytes of the specification (and, for information, the taps per
// phase in filterLen and the phase count in height); the caller allocates that many bytes with
// ippsMalloc_8u and Init fills them. The block is self-contained (no pointers), so it may be
// copied or moved as a whole.
//
// Run: output k is the band-limited value of src at the input position *time + k x inRate /
// outRate (in input samples; *time is rounded to the nearest 1/up of a sample first), times norm.
// Outputs are produced for every position below *time + len; src[i] outside 0..len-1 counts as 0
// and is never read. *outLen receives the count (ceil(len x up / down) for a whole-phase start)
// and *time the position of the next output. With ippAlgHintAccurate the sums run in double
// precision.
struct IppsResamplingPolyphaseFixed_32f;

IppStatus ippsResamplePolyphaseFixedGetSize_32f(int inRate, int outRate, int len, int* specSize,
                                                int* filterLen, int* height, IppHintAlgorithm hint);
IppStatus ippsResamplePolyphaseFixedInit_32f(int inRate, int outRate, int len, Ipp32f rollf, Ipp32f alpha,
                                             IppsResamplingPolyphaseFixed_32f* spec, IppHintAlgorithm hint);
IppStatus ippsResamplePolyphaseFixed_32f(const Ipp32f* src, int len, Ipp32f* dst, Ipp32f norm, Ipp64f* time,
                                         int* outLen, const IppsResamplingPolyphaseFixed_32f* spec);

// ---------------------------------------------------------------------------------------------
// Gaussian pseudo-random numbers (stdDev >= 0). *seed is the whole generator state: the same
// seed gives the same sequence, and a call continues exactly where the previous one stopped, so
// filling n then m values equals filling n + m at once.
IppStatus ippsRandGauss_Direct_32f(Ipp32f* dst, int len, Ipp32f mean, Ipp32f stdDev, unsigned int* seed);

// ---------------------------------------------------------------------------------------------
// Processor set-up.

// Selects the code path for this processor (the selection also happens on first use). Returns 0.
IppStatus ippInit();
// Denormal handling of the calling thread only. On x86-64 these set the DAZ and FTZ bits of the
// SSE control register; on AArch64 both set the one FZ bit of the FPCR, which flushes denormal
// inputs and results alike; elsewhere they do nothing. value 0 clears, non-zero sets.
IppStatus ippSetDenormAreZeros(int value);
// uMask, when not null, receives the previous flush-to-zero setting (1 on, 0 off), so that a
// caller can restore it.
IppStatus ippSetFlushToZero(int value, unsigned int* uMask);

namespace corvella {

// The instruction-set paths of the complex products and the FIR filter. portable is plain C++
// that the compiler vectorises for the baseline of its target; sse2 and avx2_fma exist on x86-64.
enum class IppsCodePath { portable = 0, sse2 = 1, avx2_fma = 2 };

// The path in use; the best one the processor supports unless ipps_set_code_path changed it.
IppsCodePath ipps_code_path();
// The best path the processor supports.
IppsCodePath ipps_best_code_path();
// Forces a path, for tests and benchmarks that compare them; false (and no change) when the
// processor or the build lacks it. Not meant to be called while other threads process.
bool ipps_set_code_path(IppsCodePath path);

// dst = sum over j < count of a[j] x b[j], complex values interleaved (len of them per array): the
// frequency-domain delay line of a convolver in one pass. The same bits as ippsMul_32fc followed by
// ippsAddProduct_32fc for j = 1 .. count - 1. dst must not overlap the inputs. Never allocates.
void ipps_sum_of_products_32fc(float const* const* a, float const* const* b, int count, float* dst, int len);
// The same for two responses sharing one input history: dst0 = sum a[j] x b0[j], dst1 = sum a[j] x
// b1[j], with the bits of two ipps_sum_of_products_32fc calls. Each input value is loaded and split
// into its parts once for both products, which is what true stereo spends most of its time on.
void ipps_sum_of_products_pair_32fc(float const* const* a, float const* const* b0, float const* const* b1,
                                    int count, float* dst0, float* dst1, int len);
// srcdst[i] += src[0][i], then += src[1][i], ... in that order: the bits of `count` ippsAdd_32f_I
// calls, with srcdst read and written once.
void ipps_add_many_32f_I(float const* const* src, int count, float* srcdst, int len);
// True when every one of the len samples is +0 or -0 (and for len <= 0): a silent stretch.
bool ipps_is_silent_32f(float const* src, int len);
const char* ipps_code_path_name(IppsCodePath path);

// Measured FFT plans are kept in `path` (FFT wisdom), so that a machine measures each transform
// size once rather than once per process: the file is read before the next plan is made, and
// rewritten (whole or not at all) whenever a plan measured something new. An empty path keeps
// nothing; a missing, unreadable or damaged file only means measuring again.
void ipps_fft_keep_plans_in(std::string const& path);
// Forgets every measured plan held in memory, as a new process starts (for benchmarks of start-up);
// the file is read again before the next plan. Not while other threads make plans.
void ipps_fft_forget_plans();

} // namespace corvella
