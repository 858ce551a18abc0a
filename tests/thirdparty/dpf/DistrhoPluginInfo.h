#pragma once
// What DPF builds its VST3 and CLAP wrappers around: a stereo effect with an editor
// of its own, parameters and one state string that DPF saves with them.
#define DISTRHO_PLUGIN_BRAND "Talvenor Tests"
#define DISTRHO_PLUGIN_NAME "Talvenor Test Balance"
#define DISTRHO_PLUGIN_URI "urn:talvenor:tests:balance"
#define DISTRHO_PLUGIN_CLAP_ID "com.talvenor.tests.balance"
#define DISTRHO_PLUGIN_CLAP_FEATURES "audio-effect", "stereo"
#define DISTRHO_PLUGIN_VST3_CATEGORIES "Fx|Stereo"

#define DISTRHO_PLUGIN_NUM_INPUTS 2
#define DISTRHO_PLUGIN_NUM_OUTPUTS 2
#define DISTRHO_PLUGIN_IS_RT_SAFE 1
#define DISTRHO_PLUGIN_WANT_STATE 1
#define DISTRHO_PLUGIN_WANT_FULL_STATE 1

// The editor is built only where DGL with OpenGL is (the build defines DGL_OPENGL
// and HAVE_OPENGL for it); without them DPF drops it.
#define DISTRHO_PLUGIN_HAS_UI 1
#define DISTRHO_UI_USE_NANOVG 0
#define DISTRHO_UI_DEFAULT_WIDTH 240
#define DISTRHO_UI_DEFAULT_HEIGHT 120

// The parameters, in the order the host lists them.
enum TestBalanceParameter { kTestBalanceGain, kTestBalanceBalance, kTestBalanceDelay, kTestBalanceParameterCount };
// Normalised value v gives gain 2 v (1 at the default 0.5), balance 2 v - 1 (the other
// channel cut by the amount past the centre) and a delay of 10 v ms (0 by default),
// whole samples at the rate the host set.
