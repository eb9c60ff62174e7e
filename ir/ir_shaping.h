#pragma once

// Operations that shape a multichannel impulse response in place: crop, pre-delay, clip,
// normalise, stereo width, the five-stage envelope, sample-rate conversion, shaped noise and the
// simulated true-stereo half. A buffer is an array of channel pointers, each to floats from the
// aligned allocator (posix_memalign, aligned_alloc or ippsMalloc_32f: blocks released with
// std::free); `length` counts valid frames (everything after it is zero) and `allocated_length`
// the floats per channel. Operations given zero or negative lengths or channel counts, or null
// channels, do nothing. Failures are thrown as std::runtime_error unless noted; texts starting
// "Low system memory: " and a line break are allocation failures.
//
// Threading: everything here runs on the IR computation thread, except stereo_channel_swap, which
// the audio frame calls on the audio thread (it allocates nothing and takes no lock).

// Keeps start_fraction .. end_fraction of the IR (moved to the front, the rest cleared); the
// length becomes the window's, but never below minimum_length_base / 2, so the allocation must
// hold that much. A window that is empty clears the IR and keeps its length.
void crop_audio_file_into_preallocated_memory(float** buffer, int& length, float start_fraction,
                                              float end_fraction, int channels, int minimum_length_base);
// Delays one channel by `delay` samples within its length; what passes the end is dropped.
void add_pre_delay(float* channel, int length, int delay);
// Samples at or beyond +-32768 (integer data read as floats) become +-1.
void clip_audio_file_into_preallocated_memory(float** buffer, int& length, int channels);
// Scales the IR to a peak of 1, raising quiet ones by at most maximum_gain; returns the gain.
float multichannel_normalise(float** buffer, int length, int channels, float maximum_gain);
// Narrows (below 0.5) or widens (above 0.5) each channel pair of a 2- or 4-channel IR. Sets the
// calling thread's flush-to-zero and denormals-are-zero modes.
void multichannel_width(float** buffer, int channels, int length, float width_unity, int sample_rate);
// Attack, decay, sustain, hold, release: times[0, 1, 3, 4] are fractions of the length, times[2]
// the sustain level; shapes 0 are straight lines, others curves, inverted where inverts > 0.
void compute_adshr_envelope(float* channel, int length, float const times[5], float const shapes[3],
                            float const inverts[3]);
// Exchanges channels 0 and 1 of a 2-channel buffer. Audio thread: no allocation, no lock.
void stereo_channel_swap(float** buffer, int channels, int length);
// Polyphase resampling with gain 0.98; output k stands at input time k x source / target. Replaces
// every channel with a new block of allocated_length floats (the old one is released with
// std::free). The allocation should hold ceil((length + 128) / 128) x 128 x target / source
// samples; outputs beyond it are dropped. The new length is trunc(target / source x (length + 128))
// (at most the allocation). Equal rates return at once. Shows its own failures through the
// message sink and returns.
void resample_audio_file_into_preallocated_memory(float** buffer, int source_rate, int target_rate,
                                                  int& allocated_length, int& length, int channels);
// Linear-phase streaming resampling (libsoxr, 32-bit precision) in place, for the stacked-format
// IRs. The channel's first sample is not used: output k stands at channel time
// 1 + k x source / target. New length trunc(target / source x length). Fails silently (no scratch
// memory, invalid rates, or a result longer than the allocation).
void resample_audio_file_into_preallocated_memory_r8b(float** buffer, float source_rate, float target_rate,
                                                      int& allocated_length, int& length, int channels);
// Adds Gaussian noise that follows the IR's envelope (a peak follower decaying by
// envelope_release^0.1 per sample), band-limited to 200 Hz .. 18 kHz; the dry IR is scaled by
// dry_gain. Channel c uses the seed c + seed.
void add_shaped_noise(float** buffer, int length, int channels, float level, float dry_gain, int seed,
                      float envelope_release, int sample_rate);
// Four channels: makes channels 2 and 3 from channels 0 and 1 convolved with two decaying noise
// bursts of noise_seconds (at most 16,384 samples), level-matched and scaled by (3 x level)^2; the
// length grows by 80 ms when that fits. The allocation should reach (length / 16384 + 2) x 16384.
void convolve_ir_ch01_with_noise_to_ch23(float** buffer, int allocated_length, int& length,
                                         float noise_seconds, int sample_rate, int seed, float level);
