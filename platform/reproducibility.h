#pragma once

// Offline renders promise the same output bits for the same command. Two things would otherwise
// vary from run to run without changing the sound: FFT plans chosen by timing measurements (they
// round differently) and the pseudo-random load-spreading phases of the convolvers (seeded from
// the clock). With reproducible processing on, plans are chosen without measuring and the seed is
// a constant. Plug-ins keep the default (off): faster plans, spread load.
//
// Threading: set it before the first engine is built; reading it is safe from any thread.

namespace corvella {

void use_reproducible_processing(bool reproducible);
bool reproducible_processing();

// The seed the engine gives the C library's generator: constant when reproducible, else the clock.
unsigned int processing_random_seed();

} // namespace corvella
