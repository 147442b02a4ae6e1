#include "OpenGLRenderNode.h"

#include "DrawnTiles.h"
#include "media/VideoFrame.h"

#include <QDebug>
#include <QOpenGLContext>
#include <QOpenGLExtraFunctions>
#include <QQuickItem>

#include <cmath>
#include <cstring>

namespace {

// Vertex buffer: 4 positions (vec2) then 4 picture coordinates (vec2).
constexpr int kVertexBufferBytes = 64;
// Line buffer: up to 36 positions (vec2) then 36 colours (vec4).
constexpr int kLineVertices = 36;
constexpr int kLineColourOffset = kLineVertices * 2 * int(sizeof(float));
constexpr int kLineBufferBytes = kLineColourOffset + kLineVertices * 4 * int(sizeof(float));
constexpr double kDegree = 0.017453292;

const char* kVertexShader = R"(
in vec2 vertex;
uniform mat4 matrix;
uniform vec4 picture; // x, y, width, height of the picture in item coordinates
out vec2 q;
void main()
{
    q = (vertex - picture.xy) / picture.zw;
    gl_Position = matrix * vec4(vertex, 0.0, 1.0);
}
)";

// One texel holds a macropixel (U, Y0, V, Y1): each pixel is one fetch.
// Colour: BT.709, limited range.
const char* kFragmentShader = R"(
in vec2 q;
out vec4 fragColor;
uniform sampler2D preTexture;
uniform sampler2D nextTexture;
uniform vec2 preSize;
uniform vec2 nextSize;
uniform int video_valid;
uniform int fbo_valid;
uniform int next_video_valid;
uniform float next_video_alpha;
uniform int trans_type;
uniform float speed;
uniform float startingAngle;
uniform vec2 safe_area;
uniform vec2 safeline_thick;
uniform float safe_alpha;
uniform mat2 rotation;

vec4 pictureAt(sampler2D tex, vec2 size, vec2 p)
{
    ivec2 pixel = ivec2(clamp(floor(p * size), vec2(0.0), size - vec2(1.0)));
    vec4 t = texelFetch(tex, ivec2(pixel.x / 2, pixel.y), 0);
    float y = (pixel.x % 2) == 1 ? t.a : t.g;
    float u = t.r;
    float v = t.b;
    vec3 rgb = vec3(1.164 * y + 1.793 * v - 0.9731,
                    1.164 * y - 0.213 * u - 0.533 * v + 0.3014,
                    1.164 * y + 2.112 * u - 1.1331);
    vec4 colour = vec4(clamp(rgb, 0.0, 1.0), 1.0);
    if (p.x < safe_area.x || p.x > 1.0 - safe_area.x + safeline_thick.x
        || p.y < safe_area.y || p.y > 1.0 - safe_area.y + safeline_thick.y)
        colour *= safe_alpha;
    return colour;
}

void main()
{
    vec4 black = vec4(0.0, 0.0, 0.0, 1.0);
    if (q.x < 0.0 || q.x > 1.0 || q.y < 0.0 || q.y > 1.0) {
        fragColor = black; // letterbox or pillarbox bar
        return;
    }
    vec2 p = rotation * (q - vec2(0.5)) + vec2(0.5);
    vec4 from = (video_valid != 0 || fbo_valid != 0) ? pictureAt(preTexture, preSize, p) : black;
    vec4 to = next_video_valid != 0 ? pictureAt(nextTexture, nextSize, p) : black;
    float progress = next_video_alpha;
    const float PI = 3.141592653589;
    if (trans_type == 2) { // pinwheel
        float c = atan(p.y - 0.5, p.x - 0.5) + progress * speed;
        float m = mod(c, 3.1415 / 4.0);
        fragColor = sign(progress - m) > 0.5 ? to : from;
    } else if (trans_type == 3) { // angular
        float a = fract((atan(p.y - 0.5, p.x - 0.5) + startingAngle * PI / 180.0 + PI) / (2.0 * PI));
        fragColor = a <= progress ? to : from;
    } else if (trans_type == 4) { // wipe right
        fragColor = p.x <= progress ? to : from;
    } else if (trans_type == 5) { // wipe left
        fragColor = 1.0 - p.x <= progress ? to : from;
    } else if (trans_type == 6) { // wipe down
        fragColor = 1.0 - p.y <= progress ? to : from;
    } else if (trans_type == 7) { // wipe up
        fragColor = p.y <= progress ? to : from;
    } else { // mix, also for any type outside the list, so every pixel is written
        fragColor = mix(from, to, progress);
    }
}
)";

