#include "MediaOutputManager.h"

#include "VideoFrame.h"

MediaOutputManager& MediaOutputManager::instance()
{
    static MediaOutputManager manager;
    return manager;
}

void MediaOutputManager::setWebControl(const QString& pro_id, const QString& win_id, const QString& url)
{
    QMutexLocker lock(&outputs_mutex);
    web_controls.insert({ pro_id, win_id }, url);
}

QString MediaOutputManager::getWebControl(const QString& pro_id, const QString& win_id) const
{
    QMutexLocker lock(&outputs_mutex);
    return web_controls.value({ pro_id, win_id });
}

// The output streams themselves are not built yet: sends are accepted and
// dropped, so the renderer and the mixers can call them already.
void MediaOutputManager::sendNDIVideo(const QString&, const QString&, std::shared_ptr<VideoFrame>,
    const QString&, NDIlib_FourCC_video_type_e)
{
}

void MediaOutputManager::sendNDIAudio(const QString&, const QString&, const short*, int, int, int)
{
}

void MediaOutputManager::setNDIEnable(const QString&, const QString&, bool)
{
}

void MediaOutputManager::removeItem(const QString& pro_id, const QString& win_id)
{
    QMutexLocker lock(&outputs_mutex);
    web_controls.remove({ pro_id, win_id });
}
