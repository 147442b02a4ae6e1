#include "AudioPlayback.h"

#include <QAudioOutput>
#include <QDebug>
#include <QMetaObject>

AudioPlayback::AudioPlayback(const QAudioFormat& format)
    : m_format(format)
    , m_context(new QObject)
{
    m_thread.setObjectName("audio playback");
    m_context->moveToThread(&m_thread);
    m_thread.start();
}

AudioPlayback::~AudioPlayback()
{
    stop();
}

void AudioPlayback::post(std::function<void()> job)
{
    if (!m_context)
        return;
    QMetaObject::invokeMethod(m_context.get(), std::move(job), Qt::QueuedConnection);
}

void AudioPlayback::setDevice(const QAudioDeviceInfo& device)
{
    if (m_stopped)
        return;
    ++m_changing;
    post([this, device] {
        closeOutput();
        openOutput(device);
        --m_changing;
    });
}

void AudioPlayback::stop()
{
    if (m_stopped)
        return;
    m_stopped = true;
    post([this] {
        closeOutput();
        m_thread.quit();
    });
    m_thread.wait();
    m_context.reset();
}

void AudioPlayback::openOutput(const QAudioDeviceInfo& device)
{
    if (device.isNull() || !device.isFormatSupported(m_format)) {
        qDebug() << "audio playback: no usable device" << device.deviceName();
        return;
    }
    auto* output = new QAudioOutput(device, m_format);
    output->setBufferSize(kBufferBytes);
    QIODevice* io = output->start();
    if (!io || output->error() != QAudio::NoError || output->state() == QAudio::StoppedState) {
        // Qt lists ALSA devices even where no sound server answers: such an
        // output fails here and the mixer runs without playback.
        qWarning() << "audio playback: cannot open" << device.deviceName() << "error" << output->error();
        output->stop();
        delete output;
        return;
    }
    m_output = output;
    m_device = io;
    QObject::connect(output, &QAudioOutput::stateChanged, m_context.get(), [this, output](QAudio::State state) {
        const QAudio::Error error = output->error();
        if (output != m_output || state != QAudio::StoppedState || error == QAudio::NoError)
            return;
        qWarning() << "audio playback: device failed, error" << error;
        // Deleting the output from inside its own signal is not safe: later.
        m_open = false;
        post([this, output] {
            if (output == m_output)
                closeOutput();
        });
    });
    m_bufferSize = output->bufferSize();
    m_open = true;
    qDebug() << "audio playback: playing on" << device.deviceName() << "buffer" << output->bufferSize();
}

void AudioPlayback::closeOutput()
{
    m_open = false;
    m_bufferSize = 0;
    {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        m_queue.clear();
    }
    if (!m_output)
        return;
    QAudioOutput* output = m_output;
    m_output = nullptr;
    m_device = nullptr;
    output->stop();
    delete output;
}

bool AudioPlayback::write(const char* data, int len)
{
    if (!isOpen() || !data || len <= 0)
        return false;
    {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        if (m_queue.size() >= kQueueFrames) {
            m_queue.pop_front();
            m_dropped.fetch_add(1, std::memory_order_relaxed);
        }
        m_queue.emplace_back(data, data + len);
        if (m_drainPosted)
            return true;
        m_drainPosted = true;
    }
    post([this] { drain(); });
    return true;
}

void AudioPlayback::drain()
{
    {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        m_drainPosted = false;
    }
    // What the device cannot take yet waits for the next block's drain. The
    // queue lock is never held across a device call.
    while (m_output && m_device) {
        const qint64 free = m_output->bytesFree();
        std::vector<char> block;
        {
            std::lock_guard<std::mutex> lock(m_queueMutex);
            if (m_queue.empty() || free < qint64(m_queue.front().size()))
                return;
            block = std::move(m_queue.front());
            m_queue.pop_front();
        }
        m_device->write(block.data(), qint64(block.size()));
    }
}
