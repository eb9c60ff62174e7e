#pragma once

// Small numeric helpers of the processing frame. They allocate nothing and take no lock, so they
// may run on the audio thread.

// A dual-range knob: unity 0.5 is 0 dB, 1.0 is max_db and 0.0 is min_db, linear in dB on each
// side. A value that is not a number counts as the centre.
float get_db_gain_from_dual_scaling(float unity, float min_db, float max_db);

// Level of `count` samples as a meter position: 1 at 0 dBFS, 0 at floor_db and below. Mode 0 measures
// the RMS, any other mode the peak (limited to 1). A floor of 0 dB or more gives 0.
float calculate_signal_level_db_unity(float const* samples, int count, int mode, float floor_db);

// Adds a convolver's two output channels into `output` (crossed: channel 0 into 1 and 1 into 0),
// scaled by a linear ramp from `fade_from` to `fade_to` over the frames when they differ from 1 (a
// generation fading out); the ramp is applied to `source` in place.
void add_run_output(float* const* source, float** output, int frames, float fade_from, float fade_to, bool cross);
