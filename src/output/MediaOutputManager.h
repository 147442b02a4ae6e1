#pragma once
// MediaOutputManager: the process-wide registry of the windows' network
// outputs, one NdiOutputStream per (program, window).
//
// Only setWebControl (the program model making a window) creates a stream;
// every other per-window call finds the stream without inserting anything
// and does nothing (or fails) when there is none. Calls take a copy of the
// stream's pointer under the map's mutex and use it after releasing the
// mutex, so a slow send never blocks other windows and a concurrent
// removeItem cannot free a stream in use.
//
// Owner: process-wide, made on first use and never deleted: the streams end
// in the ordered shutdown (destroy, called by the controller's teardown)
// while the network backend still exists, never in a static destructor.
// Threads: render threads (video), mixing threads (audio), the HTTPS thread
// (parameters), the GUI thread (creation, enable, removal).
#include <QJsonObject>
#include <QMap>
#include <QMutex>
#include <QObject>
#include <QSharedPointer>
#include <QString>

#include <memory>

#include "NdiWrapper.h"

class NdiOutputStream;
class VideoFrame;

class MediaOutputManager : public QObject {
    Q_OBJECT
public:
    static MediaOutputManager& instance();

    // Makes the window's stream when missing and sets its web-control address.
    void setWebControl(const QString& pro_id, const QString& win_id, const QString& url);
    QString getWebControl(const QString& pro_id, const QString& win_id) const;

    // The window's rendered picture for its network output (render thread).
    void sendNDIVideo(const QString& pro_id, const QString& win_id, std::shared_ptr<VideoFrame> frame,
        const QString& name, NDIlib_FourCC_video_type_e fourCC);
    // One mixed block of interleaved 16-bit PCM for the window's output (mixing thread).
    void sendNDIAudio(
        const QString& pro_id, const QString& win_id, const short* data, int samples, int channels, int sampleRate);
    void setNDIAudioLevel(const QString& pro_id, const QString& win_id, int level);
    void setNDIEnable(const QString& pro_id, const QString& win_id, bool enable);
    // False when the window has no stream, or (with the reason in *msg) when
    // the settings could not be saved or the runtime cannot start.
    bool setNDIParams(const QString& pro_id, const QString& win_id, const QJsonObject& params, QString* msg = nullptr);
    // {"result":"ok","data":{...}}, or {"result":"error"} without a stream.
    QJsonObject getNDIParams(const QString& pro_id, const QString& win_id);
    // Stored for streams made later too; existing ones re-create their senders.
    void setNDIAdapter(const QString& address);
    // Releases the window's output; called when the window's renderer goes.
    void removeItem(const QString& pro_id, const QString& win_id);
    // Releases every stream (the window slots stay, empty).
    void destroy();

    QSharedPointer<NdiOutputStream> stream(const QString& pro_id, const QString& win_id) const;

private:
    MediaOutputManager() = default;
    ~MediaOutputManager() override = default;

    QMap<QString, QMap<QString, QSharedPointer<NdiOutputStream>>> streams;
    QString adapter;
    mutable QMutex outputs_mutex;
};
