#pragma once
// The network-video interface of the application.
//
// Every finder, receiver and sender the application uses goes through the
// functions below. They are implemented in src/ndi over one backend seam
// (NdiBackend); the backend built here is a stand-in that connects senders and
// receivers on this machine: a per-user registry directory announces each
// sender, and the media travel over Unix-domain sockets. Senders of this very
// process are found like any other, so a window's output can come back in as
// a source.
//
// Conventions:
// - Texts are UTF-8. Handles are opaque; a null handle makes every call a
//   no-op that returns its failure value.
// - Memory handed out by a capture (frames, metadata, strings) belongs to the
//   library until it is returned with the matching free function.
// - Nothing here blocks longer than the timeout a call is given, and nothing
//   here blocks on a slow peer: queues between threads and processes are
//   bounded and drop the oldest entries.
// - Audio levels: a 16-bit sample s with reference level L (dB) stands for
//   the float value s / 32768 * 10^(L/20). Converting back with the same level
//   gives the same samples, so 16-bit audio passes unchanged end to end when
//   both sides use one reference level.
#include <cstdint>

// Asks the library to make a timecode from its own clock (100 ns units).
constexpr int64_t NDIlib_send_timecode_synthesize = INT64_MAX;

// --- Handles ----------------------------------------------------------------

struct NdiFinderHandle;
struct NdiReceiverHandle;
struct NdiSenderHandle;
struct NdiFrameSyncHandle;
using NDIlib_find_instance_t = NdiFinderHandle*;
using NDIlib_recv_instance_t = NdiReceiverHandle*;
using NDIlib_send_instance_t = NdiSenderHandle*;
using NDIlib_framesync_instance_t = NdiFrameSyncHandle*;

// --- Enumerations -------------------------------------------------------------

// What a capture returned.
enum NDIlib_frame_type_e : int32_t {
    NDIlib_frame_type_none = 0,
    NDIlib_frame_type_video = 1,
    NDIlib_frame_type_audio = 2,
    NDIlib_frame_type_metadata = 3,
    // The receiver lost its connection since the previous capture.
    NDIlib_frame_type_error = 4,
};

// How much of a source a receiver asks for.
enum NDIlib_recv_bandwidth_e : int32_t {
    NDIlib_recv_bandwidth_metadata_only = -10,
    NDIlib_recv_bandwidth_audio_only = 10,
    // A reduced picture (a quarter of the area) plus audio and metadata.
    NDIlib_recv_bandwidth_lowest = 0,
    NDIlib_recv_bandwidth_highest = 100,
};

// Pixel format a receiver prefers; "fastest" delivers what the sender sent.
enum NDIlib_recv_color_format_e : int32_t {
    NDIlib_recv_color_format_fastest = 100,
};

constexpr uint32_t NDIlib_make_fourcc(char a, char b, char c, char d)
{
    return uint32_t(uint8_t(a)) | (uint32_t(uint8_t(b)) << 8) | (uint32_t(uint8_t(c)) << 16)
        | (uint32_t(uint8_t(d)) << 24);
}

// Pixel layouts. Packed UYVY 4:2:2 (two bytes per pixel) is what every sender
// of the application produces.
enum NDIlib_FourCC_video_type_e : uint32_t {
    NDIlib_FourCC_video_type_UYVY = NDIlib_make_fourcc('U', 'Y', 'V', 'Y'),
};

enum NDIlib_frame_format_type_e : int32_t {
    NDIlib_frame_format_type_interleaved = 0,
    NDIlib_frame_format_type_progressive = 1,
    NDIlib_frame_format_type_field_0 = 2,
    NDIlib_frame_format_type_field_1 = 3,
};

// --- Records ------------------------------------------------------------------

// One source as a finder reports it.
struct NDIlib_source_t {
    const char* p_ndi_name = nullptr;
    // "IP:port" of the source.
    const char* p_url_address = nullptr;
};

