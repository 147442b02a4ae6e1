#include "ProjectObject.h"

#include "LayoutTemplate.h"
#include "Preset.h"

// Interim bodies: the program object's storage and windows follow.

bool compareData(const QString& a, const QString& b)
{
    return a.toUInt(nullptr, 10) < b.toUInt(nullptr, 10);
}

ProjectObject::ProjectObject(QRecursiveMutex* modelLock)
    : modelLock(modelLock)
    , layoutTemplate(new LayoutTemplate)
{
}

ProjectObject::~ProjectObject()
{
    delete layoutTemplate;
}

void ProjectObject::setPath(const QString& p) { path = p; }
void ProjectObject::setWebUrl(const QString& url) { webUrl = url; }
void ProjectObject::setName(const QString& n) { name = n; }
void ProjectObject::setParams(const QString& id, const QString& n, double w, double h, double fps)
{
    pro_id = id;
    name = n;
    width = w;
    height = h;
    frameRate = fps;
}
void ProjectObject::getParams(double& w, double& h, double& fps) const
{
    w = width;
    h = height;
    fps = frameRate;
}
void ProjectObject::setAspect(int i, double a)
{
    index = i;
    aspect = a;
}
void ProjectObject::getAspect(int& i, double& a) const
{
    i = index;
    a = aspect;
}
void ProjectObject::write(QJsonObject&) const { }
bool ProjectObject::read(const QJsonObject&) { return false; }
bool ProjectObject::load() { return true; }
bool ProjectObject::save() { return true; }
bool ProjectObject::saveWindow(const QString&) { return false; }
bool ProjectObject::savePreset(const QString&) { return false; }
void ProjectObject::createAudioMixers() { }
void ProjectObject::createWindows() { }
void ProjectObject::changeAudioDevice(QAudioDeviceInfo) { }
void ProjectObject::destroy() { }
QSharedPointer<WindowObject> ProjectObject::getWindow(const QString&) const { return {}; }
QSharedPointer<Preset> ProjectObject::getPreset(const QString&) const { return {}; }
QString ProjectObject::getWinLayoutId(const QString&) const { return {}; }
QString ProjectObject::getFirstWinId() const { return {}; }
QJsonObject ProjectObject::getWindowList() const { return {}; }
QJsonObject ProjectObject::getLayoutList() const { return {}; }
QJsonObject ProjectObject::getLayoutParams(const QString&) const { return {}; }
QJsonObject ProjectObject::getControlState(const QString&) const { return {}; }
QJsonObject ProjectObject::getOutputType(const QString&) const { return {}; }
QJsonObject ProjectObject::getWinPosition(const QString&) const { return {}; }
bool ProjectObject::checkIsDuplicateRange(const QString&, int, int) const { return false; }
bool ProjectObject::setWindow(const QJsonObject&, QString) { return false; }
bool ProjectObject::onProcessClose(const QJsonObject&) { return false; }
void ProjectObject::onWindowChanged(WINDOWTYPE, const QString&) { }
void ProjectObject::onGridChanged(GRIDTYPE, const QString&) { }
void ProjectObject::onPresetChanged(PRESETTYPE, const QString&) { }
QSharedPointer<WindowObject> ProjectObject::makeWindow(const QString&, const QString&) { return {}; }
void ProjectObject::removeFile(const QString&) const { }
