#pragma once
// The CLAP declarations this backend speaks (from the system's CLAP headers, never a
// copy), and the byte layouts it relies on, pinned per width: a header update or a
// packing flag that moved a field fails the build here, not in a user's session.
#include <cstddef>
#include <cstdint>

#include <clap/entry.h>
#include <clap/events.h>
#include <clap/ext/audio-ports.h>
#include <clap/ext/gui.h>
#include <clap/ext/latency.h>
#include <clap/ext/params.h>
#include <clap/ext/state.h>
#include <clap/ext/thread-check.h>
#include <clap/plugin-factory.h>
#include <clap/plugin.h>
#include <clap/process.h>
#include <clap/stream.h>

// The layouts below are those of CLAP 1: a module of another major version is refused
// (0.x were development versions with other layouts).
static_assert(CLAP_VERSION_MAJOR == 1, "the pinned layouts are those of CLAP 1");
inline bool clapVersionAccepted(const clap_version_t& v) { return v.major == 1; }

namespace clap_layout {

#if UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu
// 64-bit Windows and the native build (LP64 and LLP64 agree on every struct used).
constexpr size_t kPluginEntry = 40, kPluginEntryGetFactory = 32;
constexpr size_t kFactory = 24, kDescriptor = 88, kDescriptorFeatures = 80;
constexpr size_t kPlugin = 96, kPluginOnMainThread = 88, kHost = 88, kHostRequestCallback = 80;
constexpr size_t kProcess = 64, kProcessAudioInputs = 24, kProcessOutEvents = 56;
constexpr size_t kAudioBuffer = 32, kAudioBufferConstantMask = 24;
constexpr size_t kParamValueEvent = 56, kParamValueEventValue = 48;
constexpr size_t kInputEvents = 24, kOutputEvents = 16, kStream = 16;
constexpr size_t kParamInfoName = 16;
constexpr size_t kPluginParams = 48, kHostParams = 24;
constexpr size_t kPortInfo = 288, kPortInfoPortType = 272, kPortInfoInPlacePair = 280;
constexpr size_t kPluginAudioPorts = 16, kHostAudioPorts = 16, kPluginLatency = 8, kHostLatency = 8;
constexpr size_t kPluginGui = 120, kHostGui = 40, kWindow = 16, kWindowHandle = 8;
constexpr size_t kPluginState = 16, kHostState = 8, kHostThreadCheck = 16;
#elif UINTPTR_MAX == 0xFFFFFFFFu && defined(_WIN32)
// 32-bit Windows: doubles inside structs are aligned to 8 (not 4 as on 32-bit Linux).
constexpr size_t kPluginEntry = 24, kPluginEntryGetFactory = 20;
constexpr size_t kFactory = 12, kDescriptor = 48, kDescriptorFeatures = 44;
constexpr size_t kPlugin = 48, kPluginOnMainThread = 44, kHost = 48, kHostRequestCallback = 44;
constexpr size_t kProcess = 40, kProcessAudioInputs = 16, kProcessOutEvents = 36;
constexpr size_t kAudioBuffer = 24, kAudioBufferConstantMask = 16;
constexpr size_t kParamValueEvent = 48, kParamValueEventValue = 40;
constexpr size_t kInputEvents = 12, kOutputEvents = 8, kStream = 8;
constexpr size_t kParamInfoName = 12;
constexpr size_t kPluginParams = 24, kHostParams = 12;
constexpr size_t kPortInfo = 276, kPortInfoPortType = 268, kPortInfoInPlacePair = 272;
constexpr size_t kPluginAudioPorts = 8, kHostAudioPorts = 8, kPluginLatency = 4, kHostLatency = 4;
constexpr size_t kPluginGui = 60, kHostGui = 20, kWindow = 8, kWindowHandle = 4;
constexpr size_t kPluginState = 8, kHostState = 4, kHostThreadCheck = 8;
#else
#error "CLAP layouts are pinned for 32- and 64-bit Windows and 64-bit native builds only"
#endif

// The same on every width.
constexpr size_t kVersion = 12, kEventHeader = 16, kParamGestureEvent = 20, kTransportEvent = 104,
                 kTransportTempo = 40, kParamInfo = 1320, kParamInfoMin = 1296, kParamInfoDefault = 1312,
                 kPortInfoChannelCount = 264;

static_assert(sizeof(clap_version_t) == kVersion, "clap_version");
static_assert(sizeof(clap_plugin_entry_t) == kPluginEntry, "clap_plugin_entry");
static_assert(offsetof(clap_plugin_entry_t, get_factory) == kPluginEntryGetFactory, "clap_plugin_entry");
static_assert(sizeof(clap_plugin_factory_t) == kFactory, "clap_plugin_factory");
static_assert(sizeof(clap_plugin_descriptor_t) == kDescriptor, "clap_plugin_descriptor");
static_assert(offsetof(clap_plugin_descriptor_t, features) == kDescriptorFeatures, "clap_plugin_descriptor");
static_assert(sizeof(clap_plugin_t) == kPlugin, "clap_plugin");
static_assert(offsetof(clap_plugin_t, on_main_thread) == kPluginOnMainThread, "clap_plugin");
static_assert(sizeof(clap_host_t) == kHost, "clap_host");
static_assert(offsetof(clap_host_t, request_callback) == kHostRequestCallback, "clap_host");
static_assert(sizeof(clap_process_t) == kProcess, "clap_process");
static_assert(offsetof(clap_process_t, audio_inputs) == kProcessAudioInputs, "clap_process");
static_assert(offsetof(clap_process_t, out_events) == kProcessOutEvents, "clap_process");
static_assert(sizeof(clap_audio_buffer_t) == kAudioBuffer, "clap_audio_buffer");
static_assert(offsetof(clap_audio_buffer_t, constant_mask) == kAudioBufferConstantMask, "clap_audio_buffer");
static_assert(sizeof(clap_event_header_t) == kEventHeader, "clap_event_header");
static_assert(sizeof(clap_event_param_value_t) == kParamValueEvent, "clap_event_param_value");
static_assert(offsetof(clap_event_param_value_t, value) == kParamValueEventValue, "clap_event_param_value");
static_assert(sizeof(clap_event_param_gesture_t) == kParamGestureEvent, "clap_event_param_gesture");
static_assert(sizeof(clap_event_transport_t) == kTransportEvent, "clap_event_transport");
static_assert(offsetof(clap_event_transport_t, tempo) == kTransportTempo, "clap_event_transport");
static_assert(sizeof(clap_input_events_t) == kInputEvents, "clap_input_events");
static_assert(sizeof(clap_output_events_t) == kOutputEvents, "clap_output_events");
static_assert(sizeof(clap_istream_t) == kStream && sizeof(clap_ostream_t) == kStream, "clap streams");
static_assert(sizeof(clap_param_info_t) == kParamInfo, "clap_param_info");
static_assert(offsetof(clap_param_info_t, name) == kParamInfoName, "clap_param_info");
static_assert(offsetof(clap_param_info_t, min_value) == kParamInfoMin, "clap_param_info");
static_assert(offsetof(clap_param_info_t, default_value) == kParamInfoDefault, "clap_param_info");
static_assert(sizeof(clap_plugin_params_t) == kPluginParams, "clap_plugin_params");
static_assert(sizeof(clap_host_params_t) == kHostParams, "clap_host_params");
static_assert(sizeof(clap_audio_port_info_t) == kPortInfo, "clap_audio_port_info");
static_assert(offsetof(clap_audio_port_info_t, channel_count) == kPortInfoChannelCount, "clap_audio_port_info");
static_assert(offsetof(clap_audio_port_info_t, port_type) == kPortInfoPortType, "clap_audio_port_info");
static_assert(offsetof(clap_audio_port_info_t, in_place_pair) == kPortInfoInPlacePair, "clap_audio_port_info");
static_assert(sizeof(clap_plugin_audio_ports_t) == kPluginAudioPorts, "clap_plugin_audio_ports");
static_assert(sizeof(clap_host_audio_ports_t) == kHostAudioPorts, "clap_host_audio_ports");
static_assert(sizeof(clap_plugin_latency_t) == kPluginLatency, "clap_plugin_latency");
static_assert(sizeof(clap_host_latency_t) == kHostLatency, "clap_host_latency");
static_assert(sizeof(clap_plugin_gui_t) == kPluginGui, "clap_plugin_gui");
static_assert(sizeof(clap_host_gui_t) == kHostGui, "clap_host_gui");
static_assert(sizeof(clap_window_t) == kWindow && offsetof(clap_window_t, win32) == kWindowHandle, "clap_window");
static_assert(sizeof(clap_plugin_state_t) == kPluginState, "clap_plugin_state");
static_assert(sizeof(clap_host_state_t) == kHostState, "clap_host_state");
static_assert(sizeof(clap_host_thread_check_t) == kHostThreadCheck, "clap_host_thread_check");

}  // namespace clap_layout
