#include "FramelessWindow.h"

#include <QDateTime>
#include <QDebug>
#include <QMatrix4x4>
#include <QMouseEvent>
#include <QOpenGLBuffer>
#include <QOpenGLContext>
#include <QOpenGLShaderProgram>
#include <QOpenGLVertexArrayObject>
#include <QResizeEvent>

namespace {

const char* const kVertexShader = R"(#version 410 core
in vec4 vertex;
in vec2 coord;
uniform mat4 matrix;
out vec2 v_coord;
void main()
{
    gl_Position = matrix * vertex;
    v_coord = coord;
}
)";

const char* const kFragmentShader = R"(#version 410 core
in vec2 v_coord;
out vec4 fragColor;
uniform sampler2D sampler;
void main()
{
    fragColor = vec4(texture(sampler, v_coord).rgb, 1.0);
}
)";

Qt::CursorShape cursorFor(int region)
{
    switch (region) {
    case 11:
    case 33:
        return Qt::SizeFDiagCursor;
    case 12:
    case 32:
        return Qt::SizeVerCursor;
    case 13:
    case 31:
        return Qt::SizeBDiagCursor;
    case 21:
    case 23:
        return Qt::SizeHorCursor;
    default:
        return Qt::ArrowCursor;
    }
}

} // namespace

FramelessWindow::FramelessWindow(QOpenGLContext* shareContext)
    : share_context(shareContext)
{
    setSurfaceType(QSurface::OpenGLSurface);
    setFlags(Qt::Window | Qt::FramelessWindowHint);
}

FramelessWindow::~FramelessWindow()
{
    // GL objects go with their own context current.
    if (own_context && own_context->makeCurrent(this)) {
        vao.reset();
        vbo.reset();
        program.reset();
        own_context->doneCurrent();
    }
}

qint64 FramelessWindow::getSystemTime()
{
    return QDateTime::currentMSecsSinceEpoch();
}

bool FramelessWindow::event(QEvent* e)
{
    if (e->type() == QEvent::UpdateRequest)
        return true;
    if (e->type() == QEvent::Close && !close_enable) {
        e->ignore();
        return true;
    }
    return QWindow::event(e);
}

void FramelessWindow::setVideoRatio(float ratio)
{
    if (ratio == video_ratio)
        return;
    video_ratio = ratio;
    resizeVideoRect();
}

void FramelessWindow::resizeVideoRect()
{
    if (video_ratio <= 0)
        return;
    const float W = float(width());
    const float H = float(height());
    float w = W;
    float h = W / video_ratio;
    if (!(h < H)) {
        h = H;
        w = video_ratio * H;
    }
    const float x = (W - w) / 2;
    const float y = (H - h) / 2;
    video_rect = QRect(int(x), int(y), int(w), int(h));
}

void FramelessWindow::resizeEvent(QResizeEvent* e)
{
    qDebug() << "oldSize :" << e->oldSize() << " new size :" << e->size();
    resizeVideoRect();
}

int FramelessWindow::regionAt(const QPoint& p) const
{
    const int W = width();
    const int H = height();
    const int column = p.x() < 21 ? 1 : (p.x() >= W - 22 ? 3 : 2);
    const int row = p.y() < 12 ? 10 : (p.y() >= H - 31 ? 30 : 20);
    return row + column;
}

void FramelessWindow::mousePressEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton)
        return;
    dragging = true;
    press_pos = e->localPos().toPoint();
    press_global = e->screenPos().toPoint();
    press_region = regionAt(press_pos);
    setCursor(cursorFor(press_region));
}

void FramelessWindow::mouseReleaseEvent(QMouseEvent*)
{
    dragging = false;
}

void FramelessWindow::mouseMoveEvent(QMouseEvent* e)
{
    if (windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen))
        return;
    if (e->buttons() != Qt::LeftButton || !dragging || press_region != 22)
        return;
    const QPoint global = e->screenPos().toPoint();
    setPosition(global.x() - press_pos.x(), global.y() - press_pos.y());
}

void FramelessWindow::mouseDoubleClickEvent(QMouseEvent*)
{
    if (fullscreen_state) {
        setWindowState(Qt::WindowNoState);
        setWindowState(Qt::WindowActive);
        show();
        fullscreen_state = false;
    } else {
        setWindowState(Qt::WindowFullScreen);
        show();
        close_enable = false;
        fullscreen_state = true;
    }
    dragging = false;
}

void FramelessWindow::initialize()
{
    if (!own_context) {
        own_context = std::make_unique<QOpenGLContext>();
        own_context->setShareContext(share_context);
        own_context->setFormat(share_context ? share_context->format() : requestedFormat());
        own_context->create();
    }
    if (!own_context->makeCurrent(this))
        return;
    glClearColor(0.0f, 0.1f, 0.25f, 1.0f);
    glViewport(0, 0, width(), height());

    program = std::make_unique<QOpenGLShaderProgram>();
    program->addShaderFromSourceCode(QOpenGLShader::Vertex, kVertexShader);
    program->addShaderFromSourceCode(QOpenGLShader::Fragment, kFragmentShader);
    program->bindAttributeLocation("vertex", 0);
    program->bindAttributeLocation("coord", 1);
    if (!program->link())
        qWarning() << "FramelessWindow: shader link failed" << program->log();
    matrix_uniform = program->uniformLocation("matrix");

    static const float quad[16] = { -1, -1, -1, 1, 1, -1, 1, 1, 0, 0, 0, 1, 1, 0, 1, 1 };
    vao = std::make_unique<QOpenGLVertexArrayObject>();
    vao->create();
    vao->bind();
    vbo = std::make_unique<QOpenGLBuffer>(QOpenGLBuffer::VertexBuffer);
    vbo->create();
    vbo->bind();
    vbo->allocate(quad, sizeof(quad));
    glEnableVertexAttribArray(0);
    glEnableVertexAttribArray(1);
    glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, 0, nullptr);
    glVertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, 0, reinterpret_cast<void*>(32));
    vao->release();
    vbo->release();
}

void FramelessWindow::render(unsigned texture)
{
    if (!isExposed() || !isVisible())
        return;
    if (!own_context) {
        own_context = std::make_unique<QOpenGLContext>();
        own_context->setShareContext(share_context);
        own_context->setFormat(requestedFormat());
        if (!own_context->create())
            return;
        if (!own_context->makeCurrent(this))
            return;
        initializeOpenGLFunctions();
        initialize();
    } else if (!own_context->makeCurrent(this)) {
        return;
    }
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    const qreal dpr = devicePixelRatio();
    glViewport(int(video_rect.x() * dpr), int(video_rect.y() * dpr), int(video_rect.width() * dpr),
        int(video_rect.height() * dpr));
    if (texture != 0 && program && program->isLinked()) {
        glActiveTexture(GL_TEXTURE0);
        glBindTexture(GL_TEXTURE_2D, texture);
        glDisable(GL_CULL_FACE);
        glDisable(GL_DEPTH_TEST);
        glDisable(GL_BLEND);
        program->bind();
        program->setUniformValue(matrix_uniform, QMatrix4x4());
        program->setUniformValue("sampler", 0);
        vao->bind();
        glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
        vao->release();
        program->release();
        glBindTexture(GL_TEXTURE_2D, 0);
    }
    own_context->swapBuffers(this);
    if (fullscreen_enable && fullscreen_state)
        setWindowState(Qt::WindowFullScreen);
}