const char* kLineVertexShader = R"(
in vec2 posAttr;
in vec4 colAttr;
out vec4 col;
uniform mat4 matrix;
void main()
{
    col = colAttr;
    gl_Position = matrix * vec4(posAttr, 0.0, 1.0);
}
)";

const char* kLineFragmentShader = R"(
in vec4 col;
out vec4 fragColor;
void main()
{
    fragColor = col;
}
)";

QByteArray glslSource(const char* body)
{
    const QOpenGLContext* context = QOpenGLContext::currentContext();
    const QByteArray version
        = context && context->isOpenGLES() ? "#version 300 es\nprecision highp float;\n" : "#version 410\n";
    return version + body;
}

// Scene graph blending is premultiplied.
void addLine(std::vector<float>& positions, std::vector<float>& colours, QPointF a, QPointF b, const QColor& colour)
{
    const float alpha = float(colour.alphaF());
    for (const QPointF& point : { a, b }) {
        positions.push_back(float(point.x()));
        positions.push_back(float(point.y()));
        colours.push_back(float(colour.redF()) * alpha);
        colours.push_back(float(colour.greenF()) * alpha);
        colours.push_back(float(colour.blueF()) * alpha);
        colours.push_back(alpha);
    }
}

} // namespace

OpenGLRenderNode::OpenGLRenderNode(std::shared_ptr<RenderNodeInput> input)
    : m_input(std::move(input))
{
}

OpenGLRenderNode::~OpenGLRenderNode()
{
    releaseResources();
}

QSGRenderNode::StateFlags OpenGLRenderNode::changedStates() const
{
    return StencilState | ScissorState | BlendState;
}

QSGRenderNode::RenderingFlags OpenGLRenderNode::flags() const
{
    return BoundedRectRendering | DepthAwareRendering;
}

QRectF OpenGLRenderNode::rect() const
{
    return QRectF(0, 0, int(m_width), int(m_height));
}

void OpenGLRenderNode::sync(QQuickItem* item)
{
    m_width = item->width();
    m_height = item->height();
}

QRectF OpenGLRenderNode::fitPicture(double aspect, int angle, double w, double h)
{
    if (aspect <= 0)
        return QRectF(0, 0, w, h);
    if (angle == 90 || angle == 270)
        aspect = 1 / aspect;
    double fitW, fitH;
    if (float(w / aspect) < float(h)) {
        fitW = w;
        fitH = float(w / aspect);
    } else {
        fitW = aspect * float(h);
        fitH = h;
    }
    return QRectF(w / 2 - fitW / 2, h / 2 - fitH / 2, fitW, fitH);
}

// Every GL object goes here, with the context current: the scene graph
// destroys the node with its context current, and also asks for the release
// without destroying. Textures go too; each layout change makes new nodes.
void OpenGLRenderNode::releaseResources()
{
    m_program.reset();
    m_lineProgram.reset();
    QOpenGLContext* context = QOpenGLContext::currentContext();
    if (!context) {
        if (m_vao || m_vertexBuffer || m_lineBuffer)
            qWarning() << "OpenGLRenderNode released without a current context; its GL objects are lost";
    } else {
        QOpenGLExtraFunctions* f = context->extraFunctions();
        if (m_vao)
            f->glDeleteVertexArrays(1, &m_vao);
        for (GLuint* buffer : { &m_vertexBuffer, &m_lineBuffer }) {
            if (*buffer)
                f->glDeleteBuffers(1, buffer);
        }
    }
    m_vao = m_vertexBuffer = m_lineBuffer = 0;
    // A texture another tile still draws stays with that tile.
    m_textures[0].reset();
    m_textures[1].reset();
    m_functionsReady = false;
    m_videoUploaded = false;
    m_lastRendered.reset();
    m_input->takeFrames();
}

