#include "WindowMultiThreaded.h"

#include <QDebug>
#include <QQmlEngine>

#include <cmath>

WindowMultiThreaded::WindowMultiThreaded()
    : engine(std::make_unique<QQmlEngine>())
{
    qDebug() << "WindowMultiThreaded::WindowMultiThreaded";
}

WindowMultiThreaded::~WindowMultiThreaded() = default;

void WindowMultiThreaded::setId(const QString& proId, const QString& winId)
{
    pro_id = proId;
    win_id = winId;
    qDebug() << "WindowMultiThreaded::setId" << pro_id << win_id;
}

void WindowMultiThreaded::setName(const QString& name)
{
    output_name = name;
}

void WindowMultiThreaded::resize(int w, int h)
{
    const auto even = [](int v) { return v < 0 ? 0 : v - v % 2; };
    scene_width = even(w);
    scene_height = even(h);
}

void WindowMultiThreaded::setFrameRate(double fps)
{
    if (static_cast<int>(std::fabs(frame_rate - fps) * 100) < 1)
        return;
    frame_rate = fps < 0 ? 50.0 : fps;
}

QQmlEngine* WindowMultiThreaded::getQmlEngine() const
{
    return engine.get();
}

void WindowMultiThreaded::loadQmlFile(const QString& path)
{
    if (qml_file.isEmpty())
        qml_file = path;
}

void WindowMultiThreaded::createZtEncoder()
{
    ++encoder_builds;
}

void WindowMultiThreaded::setNDIEnable(bool) { }

void WindowMultiThreaded::setScreenOutEnable(bool) { }

void WindowMultiThreaded::refreshUI()
{
    if (render_enabled)
        ++refresh_count;
}

void WindowMultiThreaded::startRender() { }

void WindowMultiThreaded::stopRender() { }

void WindowMultiThreaded::destroy() { }

void WindowMultiThreaded::enableRender(bool enable)
{
    render_enabled = enable;
}

void WindowMultiThreaded::onProcessPosition(int screenIndex, bool)
{
    screen_index = screenIndex;
}

void WindowMultiThreaded::onProcessLive(const QString& select)
{
    live_select = select;
}
