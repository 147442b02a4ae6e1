#pragma once
// NDIRecvInstance: one open network-video receiver and, once it has a
// connection, its frame synchroniser; the receiver of one stream of an
// NDIConnection.
//
// Owned (shared) by the stream's MediaContext and by every picture it lent,
// so the receiver is destroyed only after the last of its pictures. Used
// under the owning context's lock, except FreeFrame, which runs on whichever
// thread drops a picture's last reference.
#include "MediaInstance.h"

#include <QString>

#include <atomic>

class NDIRecvInstance : public MediaInstance_t {
public:
    NDIRecvInstance(NDIlib_recv_bandwidth_e bandwidth, NDIlib_framesync_instance_t framesync,
        NDIlib_recv_instance_t receiver, QString name, QString url);
    ~NDIRecvInstance() override;
    NDIRecvInstance(const NDIRecvInstance&) = delete;
    NDIRecvInstance& operator=(const NDIRecvInstance&) = delete;

    void FreeFrame(Media_video_frame_t* frame) override;
    void FreeFrame(Media_audio_frame_t* frame) override;

    // Points the receiver at the source; false without a receiver.
    bool connectToSource();
    // Makes the synchroniser when there is none yet; returns whether one
    // existed before the call.
    bool createFramesync();

    NDIlib_recv_bandwidth_e bandwidth() const { return m_bandwidth; }
    NDIlib_recv_instance_t receiver() const { return m_receiver; }
    NDIlib_framesync_instance_t framesync() const { return m_framesync; }
    const QString& name() const { return m_name; }
    const QString& url() const { return m_url; }

private:
    const NDIlib_recv_bandwidth_e m_bandwidth;
    // Set once under the context lock, read by FreeFrame on other threads.
    std::atomic<NDIlib_framesync_instance_t> m_framesync;
    const NDIlib_recv_instance_t m_receiver;
    const QString m_name;
    const QString m_url;
};