void OpenGLRenderNode::logContext()
{
    const QOpenGLContext* context = QOpenGLContext::currentContext();
    const QSurfaceFormat format = context->format();
    const char* profile = format.profile() == QSurfaceFormat::CoreProfile ? "CoreProfile"
        : format.profile() == QSurfaceFormat::CompatibilityProfile        ? "CompatibilityProfile"
                                                                          : "NoProfile";
    QOpenGLFunctions* f = context->functions();
    qDebug() << "print opengl version :" << (context->isOpenGLES() ? "OpenGL ES" : "OpenGL")
             << reinterpret_cast<const char*>(f->glGetString(GL_VERSION)) << "(" << profile << ")"
             << " current version is 330";
    qDebug() << "opengl vendor :" << reinterpret_cast<const char*>(f->glGetString(GL_VENDOR));
}

bool OpenGLRenderNode::makeResources(QOpenGLExtraFunctions* f)
{
    if (!m_functionsReady) {
        f->initializeOpenGLFunctions();
        m_functionsReady = true;
    }
    if (!m_program) {
        auto program = std::make_unique<QOpenGLShaderProgram>();
        program->addShaderFromSourceCode(QOpenGLShader::Vertex, glslSource(kVertexShader));
        program->addShaderFromSourceCode(QOpenGLShader::Fragment, glslSource(kFragmentShader));
        program->bindAttributeLocation("vertex", 0);
        if (program->link())
            m_program = std::move(program);
        else
            qWarning() << "video program does not link:" << program->log();
        logContext();
    }
    if (!m_vao)
        f->glGenVertexArrays(1, &m_vao);
    if (!m_vertexBuffer) {
        f->glGenBuffers(1, &m_vertexBuffer);
        f->glBindBuffer(GL_ARRAY_BUFFER, m_vertexBuffer);
        f->glBufferData(GL_ARRAY_BUFFER, kVertexBufferBytes, nullptr, GL_DYNAMIC_DRAW);
        f->glBindBuffer(GL_ARRAY_BUFFER, 0);
    }
    for (std::shared_ptr<VideoTexture>& texture : m_textures) {
        if (!texture)
            texture = VideoTexture::make(f);
    }
    return m_program && m_vao && m_vertexBuffer;
}

bool OpenGLRenderNode::makeLineProgram()
{
    if (m_lineProgram)
        return true;
    auto program = std::make_unique<QOpenGLShaderProgram>();
    program->addShaderFromSourceCode(QOpenGLShader::Vertex, glslSource(kLineVertexShader));
    program->addShaderFromSourceCode(QOpenGLShader::Fragment, glslSource(kLineFragmentShader));
    program->bindAttributeLocation("posAttr", 0);
    program->bindAttributeLocation("colAttr", 1);
    if (!program->link()) {
        qWarning() << "line program does not link:" << program->log();
        return false;
    }
    m_lineProgram = std::move(program);
    return true;
}

void OpenGLRenderNode::render(const RenderState* state)
{
    QOpenGLContext* context = QOpenGLContext::currentContext();
    if (!context)
        return;
    QOpenGLExtraFunctions* f = context->extraFunctions();
    if (!makeResources(f)) {
        qWarning() << "OpenGL resources not initialized";
        return;
    }
    if (m_width <= 0 || m_height <= 0)
        return;

    // The item pulls its newest frames just before they are uploaded, unless
    // its window ran the pass ahead to see whether anything changed.
    m_input->runPassOnce();
    m_input->takeChanged();
    if (DrawnTiles* tiles = DrawnTiles::current())
        tiles->add(m_input);

    GLint previousVao = 0;
    f->glGetIntegerv(GL_VERTEX_ARRAY_BINDING, &previousVao);
    f->glBindVertexArray(m_vao);

    uploadTextures(f);
    const QMatrix4x4 matrix = *state->projectionMatrix() * *this->matrix();
    const RenderNodeInput::Look look = m_input->look();
    f->glEnable(GL_BLEND);
    f->glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
    drawPicture(f, matrix, look);
    drawLines(f, matrix, look);

    f->glBindBuffer(GL_ARRAY_BUFFER, 0);
    f->glBindVertexArray(GLuint(previousVao));
    f->glActiveTexture(GL_TEXTURE0);
}