struct NDIlib_find_create_t {
    // Every source the stand-in reaches is on this machine: false finds none.
    bool show_local_sources = true;
    // Comma-separated group names to search; null or empty means "public".
    const char* p_groups = nullptr;
    // Comma-separated addresses to ask directly (every source here is local).
    const char* p_extra_ips = nullptr;
};

struct NDIlib_recv_create_t {
    // Connect at once when the name or the URL is set.
    NDIlib_source_t source_to_connect_to;
    NDIlib_recv_color_format_e color_format = NDIlib_recv_color_format_fastest;
    NDIlib_recv_bandwidth_e bandwidth = NDIlib_recv_bandwidth_highest;
    bool allow_video_fields = true;
    const char* p_ndi_recv_name = nullptr;
};

struct NDIlib_send_create_t {
    const char* p_ndi_name = nullptr;
    // Comma-separated groups to announce in; null or empty means "public".
    const char* p_groups = nullptr;
    // Pacing requests; the caller paces its own sends here.
    bool clock_video = false;
    bool clock_audio = false;
};

struct NDIlib_video_frame_v2_t {
    int32_t xres = 0;
    int32_t yres = 0;
    NDIlib_FourCC_video_type_e FourCC = NDIlib_FourCC_video_type_UYVY;
    int32_t frame_rate_N = 30000;
    int32_t frame_rate_D = 1001;
    // Width / height of the picture as shown; 0 means square pixels.
    float picture_aspect_ratio = 0.0f;
    NDIlib_frame_format_type_e frame_format_type = NDIlib_frame_format_type_progressive;
    int64_t timecode = NDIlib_send_timecode_synthesize;
    uint8_t* p_data = nullptr;
    // Bytes per line; 0 means tightly packed.
    int32_t line_stride_in_bytes = 0;
    const char* p_metadata = nullptr;
    // When the sender submitted the frame: 100 ns units since the Unix epoch
    // (0 on frames the caller fills in).
    int64_t timestamp = 0;
};

// Planar 32-bit float audio: channel c starts at p_data + c * channel_stride_in_bytes.
struct NDIlib_audio_frame_v2_t {
    int32_t sample_rate = 48000;
    int32_t no_channels = 2;
    int32_t no_samples = 0;
    int64_t timecode = NDIlib_send_timecode_synthesize;
    float* p_data = nullptr;
    int32_t channel_stride_in_bytes = 0;
    const char* p_metadata = nullptr;
    int64_t timestamp = 0;
};

// Interleaved signed 16-bit audio.
struct NDIlib_audio_frame_interleaved_16s_t {
    int32_t sample_rate = 48000;
    int32_t no_channels = 2;
    int32_t no_samples = 0;
    int64_t timecode = NDIlib_send_timecode_synthesize;
    // dB; see the level convention at the top of this file.
    int32_t reference_level = 0;
    int16_t* p_data = nullptr;
};

// Interleaved 32-bit float audio.
struct NDIlib_audio_frame_interleaved_32f_t {
    int32_t sample_rate = 48000;
    int32_t no_channels = 2;
    int32_t no_samples = 0;
    int64_t timecode = NDIlib_send_timecode_synthesize;
    float* p_data = nullptr;
};

// A metadata text (usually one XML element).
struct NDIlib_metadata_frame_t {
    // Bytes including the terminating zero; 0 means "the text is terminated".
    int32_t length = 0;
    int64_t timecode = NDIlib_send_timecode_synthesize;
    char* p_data = nullptr;
};

struct NDIlib_tally_t {
    bool on_program = false;
    bool on_preview = false;
};

// --- Library ------------------------------------------------------------------

// True when the backend can run (for the stand-in: its registry directory is usable).
bool NDIlib_initialize();
// "<description> <major>.<minor>.<patch>".
const char* NDIlib_version();

// --- Finding --------------------------------------------------------------------

