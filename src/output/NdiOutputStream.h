#pragma once
// NdiOutputStream: one window's network-video output. The sender is made
// lazily by the first video frame, made again when the output name or the
// network settings change, sends UYVY asynchronously (the last frame is kept
// alive, never copied, until the next send) and interleaved 16-bit audio,
// announces the window's web-control address as connection metadata, and
// keeps its network settings in the window's parameter file, which a new
// stream loads and applies.
//
// Owner: MediaOutputManager, through a QSharedPointer; callers hold a copy
// only while a call runs. Threads: video from the window's render thread,
// audio from the mixing threads, settings from the HTTPS and GUI threads.
// The read-write lock is held for writing while the sender, the kept frame
// or the settings change, and for reading around each send.
#include "NdiWrapper.h"

#include <QJsonObject>
#include <QReadWriteLock>
#include <QString>

#include <cstdint>
#include <memory>

class VideoFrame;

class NdiOutputStream {
public:
    // Loads the window's parameter file and applies it; the adapter address
    // is the one the manager holds for every stream.
    NdiOutputStream(const QString& pro_id, const QString& win_id, const QString& adapter = QString());
    ~NdiOutputStream();
    NdiOutputStream(const NdiOutputStream&) = delete;
    NdiOutputStream& operator=(const NdiOutputStream&) = delete;

    void sendVideo(const QString& name, std::shared_ptr<VideoFrame> frame, NDIlib_FourCC_video_type_e fourCC);
    void sendAudio(int sampleRate, int channels, int samples, const short* data);
    void setAudioLevel(int level);
    void set_web_control(const QString& url);
    QString webControl() const;
    void update_ndi_capabilities();
    void setNdiEnable(bool enable);
    bool isEnabled() const;
    bool hasSender() const;
    void setAdapter_ip(const QString& address);

    QJsonObject getParams(const QString& pro_id, const QString& win_id);
    QJsonObject loadParams(const QString& pro_id, const QString& win_id) const;
    // Saves the parameter file, then applies the settings; false, with the
    // reason in *msg, when a value is not one a sender can run with (a "ttl"
    // outside 1..255, a "discovery_enable" that is no boolean, a "group"
    // entry that is no string), the runtime cannot start or the file cannot
    // be written, and then nothing has changed.
    bool setParams(const QJsonObject& params, QString* msg = nullptr);
    bool saveParams(const QString& pro_id, const QString& win_id, const QJsonObject& params) const;
    void updateConfig();
    QString configText() const;
    void destroy();

    static QString paramFile(const QString& pro_id, const QString& win_id);

private:
    struct Settings {
        QString connection_type = QStringLiteral("Default");
        QString netprefix;
        QString netmask;
        int ttl = 0;
        QString group;
        bool discovery_enable = false;
        QString discovery_ip;
        bool operator==(const Settings& o) const;
    };
    static Settings settingsOf(const QJsonObject& params);
    // Both expect the lock held (for writing, for reading).
    void releaseSenderLocked();
    void announceLocked();
    void updateConfigLocked();

    const QString m_proId;
    const QString m_winId;
    NDIlib_send_instance_t m_sender = nullptr;
    std::shared_ptr<VideoFrame> m_keptFrame;
    QString m_name;
    int m_audioLevel = 20;
    QString m_webControl;
    mutable QReadWriteLock m_lock;
    Settings m_settings;
    QString m_adapter;
    QString m_config;
    bool m_recreate = false;
    bool m_enabled = false;
    int64_t m_statisticsTime = 0;
    int m_framesSinceStatistics = 0;
};