void OpenGLRenderNode::uploadTextures(QOpenGLExtraFunctions* f)
{
    while (f->glGetError() != GL_NO_ERROR) { }
    const RenderNodeInput::Frames frames = m_input->takeFrames();
    m_nextValid = frames.nextState == RenderNodeInput::kSet;
    m_videoValid = frames.currentState == RenderNodeInput::kSet;
    m_renderedValid = !m_videoValid && frames.renderedState == RenderNodeInput::kSet;
    if (!m_nextValid && !m_videoValid && !m_renderedValid)
        return;

    double aspect = -1;
    if (m_videoValid) {
        if (frames.current) {
            const Media_video_frame_t& frame = frames.current->frame;
            if (frame.yres > 0) {
                aspect = double(frame.xres) / frame.yres;
                const bool singleField = frame.frame_format_type == NDIlib_frame_format_type_field_0
                    || frame.frame_format_type == NDIlib_frame_format_type_field_1;
                if (singleField && frame.picture_aspect_ratio > 0 && aspect - frame.picture_aspect_ratio > 0.1)
                    aspect = frame.picture_aspect_ratio;
            }
            if (frame.p_data && frame.yres > 0 && frame.xres > 0) {
                const int stride = frame.line_stride_in_bytes > 0 ? frame.line_stride_in_bytes : frame.xres * 2;
                if (uploadCurrent(f, frames.current, frame.p_data, frame.xres, frame.yres, stride,
                        size_t(stride) * size_t(frame.yres)))
                    m_videoUploaded = true;
            }
        }
    } else if (m_renderedValid && frames.rendered) {
        const VideoFrame& frame = *frames.rendered;
        if (frame.height() > 0)
            aspect = double(frame.width()) / frame.height();
        const bool again = m_lastRendered.lock() == frames.rendered;
        if (!again && frame.data() && frame.size() > 0) {
            if (uploadCurrent(f, frames.rendered, frame.data(), int(frame.width()), int(frame.height()),
                    int(frame.stride()), frame.size()))
                m_lastRendered = frames.rendered;
        }
    }
    if (aspect > 0 && std::fabs(m_frameAspect - aspect) > 0.001)
        m_frameAspect = aspect;

    if (m_nextValid && frames.next) {
        const Media_video_frame_t& frame = frames.next->frame;
        if (frame.p_data && frame.yres > 0 && frame.xres > 0) {
            const int stride = frame.line_stride_in_bytes > 0 ? frame.line_stride_in_bytes : frame.xres * 2;
            upload(f, *m_textures[1], GL_TEXTURE1, frame.p_data, frame.xres, frame.yres, stride,
                size_t(stride) * size_t(frame.yres));
        }
    }
    m_videoValid = m_videoValid && m_videoUploaded;
    f->glActiveTexture(GL_TEXTURE0);
}

bool OpenGLRenderNode::uploadCurrent(QOpenGLExtraFunctions* f, const std::shared_ptr<const void>& frame,
    const unsigned char* data, int width, int height, int stride, size_t available)
{
    DrawnTiles* tiles = DrawnTiles::current();
    if (tiles) {
        if (std::shared_ptr<VideoTexture> shared = tiles->uploaded(frame)) {
            m_textures[0] = std::move(shared);
            return true;
        }
    }
    // The texture still holds another tile's picture too: that tile keeps it.
    if (m_textures[0].use_count() > 1)
        m_textures[0] = VideoTexture::make(f);
    m_textures[0]->frame.reset();
    if (!upload(f, *m_textures[0], GL_TEXTURE0, data, width, height, stride, available))
        return false;
    m_textures[0]->frame = frame;
    if (tiles)
        tiles->addUploaded(m_textures[0]);
    return true;
}

