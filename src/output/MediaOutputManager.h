#pragma once
// MediaOutputManager: the process-wide owner of the windows' network outputs,
// one per (program, window).
//
// For now it keeps each window's web-control address; the output streams
// themselves follow.
//
// Owner: function-local static, destroyed at process exit. Thread: lives on
// the GUI thread; called from the GUI and HTTPS threads, so its map is guarded.
#include <QMap>
#include <QMutex>
#include <QObject>
#include <QPair>
#include <QString>

#include <memory>

#include "NdiWrapper.h"

class VideoFrame;

class MediaOutputManager : public QObject {
    Q_OBJECT
public:
    static MediaOutputManager& instance();

    // Makes the window's output entry when missing and sets its web-control address.
    void setWebControl(const QString& pro_id, const QString& win_id, const QString& url);
    QString getWebControl(const QString& pro_id, const QString& win_id) const;

    // The window's rendered picture for its network output (render thread).
    void sendNDIVideo(const QString& pro_id, const QString& win_id, std::shared_ptr<VideoFrame> frame,
        const QString& name, NDIlib_FourCC_video_type_e fourCC);
    // One mixed block of interleaved 16-bit PCM for the window's output (mixing thread).
    void sendNDIAudio(const QString& pro_id, const QString& win_id, const short* data, int samples,
        int channels, int sampleRate);
    void setNDIEnable(const QString& pro_id, const QString& win_id, bool enable);
    // Releases the window's output; called when the window's renderer goes.
    void removeItem(const QString& pro_id, const QString& win_id);

private:
    MediaOutputManager() = default;

    QMap<QPair<QString, QString>, QString> web_controls;
    mutable QMutex outputs_mutex;
};
