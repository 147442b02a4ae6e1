#include "MediaOutputManager.h"

#include "base/ApiReplies.h"

#include "NdiOutputStream.h"
#include "media/VideoFrame.h"

#include <QDebug>
#include <QMutexLocker>

MediaOutputManager& MediaOutputManager::instance()
{
    static MediaOutputManager* manager = new MediaOutputManager;
    return *manager;
}

QSharedPointer<NdiOutputStream> MediaOutputManager::stream(const QString& pro_id, const QString& win_id) const
{
    QMutexLocker lock(&outputs_mutex);
    const auto program = streams.constFind(pro_id);
    if (program == streams.constEnd())
        return {};
    return program->value(win_id);
}

void MediaOutputManager::setWebControl(const QString& pro_id, const QString& win_id, const QString& url)
{
    QSharedPointer<NdiOutputStream> output;
    {
        QMutexLocker lock(&outputs_mutex);
        QSharedPointer<NdiOutputStream>& slot = streams[pro_id][win_id];
        if (!slot)
            slot.reset(new NdiOutputStream(pro_id, win_id, adapter));
        output = slot;
    }
    output->set_web_control(url);
}

QString MediaOutputManager::getWebControl(const QString& pro_id, const QString& win_id) const
{
    const QSharedPointer<NdiOutputStream> output = stream(pro_id, win_id);
    return output ? output->webControl() : QString();
}

void MediaOutputManager::sendNDIVideo(const QString& pro_id, const QString& win_id, std::shared_ptr<VideoFrame> frame,
    const QString& name, NDIlib_FourCC_video_type_e fourCC)
{
    if (const QSharedPointer<NdiOutputStream> output = stream(pro_id, win_id))
        output->sendVideo(name, std::move(frame), fourCC);
}

void MediaOutputManager::sendNDIAudio(
    const QString& pro_id, const QString& win_id, const short* data, int samples, int channels, int sampleRate)
{
    if (const QSharedPointer<NdiOutputStream> output = stream(pro_id, win_id))
        output->sendAudio(sampleRate, channels, samples, data);
}

void MediaOutputManager::setNDIAudioLevel(const QString& pro_id, const QString& win_id, int level)
{
    if (const QSharedPointer<NdiOutputStream> output = stream(pro_id, win_id))
        output->setAudioLevel(level);
}

void MediaOutputManager::setNDIEnable(const QString& pro_id, const QString& win_id, bool enable)
{
    if (const QSharedPointer<NdiOutputStream> output = stream(pro_id, win_id))
        output->setNdiEnable(enable);
}

bool MediaOutputManager::setNDIParams(
    const QString& pro_id, const QString& win_id, const QJsonObject& params, QString* msg)
{
    const QSharedPointer<NdiOutputStream> output = stream(pro_id, win_id);
    return output && output->setParams(params, msg);
}

QJsonObject MediaOutputManager::getNDIParams(const QString& pro_id, const QString& win_id)
{
    if (const QSharedPointer<NdiOutputStream> output = stream(pro_id, win_id))
        return output->getParams(pro_id, win_id);
    return apireply::error();
}

void MediaOutputManager::setNDIAdapter(const QString& address)
{
    QList<QSharedPointer<NdiOutputStream>> all;
    {
        QMutexLocker lock(&outputs_mutex);
        if (address == adapter)
            return;
        adapter = address;
        for (const auto& windows : qAsConst(streams))
            for (const QSharedPointer<NdiOutputStream>& output : windows)
                if (output)
                    all << output;
    }
    for (const QSharedPointer<NdiOutputStream>& output : qAsConst(all))
        output->setAdapter_ip(address);
}

void MediaOutputManager::removeItem(const QString& pro_id, const QString& win_id)
{
    QSharedPointer<NdiOutputStream> gone;
    {
        QMutexLocker lock(&outputs_mutex);
        const auto program = streams.find(pro_id);
        if (program == streams.end())
            return;
        gone = program->take(win_id);
    }
    // The stream flushes and ends here, outside the map's mutex, unless a
    // call still holds it; then it ends when that call returns.
}

void MediaOutputManager::destroy()
{
    QList<QSharedPointer<NdiOutputStream>> all;
    {
        QMutexLocker lock(&outputs_mutex);
        for (auto& windows : streams)
            for (QSharedPointer<NdiOutputStream>& output : windows) {
                if (output)
                    all << output;
                output.reset();
            }
    }
    // Each ends when the last holder lets go: normally right here.
    for (QSharedPointer<NdiOutputStream>& output : all)
        output->destroy();
    all.clear();
    qDebug() << "MediaOutputManager::destroy done";
}