bool OpenGLRenderNode::upload(QOpenGLExtraFunctions* f, VideoTexture& texture, GLenum unit, const unsigned char* data,
    int width, int height, int stride, size_t available)
{
    const size_t rowBytes = size_t(width) * 2;
    if (stride < int(rowBytes) || available < size_t(stride) * size_t(height - 1) + rowBytes) {
        if (!m_badFrameLogged)
            qWarning() << "frame not drawn: width" << width << "height" << height << "stride" << stride << "bytes"
                       << available;
        m_badFrameLogged = true;
        return false;
    }
    const int texWidth = (width + 1) / 2;
    const unsigned char* pixels = data;
    int rowLength = stride / 4;
    // In place only when every row holds whole texels at a texel-aligned
    // stride; otherwise rows are copied, and an odd last pixel gets the V of
    // its left neighbour, so no byte past a row's width * 2 is read.
    if (width % 2 != 0 || stride % 4 != 0) {
        const size_t texRow = size_t(texWidth) * 4;
        m_repack.resize(texRow * size_t(height));
        for (int y = 0; y < height; ++y) {
            unsigned char* out = m_repack.data() + texRow * size_t(y);
            const unsigned char* in = data + size_t(stride) * size_t(y);
            std::memcpy(out, in, rowBytes);
            if (width % 2 != 0) {
                out[rowBytes] = width >= 3 ? in[rowBytes - 4] : 128;
                out[rowBytes + 1] = in[rowBytes - 1];
            }
        }
        pixels = m_repack.data();
        rowLength = texWidth;
    }
    f->glActiveTexture(unit);
    f->glBindTexture(GL_TEXTURE_2D, texture.id);
    f->glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    f->glPixelStorei(GL_UNPACK_ROW_LENGTH, rowLength);
    if (texture.texWidth != texWidth || texture.texHeight != height) {
        f->glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, texWidth, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, pixels);
        texture.texWidth = texWidth;
        texture.texHeight = height;
    } else {
        f->glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, texWidth, height, GL_RGBA, GL_UNSIGNED_BYTE, pixels);
    }
    f->glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    texture.pixelWidth = width;
    texture.pixelHeight = height;
    return true;
}

void OpenGLRenderNode::drawPicture(
    QOpenGLExtraFunctions* f, const QMatrix4x4& matrix, const RenderNodeInput::Look& look)
{
    const bool anyPicture = m_videoValid || m_renderedValid;
    const bool anyValid = anyPicture || m_nextValid;
    const QRectF fit = fitPicture(m_frameAspect, look.angle, m_width, m_height);
    const bool draws = anyValid && fit.width() > 0 && fit.height() > 0;

    // The whole tile is covered: the picture, and black around or instead of it.
    const float w = float(m_width), h = float(m_height);
    const float vertices[16] = { 0, h, w, h, 0, 0, w, 0, 0, 1, 1, 1, 0, 0, 1, 0 };
    f->glBindBuffer(GL_ARRAY_BUFFER, m_vertexBuffer);
    f->glBufferSubData(GL_ARRAY_BUFFER, 0, sizeof(vertices), vertices);

    m_program->bind();
    m_program->setUniformValue("matrix", matrix);
    m_program->setUniformValue("picture",
        draws ? QVector4D(float(fit.x()), float(fit.y()), float(fit.width()), float(fit.height()))
              : QVector4D(0, 0, w, h));
    m_program->setUniformValue("video_valid", draws && m_videoValid ? 1 : 0);
    m_program->setUniformValue("fbo_valid", draws && m_renderedValid ? 1 : 0);
    m_program->setUniformValue("next_video_valid", draws && m_nextValid ? 1 : 0);
    m_program->setUniformValue("next_video_alpha", draws ? look.alpha : 0.0f);
    m_program->setUniformValue("trans_type", look.transitionType);
    m_program->setUniformValue("speed", 2.0f);
    m_program->setUniformValue("startingAngle", 90.0f);
    const bool safe = draws && anyPicture && look.options.show16x9Area;
    m_program->setUniformValue("safe_alpha", draws ? 0.5f : 1.0f);
    m_program->setUniformValue("safe_area", safe ? QVector2D(0.1f, 0.1f) : QVector2D(0, 0));
    m_program->setUniformValue(
        "safeline_thick", safe ? QVector2D(float(1 / fit.width()), float(1 / fit.height())) : QVector2D(0, 0));
    const float radians = float(look.angle * kDegree);
    const float c = std::cos(radians), s = std::sin(radians);
    const float rotation[4] = { c, -s, s, c }; // row by row
    m_program->setUniformValue("rotation", QMatrix2x2(rotation));
    m_program->setUniformValue("preTexture", 0);
    m_program->setUniformValue("nextTexture", 1);
    m_program->setUniformValue("preSize",
        QVector2D(float(std::max(m_textures[0]->pixelWidth, 1)), float(std::max(m_textures[0]->pixelHeight, 1))));
    m_program->setUniformValue("nextSize",
        QVector2D(float(std::max(m_textures[1]->pixelWidth, 1)), float(std::max(m_textures[1]->pixelHeight, 1))));

    f->glActiveTexture(GL_TEXTURE1);
    f->glBindTexture(GL_TEXTURE_2D, m_textures[1]->id);
    f->glActiveTexture(GL_TEXTURE0);
    f->glBindTexture(GL_TEXTURE_2D, m_textures[0]->id);

    f->glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, 0, nullptr);
    f->glEnableVertexAttribArray(0);
    f->glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    f->glDisableVertexAttribArray(0);
    m_program->release();
}

