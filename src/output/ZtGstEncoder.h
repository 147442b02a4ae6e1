#pragma once
// ZtGstEncoder: turns one window's rendered UYVY frames into H.264 for the
// browser preview sessions of that window.
//
// For now it keeps its settings and accepts frames without encoding them; the
// GStreamer pipeline follows.
//
// Owner: the window's renderer (WindowMultiThreaded). Thread: configured and
// started on the window pipeline's thread, fed on the window's render thread.
#include <QObject>
#include <QString>

#include <memory>

class VideoFrame;

class ZtGstEncoder : public QObject {
    Q_OBJECT
public:
    ZtGstEncoder();
    ~ZtGstEncoder() override;

    // False, and nothing changes, unless width >= 1, height >= 1, fps >= 0, format >= 0.
    bool setSrcImagePara(int width, int height, int fps, int format);
    bool setEncodePara(int width, int height, int fps, int gop, int bitrate, int rcMode, int encoder);
    void setId(const QString& pro_id, const QString& win_id);
    bool createEncoderElement();
    void start();
    void pause();
    void stop();
    // Queues one frame for the encoder; called on the window's render thread.
    void addNewFrame(std::shared_ptr<VideoFrame> frame);
    void clearData();

private:
    QString program_id;
    QString window_id;
    int src_width = 1280;
    int src_height = 720;
    int src_fps = 25;
    int src_format = 0;
    bool stopped = true;
};
