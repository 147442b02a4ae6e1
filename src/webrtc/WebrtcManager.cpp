#include "WebrtcManager.h"

#include <QDebug>

WebrtcManager* WebrtcManager::instance()
{
    static WebrtcManager manager;
    return &manager;
}

void WebrtcManager::init()
{
    m_running = true;
}

void WebrtcManager::destroy()
{
    m_running = false;
}

void WebrtcManager::switchWindow(const QString& pro_id, const QString& win_id, const QString& session_id)
{
    // There are no sessions to bind yet: every session id is unknown.
    qDebug() << "switchWindow" << pro_id << win_id << session_id;
    qDebug() << "switchWindow done";
}

void WebrtcManager::sendVideo(const QString&, const QString&, const char*, int, uint32_t, int, int)
{
    // No sessions yet: nothing to send to.
}
