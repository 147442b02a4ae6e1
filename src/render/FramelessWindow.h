#pragma once
// FramelessWindow: the on-screen output of one window. A frameless top-level
// window with its own GL context (sharing with the window's render context)
// that draws the last finished frame letterboxed to the picture's aspect
// ratio; dragged by its centre, full screen on a double-click.
//
// Owner: its WindowMultiThreaded. Thread: GUI thread only; it paints only
// through render(), never on its own.
#include <QMutex>
#include <QOpenGLFunctions>
#include <QPoint>
#include <QRect>
#include <QWindow>

#include <memory>

class QOpenGLBuffer;
class QOpenGLContext;
class QOpenGLShaderProgram;
class QOpenGLVertexArrayObject;

class FramelessWindow : public QWindow, private QOpenGLFunctions {
    Q_OBJECT
public:
    explicit FramelessWindow(QOpenGLContext* shareContext);
    ~FramelessWindow() override;

    bool event(QEvent* e) override;
    QSize size() const override { return geometry().size(); }

    // Draws one frame of texture (0 draws the background only).
    virtual void render(unsigned texture);
    virtual void initialize();

    void setVideoRatio(float ratio);
    void setScreenGeometry(const QRect& geometry) { screen_geometry = geometry; }
    QRect screenGeometry() const { return screen_geometry; }
    void setCloseEnable(bool enable) { close_enable = enable; }
    void setFullscreenEnable(bool enable) { fullscreen_enable = enable; }
    void setFullscreenState(bool state) { fullscreen_state = state; }
    QRect getVideoRect() const { return video_rect; }
    float videoRatio() const { return video_ratio; }
    // The mouse region of a point: row (10, 20, 30) + column (1, 2, 3).
    int regionAt(const QPoint& p) const;
    static qint64 getSystemTime();

protected:
    void exposeEvent(QExposeEvent*) override { }
    void resizeEvent(QResizeEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;

private:
    void resizeVideoRect();

    std::unique_ptr<QOpenGLShaderProgram> program;
    QOpenGLContext* share_context = nullptr;
    std::unique_ptr<QOpenGLVertexArrayObject> vao;
    std::unique_ptr<QOpenGLBuffer> vbo;
    int matrix_uniform = -1;
    std::unique_ptr<QOpenGLContext> own_context;
    QPoint press_pos;
    bool dragging = false;
    QPoint press_global;
    int press_region = 22;
    QRect screen_geometry;
    QRect video_rect;
    float video_ratio = 1.7f;
    bool close_enable = false;
    bool fullscreen_enable = false;
    bool fullscreen_state = false;
};
