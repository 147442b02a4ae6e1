#pragma once
// OpenGLRenderNode: the scene-graph node that draws one video tile: the
// tile's packed UYVY 4:2:2 picture converted to RGB on the GPU, fitted into
// the tile with its aspect kept (black bars around it), optionally rotated,
// optionally with a dimmed safe area and a transition towards a second
// picture, and over it a line overlay (border, centre cross, safe-area frame,
// tally corners).
//
// Each texture texel holds one UYVY macropixel (U, Y0, V, Y1), so a texture
// is half the picture's width and every output pixel costs one texel fetch.
// Uploads follow the frame's line stride; frames whose lines cannot be read
// in place (odd width, odd padding) are repacked row by row, so nothing past
// a frame's data is ever read. A frame is uploaded once, when it is new; a
// tile showing the frame another tile of the same window holds in its
// texture draws that texture (see DrawnTiles, VideoTexture).
//
// Owner: the scene graph (created by its VideoRender in updatePaintNode, and
// destroyed at a later sync or when the scene is invalidated). Thread: the
// window's render thread, with the window's OpenGL context current in every
// call, the destructor included. Everything the item hands over goes through
// the shared RenderNodeInput; the node never calls the item except through
// the pass callback held there.
#include "RenderNodeInput.h"
#include "VideoTexture.h"

#include <QOpenGLShaderProgram>
#include <QRectF>
#include <QSGRenderNode>
#include <qopengl.h>

#include <memory>
#include <vector>

class QOpenGLExtraFunctions;
class QQuickItem;

class OpenGLRenderNode : public QSGRenderNode {
public:
    explicit OpenGLRenderNode(std::shared_ptr<RenderNodeInput> input);
    ~OpenGLRenderNode() override;

    StateFlags changedStates() const override;
    void render(const RenderState* state) override;
    void releaseResources() override;
    RenderingFlags flags() const override;
    QRectF rect() const override;

    // Takes the item's size (during the scene graph's sync).
    void sync(QQuickItem* item);

    // Where a picture of aspect `aspect` (width / height) is drawn in a tile
    // of w x h at `angle` degrees: centred, as large as fits.
    static QRectF fitPicture(double aspect, int angle, double w, double h);

private:
    bool makeResources(QOpenGLExtraFunctions* f);
    bool makeLineProgram();
    void logContext();
    void uploadTextures(QOpenGLExtraFunctions* f);
    // The current picture (slot 0): the texture another tile of the window
    // holds this frame in, else an upload.
    bool uploadCurrent(QOpenGLExtraFunctions* f, const std::shared_ptr<const void>& frame, const unsigned char* data,
        int width, int height, int stride, size_t available);
    bool upload(QOpenGLExtraFunctions* f, VideoTexture& texture, GLenum unit, const unsigned char* data, int width,
        int height, int stride, size_t available);
    void drawPicture(QOpenGLExtraFunctions* f, const QMatrix4x4& matrix, const RenderNodeInput::Look& look);
    void drawLines(QOpenGLExtraFunctions* f, const QMatrix4x4& matrix, const RenderNodeInput::Look& look);

    std::shared_ptr<RenderNodeInput> m_input;
    double m_width = 0;
    double m_height = 0;
    double m_frameAspect = 0;

    std::unique_ptr<QOpenGLShaderProgram> m_program;
    std::unique_ptr<QOpenGLShaderProgram> m_lineProgram;
    GLuint m_vao = 0;
    GLuint m_vertexBuffer = 0;
    GLuint m_lineBuffer = 0;
    std::shared_ptr<VideoTexture> m_textures[2];
    bool m_functionsReady = false;

    bool m_nextValid = false;
    bool m_videoValid = false;
    bool m_renderedValid = false;
    bool m_videoUploaded = false;
    // The bus picture last uploaded: a reader faster than its writer gets
    // the same frame again and need not upload it twice.
    std::weak_ptr<VideoFrame> m_lastRendered;
    std::vector<unsigned char> m_repack;
    bool m_badFrameLogged = false;
};
