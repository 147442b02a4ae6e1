#pragma once
// Renders Qt Quick items off screen on the test's thread, the way a window's
// render thread does: a QQuickRenderControl drawing into a framebuffer with a
// depth-stencil attachment in the application's OpenGL format (4.1 core on
// desktop OpenGL), read back as an image after every frame.
//
// Items (or a loaded scene) hang below the window's content item. The
// harness invalidates the scene graph before it deletes them, in the order
// the application's windows go down.
#include "base/Globals.h"
#include "render/SurfaceSetup.h"
#include "render/VideoRender.h"

#include <QImage>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>
#include <QOpenGLFunctions>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickRenderControl>
#include <QQuickWindow>
#include <QSurfaceFormat>
#include <QtQml>

#include <memory>

namespace scene {

inline void registerTypes()
{
    static const bool registered = [] {
        qmlRegisterType<VideoRender>("SceneGraphRendering", 1, 0, "Renderer");
        return true;
    }();
    (void)registered;
}

class OffscreenScene {
public:
    OffscreenScene(int width, int height)
        : m_size(width, height)
    {
        registerTypes();
        m_context.setFormat(SurfaceSetup::applicationFormat());
        m_context.create();
        m_surface.setFormat(m_context.format());
        m_surface.create();
        m_window = std::make_unique<QQuickWindow>(&m_control);
        m_window->setGeometry(0, 0, width, height);
        m_window->contentItem()->setSize(m_size);
        m_window->setColor(Qt::transparent);
        if (!m_engine.incubationController())
            m_engine.setIncubationController(m_window->incubationController());
        m_context.makeCurrent(&m_surface);
        m_control.initialize(&m_context);
        m_fbo = std::make_unique<QOpenGLFramebufferObject>(m_size, QOpenGLFramebufferObject::CombinedDepthStencil);
        m_window->setRenderTarget(m_fbo.get());
    }

    ~OffscreenScene()
    {
        m_context.makeCurrent(&m_surface);
        m_control.invalidate();
        m_fbo.reset();
        m_context.doneCurrent();
        // The items go after the scene graph, as in the application.
        delete m_root;
        m_items.clear();
        // The scene graph hands some of its helpers to deleteLater.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    bool valid() const { return m_context.isValid() && m_fbo && m_fbo->isValid(); }
    QQuickItem* content() const { return m_window->contentItem(); }
    QQmlEngine& engine() { return m_engine; }
    QOpenGLContext& context() { return m_context; }
    QQuickRenderControl& control() { return m_control; }
    bool makeCurrent() { return m_context.makeCurrent(&m_surface); }

    // An item owned by the scene, placed at (x, y, w, h).
    template <typename Item> Item* add(qreal x, qreal y, qreal w, qreal h)
    {
        auto item = std::make_unique<Item>();
        item->setParentItem(content());
        item->setPosition(QPointF(x, y));
        item->setSize(QSizeF(w, h));
        Item* raw = item.get();
        m_items.push_back(std::unique_ptr<QQuickItem>(item.release()));
        return raw;
    }
    // Deletes an item the scene owns (its node goes at the next sync).
    void remove(QQuickItem* item)
    {
        for (auto it = m_items.begin(); it != m_items.end(); ++it) {
            if (it->get() == item) {
                m_items.erase(it);
                return;
            }
        }
    }

    // Loads a QML file as the scene's root, sized to the whole window.
    QQuickItem* load(const QString& path, const QVariantMap& contextProperties)
    {
        for (auto it = contextProperties.cbegin(); it != contextProperties.cend(); ++it)
            m_engine.rootContext()->setContextProperty(it.key(), it.value());
        QQmlComponent component(&m_engine, QUrl::fromLocalFile(path));
        QObject* object = component.create();
        if (!object) {
            for (const QQmlError& error : component.errors())
                qWarning() << error.toString();
            return nullptr;
        }
        m_root = qobject_cast<QQuickItem*>(object);
        m_root->setParentItem(content());
        m_root->setSize(m_size);
        return m_root;
    }
    QQuickItem* root() const { return m_root; }

    // One frame, read back (top row first).
    QImage render()
    {
        m_control.polishItems();
        m_context.makeCurrent(&m_surface);
        m_control.sync();
        m_control.render();
        m_context.functions()->glFlush();
        return m_fbo->toImage().convertToFormat(QImage::Format_RGB32);
    }

private:
    QSize m_size;
    QOpenGLContext m_context;
    QOffscreenSurface m_surface;
    QQuickRenderControl m_control;
    std::unique_ptr<QQuickWindow> m_window;
    QQmlEngine m_engine;
    std::unique_ptr<QOpenGLFramebufferObject> m_fbo;
    std::vector<std::unique_ptr<QQuickItem>> m_items;
    QQuickItem* m_root = nullptr;
};

// BT.709 limited-range UYVY of an RGB colour (0..255), as the sources send it.
struct Uyvy {
    uint8_t y, u, v;
};
inline Uyvy toUyvy(int r, int g, int b)
{
    const double R = r / 255.0, G = g / 255.0, B = b / 255.0;
    const double Y = 0.2126 * R + 0.7152 * G + 0.0722 * B;
    const double U = (B - Y) / 1.8556, V = (R - Y) / 1.5748;
    const auto clampByte = [](double v) { return uint8_t(std::max(0.0, std::min(255.0, std::round(v)))); };
    return { clampByte(16 + 219 * Y), clampByte(128 + 224 * U), clampByte(128 + 224 * V) };
}

// Fills packed UYVY bytes with one colour.
template <typename Bytes> void fillFlat(Bytes& bytes, const QColor& colour)
{
    const Uyvy yuv = toUyvy(colour.red(), colour.green(), colour.blue());
    for (size_t i = 0; i + 3 < bytes.size(); i += 4) {
        bytes[i] = yuv.u;
        bytes[i + 1] = yuv.y;
        bytes[i + 2] = yuv.v;
        bytes[i + 3] = yuv.y;
    }
}

// Channels of two colours within tolerance.
inline bool near(QRgb a, const QColor& b, int tolerance = 6)
{
    return std::abs(qRed(a) - b.red()) <= tolerance && std::abs(qGreen(a) - b.green()) <= tolerance
        && std::abs(qBlue(a) - b.blue()) <= tolerance;
}

} // namespace scene
