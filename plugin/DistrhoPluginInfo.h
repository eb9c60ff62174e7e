#pragma once

// What DPF needs to know about the plug-in at compile time: one stereo effect with a Cairo editor
// that reaches the instance directly,
// latency reporting, full state (the bank and the IR file paths are read back on every save), the
// 48 programs of the bank as the host's program and preset list, and the host's transport (its tempo
// drives the tempo-locked delays).

#define DISTRHO_PLUGIN_BRAND "Tarnwick"
#define DISTRHO_PLUGIN_NAME "Corvella"
#define DISTRHO_PLUGIN_URI "urn:tarnwick:corvella"
#define DISTRHO_PLUGIN_CLAP_ID "com.tarnwick.corvella"

#define DISTRHO_PLUGIN_HAS_UI 1
#define DISTRHO_UI_USE_CAIRO 1
#define DISTRHO_PLUGIN_WANT_DIRECT_ACCESS 1
#define DISTRHO_UI_DEFAULT_WIDTH 1040
#define DISTRHO_UI_DEFAULT_HEIGHT 760
#define DISTRHO_PLUGIN_IS_RT_SAFE 1
#define DISTRHO_PLUGIN_NUM_INPUTS 2
#define DISTRHO_PLUGIN_NUM_OUTPUTS 2
#define DISTRHO_PLUGIN_WANT_LATENCY 1
#define DISTRHO_PLUGIN_WANT_PROGRAMS 1
#define DISTRHO_PLUGIN_WANT_STATE 1
#define DISTRHO_PLUGIN_WANT_FULL_STATE 1
#define DISTRHO_PLUGIN_WANT_TIMEPOS 1

#define DISTRHO_PLUGIN_LV2_CATEGORY "lv2:ReverbPlugin"
#define DISTRHO_PLUGIN_VST3_CATEGORIES "Fx|Reverb|Stereo"
#define DISTRHO_PLUGIN_CLAP_FEATURES "audio-effect", "reverb", "stereo"
