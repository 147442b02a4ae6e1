#pragma once
// The seam between the interface functions of NdiWrapper.h and whatever
// actually moves the video. The functions check their arguments (null
// handles, null settings, null records) and forward here; a backend gets
// valid handles of its own making and filled-in settings. The one backend
// today is the stand-in (StandInBackend); a real network runtime would be
// another subclass chosen in NdiBackend::instance().
#include "NdiWrapper.h"

// One PTZ command with its values, so that backends see what was asked for
// rather than sixteen near-identical entry points.
struct NdiPtzCommand {
    enum Kind {
        Zoom, // a = zoom_value
        ZoomSpeed, // a = zoom_speed
        PanTilt, // a = pan_value, b = tilt_value
        PanTiltSpeed, // a = pan_speed, b = tilt_speed
        StorePreset, // preset = preset_no
        RecallPreset, // preset = preset_no, a = speed
        AutoFocus,
        Focus, // a = focus_value
        FocusSpeed, // a = focus_speed
        WhiteBalanceAuto,
        WhiteBalanceIndoor,
        WhiteBalanceOutdoor,
        WhiteBalanceOneshot,
        WhiteBalanceManual, // a = red, b = blue
        ExposureAuto,
        ExposureManual, // a = exposure_level
    };
    Kind kind;
    float a = 0.0f;
    float b = 0.0f;
    int preset = 0;
};

class NdiBackend {
public:
    virtual ~NdiBackend() = default;
    // The backend of this process, made on first use and kept until exit.
    static NdiBackend& instance();

    virtual bool initialize() = 0;
    virtual const char* version() const = 0;

    virtual NDIlib_find_instance_t findCreate(const NDIlib_find_create_t& settings, const char* config) = 0;
    virtual void findDestroy(NDIlib_find_instance_t finder) = 0;
    virtual bool findWait(NDIlib_find_instance_t finder, uint32_t timeoutMs) = 0;
    virtual const NDIlib_source_t* findSources(NDIlib_find_instance_t finder, uint32_t* count) = 0;

    virtual NDIlib_recv_instance_t recvCreate(const NDIlib_recv_create_t& settings, const char* config) = 0;
    virtual void recvDestroy(NDIlib_recv_instance_t receiver) = 0;
    // source null: disconnect.
    virtual void recvConnect(NDIlib_recv_instance_t receiver, const NDIlib_source_t* source) = 0;
    virtual int recvConnections(NDIlib_recv_instance_t receiver) = 0;
    virtual NDIlib_frame_type_e recvCaptureMetadata(
        NDIlib_recv_instance_t receiver, NDIlib_metadata_frame_t* out, uint32_t timeoutMs)
        = 0;
    virtual void recvFreeMetadata(NDIlib_recv_instance_t receiver, NDIlib_metadata_frame_t* metadata) = 0;
    virtual bool recvSendMetadata(NDIlib_recv_instance_t receiver, const NDIlib_metadata_frame_t& metadata) = 0;
    virtual bool recvSetTally(NDIlib_recv_instance_t receiver, const NDIlib_tally_t& tally) = 0;
    virtual const char* recvWebControl(NDIlib_recv_instance_t receiver) = 0;
    virtual void recvFreeString(NDIlib_recv_instance_t receiver, const char* text) = 0;
    virtual bool recvPtzSupported(NDIlib_recv_instance_t receiver) = 0;
    virtual bool recvPtz(NDIlib_recv_instance_t receiver, const NdiPtzCommand& command) = 0;

    virtual NDIlib_framesync_instance_t framesyncCreate(NDIlib_recv_instance_t receiver) = 0;
    virtual void framesyncDestroy(NDIlib_framesync_instance_t framesync) = 0;
    virtual void framesyncCaptureVideo(
        NDIlib_framesync_instance_t framesync, NDIlib_video_frame_v2_t* video, NDIlib_frame_format_type_e fieldType)
        = 0;
    virtual void framesyncFreeVideo(NDIlib_framesync_instance_t framesync, NDIlib_video_frame_v2_t* video) = 0;
    virtual void framesyncCaptureAudio(NDIlib_framesync_instance_t framesync, NDIlib_audio_frame_v2_t* audio,
        int sampleRate, int channels, int samples)
        = 0;
    virtual void framesyncFreeAudio(NDIlib_framesync_instance_t framesync, NDIlib_audio_frame_v2_t* audio) = 0;

    virtual NDIlib_send_instance_t sendCreate(const NDIlib_send_create_t& settings, const char* config) = 0;
    virtual void sendDestroy(NDIlib_send_instance_t sender) = 0;
    // video null: flush.
    virtual void sendVideo(NDIlib_send_instance_t sender, const NDIlib_video_frame_v2_t* video) = 0;
    virtual void sendAudio16(NDIlib_send_instance_t sender, const NDIlib_audio_frame_interleaved_16s_t& audio) = 0;
    virtual void sendAddConnectionMetadata(NDIlib_send_instance_t sender, const NDIlib_metadata_frame_t& metadata) = 0;
    virtual bool sendTally(NDIlib_send_instance_t sender, NDIlib_tally_t* tally, uint32_t timeoutMs) = 0;
    virtual NDIlib_frame_type_e sendCaptureMetadata(
        NDIlib_send_instance_t sender, NDIlib_metadata_frame_t* out, uint32_t timeoutMs)
        = 0;
    virtual void sendFreeMetadata(NDIlib_send_instance_t sender, NDIlib_metadata_frame_t* metadata) = 0;
};
