// The interface functions of NdiWrapper.h: argument checks, defaults for
// missing settings, and the hand-over to the backend seam.
#include "NdiWrapper.h"

#include "NdiAudioConvert.h"
#include "NdiBackend.h"

namespace {

NdiBackend& backend()
{
    return NdiBackend::instance();
}

bool ptz(NDIlib_recv_instance_t receiver, NdiPtzCommand command)
{
    return receiver && backend().recvPtz(receiver, command);
}

} // namespace

bool NDIlib_initialize()
{
    return backend().initialize();
}

const char* NDIlib_version()
{
    return backend().version();
}

NDIlib_find_instance_t NDIlib_find_create_v3(const NDIlib_find_create_t* settings, const char* config_data)
{
    return backend().findCreate(settings ? *settings : NDIlib_find_create_t {}, config_data);
}

void NDIlib_find_destroy(NDIlib_find_instance_t finder)
{
    if (finder)
        backend().findDestroy(finder);
}

bool NDIlib_find_wait_for_sources(NDIlib_find_instance_t finder, uint32_t timeout_ms)
{
    return finder && backend().findWait(finder, timeout_ms);
}

const NDIlib_source_t* NDIlib_find_get_current_sources(NDIlib_find_instance_t finder, uint32_t* no_sources)
{
    if (no_sources)
        *no_sources = 0;
    return finder ? backend().findSources(finder, no_sources) : nullptr;
}

NDIlib_recv_instance_t NDIlib_recv_create_v4(const NDIlib_recv_create_t* settings, const char* config_data)
{
    return backend().recvCreate(settings ? *settings : NDIlib_recv_create_t {}, config_data);
}

void NDIlib_recv_destroy(NDIlib_recv_instance_t receiver)
{
    if (receiver)
        backend().recvDestroy(receiver);
}

void NDIlib_recv_connect(NDIlib_recv_instance_t receiver, const NDIlib_source_t* source)
{
    if (receiver)
        backend().recvConnect(receiver, source);
}

int NDIlib_recv_get_no_connections(NDIlib_recv_instance_t receiver)
{
    return receiver ? backend().recvConnections(receiver) : 0;
}

NDIlib_frame_type_e NDIlib_recv_capture_v2(NDIlib_recv_instance_t receiver, NDIlib_video_frame_v2_t* video,
    NDIlib_audio_frame_v2_t* audio, NDIlib_metadata_frame_t* metadata, uint32_t timeout_ms)
{
    if (video)
        *video = NDIlib_video_frame_v2_t {};
    if (audio)
        *audio = NDIlib_audio_frame_v2_t {};
    if (!receiver)
        return NDIlib_frame_type_error;
    if (!metadata)
        return NDIlib_frame_type_none;
    metadata->p_data = nullptr;
    metadata->length = 0;
    return backend().recvCaptureMetadata(receiver, metadata, timeout_ms);
}

void NDIlib_recv_free_metadata(NDIlib_recv_instance_t receiver, NDIlib_metadata_frame_t* metadata)
{
    if (receiver && metadata)
        backend().recvFreeMetadata(receiver, metadata);
}

bool NDIlib_recv_send_metadata(NDIlib_recv_instance_t receiver, const NDIlib_metadata_frame_t* metadata)
{
    return receiver && metadata && metadata->p_data && backend().recvSendMetadata(receiver, *metadata);
}

bool NDIlib_recv_set_tally(NDIlib_recv_instance_t receiver, const NDIlib_tally_t* tally)
{
    return receiver && backend().recvSetTally(receiver, tally ? *tally : NDIlib_tally_t {});
}

const char* NDIlib_recv_get_web_control(NDIlib_recv_instance_t receiver)
{
    return receiver ? backend().recvWebControl(receiver) : nullptr;
}

void NDIlib_recv_free_string(NDIlib_recv_instance_t receiver, const char* text)
{
    if (receiver && text)
        backend().recvFreeString(receiver, text);
}