// Null settings search the group "public" with local sources shown.
// config_data (JSON) selects network options the stand-in does not need.
NDIlib_find_instance_t NDIlib_find_create_v3(const NDIlib_find_create_t* settings, const char* config_data);
void NDIlib_find_destroy(NDIlib_find_instance_t finder);
// Waits up to timeout_ms for the source list to differ from the one last
// reported; true when it changed.
bool NDIlib_find_wait_for_sources(NDIlib_find_instance_t finder, uint32_t timeout_ms);
// The current sources, ordered by name; valid until the next call on this finder.
const NDIlib_source_t* NDIlib_find_get_current_sources(NDIlib_find_instance_t finder, uint32_t* no_sources);

// --- Receiving ------------------------------------------------------------------

// Null settings make a receiver of full bandwidth without a source.
NDIlib_recv_instance_t NDIlib_recv_create_v4(const NDIlib_recv_create_t* settings, const char* config_data);
void NDIlib_recv_destroy(NDIlib_recv_instance_t receiver);
// Connects to the source named (name first, the URL picks among equal names);
// a null source or one without name and URL disconnects. While the source is
// away the receiver tries again whenever it is asked for its connections or
// its metadata (at most every 100 ms).
void NDIlib_recv_connect(NDIlib_recv_instance_t receiver, const NDIlib_source_t* source);
// 1 while connected to a sender, else 0.
int NDIlib_recv_get_no_connections(NDIlib_recv_instance_t receiver);
// Delivers metadata (the sender's connection metadata among it) or, once
// after a lost connection, the error type. Pictures and sound are read
// through a frame synchroniser; video and audio records passed here are
// cleared.
NDIlib_frame_type_e NDIlib_recv_capture_v2(NDIlib_recv_instance_t receiver, NDIlib_video_frame_v2_t* video,
    NDIlib_audio_frame_v2_t* audio, NDIlib_metadata_frame_t* metadata, uint32_t timeout_ms);
void NDIlib_recv_free_metadata(NDIlib_recv_instance_t receiver, NDIlib_metadata_frame_t* metadata);
// Fire and forget; false when not connected.
bool NDIlib_recv_send_metadata(NDIlib_recv_instance_t receiver, const NDIlib_metadata_frame_t* metadata);
bool NDIlib_recv_set_tally(NDIlib_recv_instance_t receiver, const NDIlib_tally_t* tally);
// The sender's web-control URL (from its connection metadata) or null.
const char* NDIlib_recv_get_web_control(NDIlib_recv_instance_t receiver);
void NDIlib_recv_free_string(NDIlib_recv_instance_t receiver, const char* text);

// PTZ. Supported when the connected sender announced it in its connection
// metadata; a command is accepted (true) only then and travels to the sender
// as a metadata element named after the command.
bool NDIlib_recv_ptz_is_supported(NDIlib_recv_instance_t receiver);
bool NDIlib_recv_ptz_zoom(NDIlib_recv_instance_t receiver, float zoom_value);
bool NDIlib_recv_ptz_zoom_speed(NDIlib_recv_instance_t receiver, float zoom_speed);
bool NDIlib_recv_ptz_pan_tilt(NDIlib_recv_instance_t receiver, float pan_value, float tilt_value);
bool NDIlib_recv_ptz_pan_tilt_speed(NDIlib_recv_instance_t receiver, float pan_speed, float tilt_speed);
bool NDIlib_recv_ptz_store_preset(NDIlib_recv_instance_t receiver, int preset_no);
bool NDIlib_recv_ptz_recall_preset(NDIlib_recv_instance_t receiver, int preset_no, float speed);
bool NDIlib_recv_ptz_auto_focus(NDIlib_recv_instance_t receiver);
bool NDIlib_recv_ptz_focus(NDIlib_recv_instance_t receiver, float focus_value);
bool NDIlib_recv_ptz_focus_speed(NDIlib_recv_instance_t receiver, float focus_speed);
bool NDIlib_recv_ptz_white_balance_auto(NDIlib_recv_instance_t receiver);
bool NDIlib_recv_ptz_white_balance_indoor(NDIlib_recv_instance_t receiver);
bool NDIlib_recv_ptz_white_balance_outdoor(NDIlib_recv_instance_t receiver);
bool NDIlib_recv_ptz_white_balance_oneshot(NDIlib_recv_instance_t receiver);
bool NDIlib_recv_ptz_white_balance_manual(NDIlib_recv_instance_t receiver, float red, float blue);
bool NDIlib_recv_ptz_exposure_auto(NDIlib_recv_instance_t receiver);
bool NDIlib_recv_ptz_exposure_manual(NDIlib_recv_instance_t receiver, float exposure_level);