void OpenGLRenderNode::drawLines(QOpenGLExtraFunctions* f, const QMatrix4x4& matrix, const RenderNodeInput::Look& look)
{
    const RenderOptions& o = look.options;
    const double w = m_width, h = m_height;
    std::vector<float> positions, colours;
    positions.reserve(kLineVertices * 2);
    colours.reserve(kLineVertices * 4);

    // In the item's own coordinates: the matrix already places the item.
    if (o.borderWidth != 0 && o.borderShown && o.borderColor.alpha() > 0) {
        const QPointF corners[4] = { { 0.5, 0.5 }, { w - 0.5, 0.5 }, { w - 0.5, h - 0.5 }, { 0.5, h - 0.5 } };
        for (int i = 0; i < 4; ++i)
            addLine(positions, colours, corners[i], corners[(i + 1) % 4], o.borderColor);
    }
    const QColor white(Qt::white);
    if (o.showCenterCross) {
        addLine(positions, colours, { w / 2, 0 }, { w / 2, h }, white);
        addLine(positions, colours, { 0, h / 2 }, { w, h / 2 }, white);
    }
    if (o.show16x9Area) {
        const QRectF fit = fitPicture(m_frameAspect, look.angle, w, h);
        const QPointF a(fit.x() + 0.1 * fit.width(), fit.y() + 0.1 * fit.height());
        const QPointF b(fit.x() + 0.9 * fit.width(), fit.y() + 0.9 * fit.height());
        addLine(positions, colours, a, { b.x(), a.y() }, white);
        addLine(positions, colours, { b.x(), a.y() }, b, white);
        addLine(positions, colours, b, { a.x(), b.y() }, white);
        addLine(positions, colours, { a.x(), b.y() }, a, white);
    }
    if (o.tallyState > 0) {
        const QColor colour = o.tallyState >= 2 ? QColor(255, 0, 0) : QColor(0, 255, 0);
        const double ix = 0.005 * w, iy = 0.009 * h, lx = 0.026 * w, ly = 0.046 * h;
        // Top-left, top-right, bottom-right, bottom-left; horizontal line first.
        const int signs[4][2] = { { 1, 1 }, { -1, 1 }, { -1, -1 }, { 1, -1 } };
        for (const auto& sign : signs) {
            const double x0 = sign[0] > 0 ? 0 : w, y0 = sign[1] > 0 ? 0 : h;
            const QPointF start(x0 + sign[0] * ix, y0 + sign[1] * iy);
            addLine(positions, colours, start, { x0 + sign[0] * lx, start.y() }, colour);
            addLine(positions, colours, start, { start.x(), y0 + sign[1] * ly }, colour);
        }
    }
    if (positions.empty() || !makeLineProgram())
        return;
    const int count = int(positions.size() / 2);
    if (!m_lineBuffer) {
        f->glGenBuffers(1, &m_lineBuffer);
        f->glBindBuffer(GL_ARRAY_BUFFER, m_lineBuffer);
        f->glBufferData(GL_ARRAY_BUFFER, kLineBufferBytes, nullptr, GL_DYNAMIC_DRAW);
    }
    f->glBindBuffer(GL_ARRAY_BUFFER, m_lineBuffer);
    f->glBufferSubData(GL_ARRAY_BUFFER, 0, GLsizeiptr(positions.size() * sizeof(float)), positions.data());
    f->glBufferSubData(GL_ARRAY_BUFFER, kLineColourOffset, GLsizeiptr(colours.size() * sizeof(float)), colours.data());
    m_lineProgram->bind();
    m_lineProgram->setUniformValue("matrix", matrix);
    f->glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, 0, nullptr);
    f->glVertexAttribPointer(1, 4, GL_FLOAT, GL_FALSE, 0, reinterpret_cast<const void*>(qintptr(kLineColourOffset)));
    f->glEnableVertexAttribArray(0);
    f->glEnableVertexAttribArray(1);
    f->glDrawArrays(GL_LINES, 0, count);
    f->glDisableVertexAttribArray(0);
    f->glDisableVertexAttribArray(1);
    m_lineProgram->release();
}