bool NDIlib_recv_ptz_is_supported(NDIlib_recv_instance_t receiver)
{
    return receiver && backend().recvPtzSupported(receiver);
}

bool NDIlib_recv_ptz_zoom(NDIlib_recv_instance_t receiver, float zoom_value)
{
    return ptz(receiver, { NdiPtzCommand::Zoom, zoom_value });
}

bool NDIlib_recv_ptz_zoom_speed(NDIlib_recv_instance_t receiver, float zoom_speed)
{
    return ptz(receiver, { NdiPtzCommand::ZoomSpeed, zoom_speed });
}

bool NDIlib_recv_ptz_pan_tilt(NDIlib_recv_instance_t receiver, float pan_value, float tilt_value)
{
    return ptz(receiver, { NdiPtzCommand::PanTilt, pan_value, tilt_value });
}

bool NDIlib_recv_ptz_pan_tilt_speed(NDIlib_recv_instance_t receiver, float pan_speed, float tilt_speed)
{
    return ptz(receiver, { NdiPtzCommand::PanTiltSpeed, pan_speed, tilt_speed });
}

bool NDIlib_recv_ptz_store_preset(NDIlib_recv_instance_t receiver, int preset_no)
{
    return ptz(receiver, { NdiPtzCommand::StorePreset, 0.0f, 0.0f, preset_no });
}

bool NDIlib_recv_ptz_recall_preset(NDIlib_recv_instance_t receiver, int preset_no, float speed)
{
    return ptz(receiver, { NdiPtzCommand::RecallPreset, speed, 0.0f, preset_no });
}

bool NDIlib_recv_ptz_auto_focus(NDIlib_recv_instance_t receiver)
{
    return ptz(receiver, { NdiPtzCommand::AutoFocus });
}

bool NDIlib_recv_ptz_focus(NDIlib_recv_instance_t receiver, float focus_value)
{
    return ptz(receiver, { NdiPtzCommand::Focus, focus_value });
}

bool NDIlib_recv_ptz_focus_speed(NDIlib_recv_instance_t receiver, float focus_speed)
{
    return ptz(receiver, { NdiPtzCommand::FocusSpeed, focus_speed });
}

bool NDIlib_recv_ptz_white_balance_auto(NDIlib_recv_instance_t receiver)
{
    return ptz(receiver, { NdiPtzCommand::WhiteBalanceAuto });
}

bool NDIlib_recv_ptz_white_balance_indoor(NDIlib_recv_instance_t receiver)
{
    return ptz(receiver, { NdiPtzCommand::WhiteBalanceIndoor });
}

bool NDIlib_recv_ptz_white_balance_outdoor(NDIlib_recv_instance_t receiver)
{
    return ptz(receiver, { NdiPtzCommand::WhiteBalanceOutdoor });
}

bool NDIlib_recv_ptz_white_balance_oneshot(NDIlib_recv_instance_t receiver)
{
    return ptz(receiver, { NdiPtzCommand::WhiteBalanceOneshot });
}

bool NDIlib_recv_ptz_white_balance_manual(NDIlib_recv_instance_t receiver, float red, float blue)
{
    return ptz(receiver, { NdiPtzCommand::WhiteBalanceManual, red, blue });
}

bool NDIlib_recv_ptz_exposure_auto(NDIlib_recv_instance_t receiver)
{
    return ptz(receiver, { NdiPtzCommand::ExposureAuto });
}

bool NDIlib_recv_ptz_exposure_manual(NDIlib_recv_instance_t receiver, float exposure_level)
{
    return ptz(receiver, { NdiPtzCommand::ExposureManual, exposure_level });
}

NDIlib_framesync_instance_t NDIlib_framesync_create(NDIlib_recv_instance_t receiver)
{
    return receiver ? backend().framesyncCreate(receiver) : nullptr;
}

void NDIlib_framesync_destroy(NDIlib_framesync_instance_t framesync)
{
    if (framesync)
        backend().framesyncDestroy(framesync);
}

