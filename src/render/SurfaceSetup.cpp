#include "SurfaceSetup.h"

#include <QCoreApplication>
#include <QOpenGLContext>
#include <QQuickWindow>
#include <QSGRendererInterface>

namespace SurfaceSetup {

QSurfaceFormat applicationFormat()
{
    QSurfaceFormat format = QSurfaceFormat::defaultFormat();
    if (QOpenGLContext::openGLModuleType() == QOpenGLContext::LibGL) {
        format.setVersion(4, 1);
        format.setProfile(QSurfaceFormat::CoreProfile);
    }
    format.setDepthBufferSize(16);
    format.setStencilBufferSize(8);
    return format;
}

void applyBeforeApplication()
{
    QQuickWindow::setSceneGraphBackend(QSGRendererInterface::OpenGL);
    QCoreApplication::setAttribute(Qt::AA_DisableShaderDiskCache);
    QSurfaceFormat::setDefaultFormat(applicationFormat());
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}

} // namespace SurfaceSetup
