#pragma once
// NDIConnection: the network-video kind of MediaConnection. Each open stream
// holds an NDIRecvInstance: a receiver made without a source, pointed at the
// source on its first pull and read through a frame synchroniser.
//
// Made by the source table, one per discovered source, without a Qt parent
// and held by shared pointer. Its operations run under the lock of the
// calling stream (MediaContext), on the connection's timer and audio threads
// and on the consumers' threads.
#include "MediaConnection.h"

class NDIConnection : public MediaConnection {
    Q_OBJECT
public:
    explicit NDIConnection(QObject* parent = nullptr);
    ~NDIConnection() override;

    // The receiver bandwidth of a stream: high, low, audio only, metadata
    // only; anything else the lowest.
    static NDIlib_recv_bandwidth_e receiverBandwidth(BandWidth_t bw);

    MediaInstancePtr createConnection(BandWidth_t bw, const QString& name, const QString& url) override;
    int getConnectionState(const MediaInstancePtr& instance) override;
    VideoFramePtr retrivalVideoFrame(const MediaInstancePtr& instance, bool stickOnly) override;
    AudioFramePtr retrivalAudioFrame(const MediaInstancePtr& instance, bool stickOnly, int samples, int level) override;
    std::shared_ptr<Media_capabilities_t> getConnectionCapabilities(
        const MediaInstancePtr& instance, bool pvw, bool pgm) override;
    void setConnectionTally(const MediaInstancePtr& instance, bool pvw, bool pgm) override;
    bool ptzZoom(const MediaInstancePtr& instance, float zoom) override;
    bool ptzZoomSpeed(const MediaInstancePtr& instance, float speed) override;
    bool ptzPanTilt(const MediaInstancePtr& instance, float pan, float tilt) override;
    bool ptzPanTiltSpeed(const MediaInstancePtr& instance, float panSpeed, float tiltSpeed) override;
    bool ptzStorePreset(const MediaInstancePtr& instance, int preset) override;
    bool ptzRecallPreset(const MediaInstancePtr& instance, int preset, float speed) override;
    bool ptzAutoFocus(const MediaInstancePtr& instance) override;
    bool ptzFocus(const MediaInstancePtr& instance, float focus) override;
    bool ptzFocusSpeed(const MediaInstancePtr& instance, float speed) override;
    bool ptzWhiteBalanceAuto(const MediaInstancePtr& instance) override;
    bool ptzWhiteBalanceIndoor(const MediaInstancePtr& instance) override;
    bool ptzWhiteBalanceOutdoor(const MediaInstancePtr& instance) override;
    bool ptzWhiteBalanceOneshot(const MediaInstancePtr& instance) override;
    bool ptzWhiteBalanceManual(const MediaInstancePtr& instance, float red, float blue) override;
    bool ptzExposureAuto(const MediaInstancePtr& instance) override;
    bool ptzExposureManual(const MediaInstancePtr& instance, float level) override;
    bool supportPtz(const MediaInstancePtr& instance) override;
};