void NDIlib_framesync_capture_video(
    NDIlib_framesync_instance_t framesync, NDIlib_video_frame_v2_t* video, NDIlib_frame_format_type_e field_type)
{
    if (!video)
        return;
    if (!framesync) {
        *video = NDIlib_video_frame_v2_t {};
        return;
    }
    backend().framesyncCaptureVideo(framesync, video, field_type);
}

void NDIlib_framesync_free_video(NDIlib_framesync_instance_t framesync, NDIlib_video_frame_v2_t* video)
{
    if (framesync && video)
        backend().framesyncFreeVideo(framesync, video);
}

void NDIlib_framesync_capture_audio(NDIlib_framesync_instance_t framesync, NDIlib_audio_frame_v2_t* audio,
    int sample_rate, int no_channels, int no_samples)
{
    if (!audio)
        return;
    if (!framesync) {
        *audio = NDIlib_audio_frame_v2_t {};
        return;
    }
    backend().framesyncCaptureAudio(framesync, audio, sample_rate, no_channels, no_samples);
}

void NDIlib_framesync_free_audio(NDIlib_framesync_instance_t framesync, NDIlib_audio_frame_v2_t* audio)
{
    if (framesync && audio)
        backend().framesyncFreeAudio(framesync, audio);
}

void NDIlib_util_audio_to_interleaved_32f_v2(
    const NDIlib_audio_frame_v2_t* src, NDIlib_audio_frame_interleaved_32f_t* dst)
{
    if (src && dst)
        ndiaudio::planarToInterleaved32f(*src, *dst);
}

void NDIlib_util_audio_to_interleaved_16s_v2(
    const NDIlib_audio_frame_v2_t* src, NDIlib_audio_frame_interleaved_16s_t* dst)
{
    if (src && dst)
        ndiaudio::planarToInterleaved16s(*src, *dst);
}

NDIlib_send_instance_t NDIlib_send_create_v2(const NDIlib_send_create_t* settings, const char* config_data)
{
    return settings ? backend().sendCreate(*settings, config_data) : nullptr;
}

void NDIlib_send_destroy(NDIlib_send_instance_t sender)
{
    if (sender)
        backend().sendDestroy(sender);
}

void NDIlib_send_send_video_async_v2(NDIlib_send_instance_t sender, const NDIlib_video_frame_v2_t* video)
{
    if (sender)
        backend().sendVideo(sender, video);
}

void NDIlib_util_send_send_audio_interleaved_16s(
    NDIlib_send_instance_t sender, const NDIlib_audio_frame_interleaved_16s_t* audio)
{
    if (sender && audio)
        backend().sendAudio16(sender, *audio);
}

void NDIlib_send_add_connection_metadata(NDIlib_send_instance_t sender, const NDIlib_metadata_frame_t* metadata)
{
    if (sender && metadata && metadata->p_data)
        backend().sendAddConnectionMetadata(sender, *metadata);
}

bool NDIlib_send_get_tally(NDIlib_send_instance_t sender, NDIlib_tally_t* tally, uint32_t timeout_ms)
{
    if (!sender) {
        if (tally)
            *tally = NDIlib_tally_t {};
        return false;
    }
    return backend().sendTally(sender, tally, timeout_ms);
}

NDIlib_frame_type_e NDIlib_send_capture(
    NDIlib_send_instance_t sender, NDIlib_metadata_frame_t* metadata, uint32_t timeout_ms)
{
    if (!sender || !metadata)
        return NDIlib_frame_type_none;
    metadata->p_data = nullptr;
    metadata->length = 0;
    return backend().sendCaptureMetadata(sender, metadata, timeout_ms);
}

void NDIlib_send_free_metadata(NDIlib_send_instance_t sender, NDIlib_metadata_frame_t* metadata)
{
    if (sender && metadata)
        backend().sendFreeMetadata(sender, metadata);
}
