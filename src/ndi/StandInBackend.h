#pragma once
// The stand-in backend: finders, receivers, frame synchronisers and senders
// that reach each other on this machine through the registry directory and
// Unix sockets (see StandInRegistry, StandInSender, StandInReceiver). Each
// object is owned by the caller through its handle; the backend itself holds
// no state, and the registry directory is looked up when an object is made.
#include "NdiBackend.h"

#include <string>

class StandInBackend : public NdiBackend {
public:
    bool initialize() override;
    const char* version() const override;

    NDIlib_find_instance_t findCreate(const NDIlib_find_create_t& settings, const char* config) override;
    void findDestroy(NDIlib_find_instance_t finder) override;
    bool findWait(NDIlib_find_instance_t finder, uint32_t timeoutMs) override;
    const NDIlib_source_t* findSources(NDIlib_find_instance_t finder, uint32_t* count) override;

    NDIlib_recv_instance_t recvCreate(const NDIlib_recv_create_t& settings, const char* config) override;
    void recvDestroy(NDIlib_recv_instance_t receiver) override;
    void recvConnect(NDIlib_recv_instance_t receiver, const NDIlib_source_t* source) override;
    int recvConnections(NDIlib_recv_instance_t receiver) override;
    NDIlib_frame_type_e recvCaptureMetadata(
        NDIlib_recv_instance_t receiver, NDIlib_metadata_frame_t* out, uint32_t timeoutMs) override;
    void recvFreeMetadata(NDIlib_recv_instance_t receiver, NDIlib_metadata_frame_t* metadata) override;
    bool recvSendMetadata(NDIlib_recv_instance_t receiver, const NDIlib_metadata_frame_t& metadata) override;
    bool recvSetTally(NDIlib_recv_instance_t receiver, const NDIlib_tally_t& tally) override;
    const char* recvWebControl(NDIlib_recv_instance_t receiver) override;
    void recvFreeString(NDIlib_recv_instance_t receiver, const char* text) override;
    bool recvPtzSupported(NDIlib_recv_instance_t receiver) override;
    bool recvPtz(NDIlib_recv_instance_t receiver, const NdiPtzCommand& command) override;

    NDIlib_framesync_instance_t framesyncCreate(NDIlib_recv_instance_t receiver) override;
    void framesyncDestroy(NDIlib_framesync_instance_t framesync) override;
    void framesyncCaptureVideo(NDIlib_framesync_instance_t framesync, NDIlib_video_frame_v2_t* video,
        NDIlib_frame_format_type_e fieldType) override;
    void framesyncFreeVideo(NDIlib_framesync_instance_t framesync, NDIlib_video_frame_v2_t* video) override;
    void framesyncCaptureAudio(NDIlib_framesync_instance_t framesync, NDIlib_audio_frame_v2_t* audio, int sampleRate,
        int channels, int samples) override;
    void framesyncFreeAudio(NDIlib_framesync_instance_t framesync, NDIlib_audio_frame_v2_t* audio) override;

    NDIlib_send_instance_t sendCreate(const NDIlib_send_create_t& settings, const char* config) override;
    void sendDestroy(NDIlib_send_instance_t sender) override;
    void sendVideo(NDIlib_send_instance_t sender, const NDIlib_video_frame_v2_t* video) override;
    void sendAudio16(NDIlib_send_instance_t sender, const NDIlib_audio_frame_interleaved_16s_t& audio) override;
    void sendAddConnectionMetadata(NDIlib_send_instance_t sender, const NDIlib_metadata_frame_t& metadata) override;
    bool sendTally(NDIlib_send_instance_t sender, NDIlib_tally_t* tally, uint32_t timeoutMs) override;
    NDIlib_frame_type_e sendCaptureMetadata(
        NDIlib_send_instance_t sender, NDIlib_metadata_frame_t* out, uint32_t timeoutMs) override;
    void sendFreeMetadata(NDIlib_send_instance_t sender, NDIlib_metadata_frame_t* metadata) override;

    // The metadata element a PTZ command travels as, e.g.
    // <ptz_pan_tilt pan_value="0.5" tilt_value="-0.25"/>.
    static std::string ptzElement(const NdiPtzCommand& command);
};