// --- Frame synchronisation ------------------------------------------------------

// A synchroniser over a receiver; destroy it before the receiver.
NDIlib_framesync_instance_t NDIlib_framesync_create(NDIlib_recv_instance_t receiver);
void NDIlib_framesync_destroy(NDIlib_framesync_instance_t framesync);
// Returns at once with the newest picture (the same one again until a newer
// arrives); before the first picture p_data is null.
void NDIlib_framesync_capture_video(
    NDIlib_framesync_instance_t framesync, NDIlib_video_frame_v2_t* video, NDIlib_frame_format_type_e field_type);
void NDIlib_framesync_free_video(NDIlib_framesync_instance_t framesync, NDIlib_video_frame_v2_t* video);
// Returns at once with exactly the requested rate, channels and samples,
// resampled and channel-mapped from what arrived (zero-filled when too little
// is queued); p_data is null when no sound is queued at all.
void NDIlib_framesync_capture_audio(NDIlib_framesync_instance_t framesync, NDIlib_audio_frame_v2_t* audio,
    int sample_rate, int no_channels, int no_samples);
void NDIlib_framesync_free_audio(NDIlib_framesync_instance_t framesync, NDIlib_audio_frame_v2_t* audio);

// --- Audio helpers ----------------------------------------------------------------

// Interleave planar float into dst->p_data (caller-allocated, channels x samples).
void NDIlib_util_audio_to_interleaved_32f_v2(
    const NDIlib_audio_frame_v2_t* src, NDIlib_audio_frame_interleaved_32f_t* dst);
// Interleave and convert to 16-bit at dst->reference_level (set by the caller)
// into dst->p_data (caller-allocated); out-of-range samples are clipped.
void NDIlib_util_audio_to_interleaved_16s_v2(
    const NDIlib_audio_frame_v2_t* src, NDIlib_audio_frame_interleaved_16s_t* dst);

// --- Sending ------------------------------------------------------------------------

// A sender announced under settings->p_ndi_name (required), or null.
NDIlib_send_instance_t NDIlib_send_create_v2(const NDIlib_send_create_t* settings, const char* config_data);
void NDIlib_send_destroy(NDIlib_send_instance_t sender);
// Sends one picture to every connected receiver and returns without waiting
// for them. The caller may reuse the previous frame's pixels once this
// returns; a null frame (or null p_data) flushes. Packed UYVY only.
void NDIlib_send_send_video_async_v2(NDIlib_send_instance_t sender, const NDIlib_video_frame_v2_t* video);
void NDIlib_util_send_send_audio_interleaved_16s(
    NDIlib_send_instance_t sender, const NDIlib_audio_frame_interleaved_16s_t* audio);
// Adds an element every receiver gets on connecting (and at once when
// connected already), e.g. <ndi_capabilities web_control="http://..." ptz="true"/>.
void NDIlib_send_add_connection_metadata(NDIlib_send_instance_t sender, const NDIlib_metadata_frame_t* metadata);
// The combined tally of all receivers. Waits up to timeout_ms for a change;
// true when it changed since the previous call. *tally always gets the current state.
bool NDIlib_send_get_tally(NDIlib_send_instance_t sender, NDIlib_tally_t* tally, uint32_t timeout_ms);
// Metadata sent by receivers (PTZ commands among it), oldest first; waits up
// to timeout_ms. Returns the metadata type or none.
NDIlib_frame_type_e NDIlib_send_capture(
    NDIlib_send_instance_t sender, NDIlib_metadata_frame_t* metadata, uint32_t timeout_ms);
void NDIlib_send_free_metadata(NDIlib_send_instance_t sender, NDIlib_metadata_frame_t* metadata);
