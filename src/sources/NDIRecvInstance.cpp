#include "NDIRecvInstance.h"

#include <QDebug>

NDIRecvInstance::NDIRecvInstance(NDIlib_recv_bandwidth_e bandwidth, NDIlib_framesync_instance_t framesync,
    NDIlib_recv_instance_t receiver, QString name, QString url)
    : m_bandwidth(bandwidth)
    , m_framesync(framesync)
    , m_receiver(receiver)
    , m_name(std::move(name))
    , m_url(std::move(url))
{
    qDebug() << "NDIRecvInstance create :" << m_name << m_url << int(m_bandwidth);
}

NDIRecvInstance::~NDIRecvInstance()
{
    if (NDIlib_framesync_instance_t framesync = m_framesync.exchange(nullptr))
        NDIlib_framesync_destroy(framesync);
    if (m_receiver)
        NDIlib_recv_destroy(m_receiver);
}

void NDIRecvInstance::FreeFrame(Media_video_frame_t* frame)
{
    NDIlib_framesync_instance_t framesync = m_framesync;
    if (framesync && frame && frame->p_data)
        NDIlib_framesync_free_video(framesync, frame);
}

void NDIRecvInstance::FreeFrame(Media_audio_frame_t* frame)
{
    NDIlib_framesync_instance_t framesync = m_framesync;
    if (framesync && frame && frame->p_data_s16)
        NDIlib_framesync_free_audio(framesync, frame);
}

bool NDIRecvInstance::connectToSource()
{
    if (!m_receiver) {
        qWarning() << "error, recv instance is null.";
        return false;
    }
    const QByteArray name = m_name.toUtf8();
    const QByteArray url = m_url.toUtf8();
    NDIlib_source_t source;
    source.p_ndi_name = name.constData();
    source.p_url_address = url.constData();
    NDIlib_recv_connect(m_receiver, &source);
    return true;
}

bool NDIRecvInstance::createFramesync()
{
    if (m_framesync || !m_receiver)
        return m_framesync != nullptr;
    qDebug() << "#1 old framesync is null and create new framesync " << m_name << m_url << int(m_bandwidth);
    m_framesync = NDIlib_framesync_create(m_receiver);
    qDebug() << "#2 old framesync is null and create new framesync ";
    return false;
}
