#include "MediaOutputManager.h"

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
