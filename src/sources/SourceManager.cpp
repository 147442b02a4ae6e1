#include "SourceManager.h"

#include <QDebug>

SourceManager* SourceManager::instance()
{
    static SourceManager manager;
    return &manager;
}

SourceManager::SourceManager()
{
    setObjectName("source discovery");
}

SourceManager::~SourceManager()
{
    stopDiscover();
}

void SourceManager::load()
{
    qDebug() << "SourceManager::load() done.";
}

void SourceManager::startDiscover()
{
    stopRequested = false;
    start(QThread::InheritPriority);
}

void SourceManager::stopDiscover()
{
    stopRequested = true;
    quit();
    wait();
}

std::shared_ptr<MediaConnection> SourceManager::getConnection(const QString& name)
{
    Q_UNUSED(name)
    return nullptr;
}
