#include "PboRenderer.h"

#include "base/BusIds.h"

#include "PboConvertPool.h"
#include "PreviewFrame.h"
#include "ProgramFrame.h"
#include "media/FrameQueue.h"
#include "media/VideoFrame.h"
#include "output/MediaOutputManager.h"
#include "output/ZtGstEncoder.h"

#include <QDebug>
#include <QOpenGLBuffer>
#include <QOpenGLContext>
#include <QOpenGLExtraFunctions>
#include <QOpenGLFramebufferObject>
#include <QOpenGLShaderProgram>
#include <QOpenGLVertexArrayObject>

namespace {

// Each output texel packs one pair of pixels as (U, Y0, V, Y1). The two
// pixels are sampled at their own centres (half a destination pixel left and
// right of the texel's centre), so with an unscaled source every sample hits
// exactly one texel instead of blending the pair's neighbours.
const char* const kVertexShader = R"(#version 410 core
in vec4 a_position;
in vec2 a_texCoord;
out vec2 v_texCoord;
void main()
{
    gl_Position = a_position;
    v_texCoord = a_texCoord;
}
)";

// The conversion body shared by both samplers: first and second are the two
// pixels of the pair.
#define PANOPTRA_UYVY_PACK                                                                                             \
    "const vec3 COEF_Y = vec3(0.183, 0.614, 0.062);\n"                                                                 \
    "const vec3 COEF_U = vec3(-0.101, -0.339, 0.439);\n"                                                               \
    "const vec3 COEF_V = vec3(0.439, -0.399, -0.040);\n"                                                               \
    "vec4 pack(vec3 first, vec3 second)\n"                                                                             \
    "{\n"                                                                                                              \
    "    float y0 = dot(first, COEF_Y) + 0.0625;\n"                                                                    \
    "    float u = clamp(dot(first, COEF_U) + 0.5, 0.0, 1.0);\n"                                                       \
    "    float v = clamp(dot(first, COEF_V) + 0.5, 0.0, 1.0);\n"                                                       \
    "    float y1 = dot(second, COEF_Y) + 0.0625;\n"                                                                   \
    "    return vec4(u, y0, v, y1);\n"                                                                                 \
    "}\n"

// Scaled conversion (the H.264 size): filtered samples at the pixels' centres.
const char* const kScaledFragmentShader = "#version 410 core\n"
                                          "in vec2 v_texCoord;\n"
                                          "out vec4 fragColor;\n"
                                          "uniform sampler2D aTexture;\n"
                                          "uniform float u_Offset;\n" PANOPTRA_UYVY_PACK "void main()\n"
                                          "{\n"
                                          "    vec2 half_pixel = vec2(0.5 * u_Offset, 0.0);\n"
                                          "    fragColor = pack(texture(aTexture, v_texCoord - half_pixel).rgb,\n"
                                          "        texture(aTexture, v_texCoord + half_pixel).rgb);\n"
                                          "}\n";

// Unscaled conversion (the network output): each pixel is one texel, read
// without filtering, which is the cheapest sampling on a software rasteriser.
// The scene's first GL row is its bottom line, the picture's first its top.
const char* const kExactFragmentShader
    = "#version 410 core\n"
      "out vec4 fragColor;\n"
      "uniform sampler2D aTexture;\n" PANOPTRA_UYVY_PACK "void main()\n"
      "{\n"
      "    ivec2 size = textureSize(aTexture, 0);\n"
      "    ivec2 p = ivec2(2 * int(gl_FragCoord.x), size.y - 1 - int(gl_FragCoord.y));\n"
      "    fragColor = pack(texelFetch(aTexture, p, 0).rgb,\n"
      "        texelFetch(aTexture, p + ivec2(1, 0), 0).rgb);\n"
      "}\n";

// The holder a window's picture goes to: "pvw" and "pgm" windows only.
FrameQueueRegistry* holderRegistry(const QString& win_id)
{
    if (win_id == BusId::pvw())
        return PreviewFrame::instance();
    if (win_id == BusId::pgm())
        return ProgramFrame::instance();
    return nullptr;
}

} // namespace

PboRenderer::PboRenderer()
{
    qDebug() << "PboRenderer::PboRenderer()";
}

PboRenderer::~PboRenderer()
{
    qDebug() << "PboRenderer::~PboRenderer()";
    releaseHolderFrame();
    if (win_id == BusId::pvw())
        PreviewFrame::instance()->removeItem(pro_id);
    else if (win_id == BusId::pgm())
        ProgramFrame::instance()->removeItem(pro_id);
    for (auto& frame : kept_frames)
        frame.reset();
    for (auto& pool : pools)
        pool.reset();
    vao.reset();
    vbo.reset();
    program.reset();
    exact_program.reset();
    for (auto& target : targets)
        target.reset();
}

void PboRenderer::releaseHolderFrame()
{
    if (FrameQueueRegistry* registry = holderRegistry(win_id))
        registry->getFrame(pro_id)->destroy();
}

bool PboRenderer::holderWanted() const
{
    FrameQueueRegistry* registry = holderRegistry(win_id);
    return registry && registry->getFrame(pro_id)->isRequested();
}

void PboRenderer::setId(const QString& pro, const QString& win)
{
    pro_id = pro;
    win_id = win;
}

void PboRenderer::setContext(QOpenGLContext* ctx)
{
    context = ctx;
}

void PboRenderer::setZtEncoder(ZtGstEncoder* enc)
{
    encoder = enc;
}

void PboRenderer::reduceHalfFrames(bool h, double rate)
{
    halve = h;
    halved_rate = rate;
}

namespace {

std::unique_ptr<QOpenGLShaderProgram> buildProgram(const char* fragmentShader)
{
    auto shaders = std::make_unique<QOpenGLShaderProgram>();
    if (!shaders->addShaderFromSourceCode(QOpenGLShader::Vertex, kVertexShader)
        || !shaders->addShaderFromSourceCode(QOpenGLShader::Fragment, fragmentShader)) {
        qWarning() << "PboRenderer: shader compile failed" << shaders->log();
        return nullptr;
    }
    shaders->bindAttributeLocation("a_position", 0);
    shaders->bindAttributeLocation("a_texCoord", 1);
    if (!shaders->link()) {
        qWarning() << "PboRenderer: shader link failed" << shaders->log();
        return nullptr;
    }
    return shaders;
}

} // namespace

bool PboRenderer::initProgram()
{
    program = buildProgram(kScaledFragmentShader);
    exact_program = buildProgram(kExactFragmentShader);
    if (!program || !exact_program) {
        program.reset();
        exact_program.reset();
        return false;
    }

    // (x, y, s, t): t runs against y, so the first row read back is the
    // scene's top row.
    static const float quad[16] = { -1, -1, 0, 1, 1, -1, 1, 1, -1, 1, 0, 0, 1, 1, 1, 0 };
    vao = std::make_unique<QOpenGLVertexArrayObject>();
    vao->create();
    vao->bind();
    vbo = std::make_unique<QOpenGLBuffer>(QOpenGLBuffer::VertexBuffer);
    vbo->create();
    vbo->bind();
    vbo->allocate(quad, sizeof(quad));
    QOpenGLFunctions* f = context->functions();
    f->glEnableVertexAttribArray(0);
    f->glEnableVertexAttribArray(1);
    f->glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, 16, nullptr);
    f->glVertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, 16, reinterpret_cast<void*>(8));
    vao->release();
    vbo->release();
    return true;
}

std::shared_ptr<VideoFrame> PboRenderer::convertRGB2YUV(int slot, QSize src, QSize dst, double fps, unsigned texture)
{
    if (slot < 0 || slot > 1 || texture == 0 || !context || !src.isValid() || src.isEmpty() || dst.width() < 2
        || dst.height() < 1)
        return {};
    dst.setWidth(dst.width() & ~1);
    if (!program && !initProgram()) {
        qDebug() << "convertRGB2YUV: program is null.";
        return {};
    }
    QOpenGLExtraFunctions* f = context->extraFunctions();
    const int outWidth = dst.width() / 2;
    if (dst != target_sizes[slot]) {
        target_sizes[slot] = dst;
        targets[slot].reset();
        targets[slot] = std::make_unique<QOpenGLFramebufferObject>(outWidth, dst.height(), GL_TEXTURE_2D);
    }
    QOpenGLFramebufferObject* target = targets[slot].get();

    f->glPixelStorei(GL_PACK_ALIGNMENT, 1);
    target->bind();
    f->glViewport(0, 0, outWidth, dst.height());
    f->glDisable(GL_BLEND);
    f->glDisable(GL_DEPTH_TEST);
    f->glDisable(GL_STENCIL_TEST);
    f->glDisable(GL_SCISSOR_TEST);
    f->glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    f->glActiveTexture(GL_TEXTURE0);
    f->glBindTexture(GL_TEXTURE_2D, texture);
    f->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    f->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    f->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    f->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    QOpenGLShaderProgram* shaders = src == dst ? exact_program.get() : program.get();
    shaders->bind();
    shaders->setUniformValue("aTexture", 0);
    if (shaders == program.get())
        shaders->setUniformValue("u_Offset", GLfloat(1.0 / dst.width()));
    vao->bind();
    f->glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    vao->release();
    shaders->release();
    f->glBindTexture(GL_TEXTURE_2D, 0);

    if (!pools[slot])
        pools[slot] = std::make_shared<PboConvertPool>(QStringLiteral("%1_%2/%3").arg(pro_id, win_id).arg(slot));
    const int bytes = dst.width() * 2 * dst.height();
    std::shared_ptr<_PboImageAvailablePtr> buffer = pools[slot]->getPboImageAvailablePtr(bytes);
    if (!buffer) {
        target->release();
        return {};
    }
    buffer->buffer->bind();
    f->glReadPixels(0, 0, outWidth, dst.height(), GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    buffer->buffer->release();
    target->release();

    // Mapped at once: the software rasteriser has the pixels in the buffer
    // when the read returns, so waiting for the next pass to map them would
    // only make every picture a frame later.
    kept_frames[slot] = mapFrame(std::move(buffer), dst, fps);
    return kept_frames[slot];
}

std::shared_ptr<VideoFrame> PboRenderer::mapFrame(std::shared_ptr<_PboImageAvailablePtr> buffer, QSize dst, double fps)
{
    const int bytes = buffer->size;
    buffer->buffer->bind();
    void* pixels = buffer->buffer->mapRange(0, bytes, QOpenGLBuffer::RangeRead);
    buffer->buffer->release();
    if (!pixels)
        return {};
    buffer->mapped = true;
    auto frame = std::make_shared<VideoFrame>(static_cast<unsigned char*>(pixels), uint32_t(dst.width()),
        uint32_t(dst.height()), uint32_t(bytes), uint32_t(dst.width() * 2));
    frame->setFrameRate(int(fps * 1000), 1000);
    frame->setBuffer(std::move(buffer));
    return frame;
}

std::shared_ptr<VideoFrame> PboRenderer::repeatLast(int slot, QSize dst) const
{
    if (slot < 0 || slot > 1 || !context || dst.width() < 2 || dst.height() < 1)
        return {};
    dst.setWidth(dst.width() & ~1);
    const int bytes = dst.width() * 2 * dst.height();
    const std::shared_ptr<VideoFrame>& kept = kept_frames[slot];
    if (kept && int(kept->size()) == bytes && int(kept->width()) == dst.width())
        return kept;
    return {};
}

std::shared_ptr<VideoFrame> PboRenderer::frameFor(
    int slot, QSize src, QSize dst, double fps, unsigned texture, bool repeat)
{
    if (repeat) {
        if (std::shared_ptr<VideoFrame> frame = repeatLast(slot, dst))
            return frame;
    }
    return convertRGB2YUV(slot, src, dst, fps, texture);
}

void PboRenderer::offerToHolder(const std::shared_ptr<VideoFrame>& frame)
{
    FrameQueueRegistry* registry = holderRegistry(win_id);
    if (!registry)
        return;
    const std::shared_ptr<FrameQueue> holder = registry->getFrame(pro_id);
    // A repeated picture the holder still has is not offered again: the
    // tiles reading it would take the copy for a new picture.
    if (holder_source.lock() == frame && holder->holds(holder_copy.lock()))
        return;
    // Other windows' tiles keep the holder's picture, possibly past this
    // window's context and with it past its mapped buffers: they get a copy.
    std::shared_ptr<VideoFrame> copy = VideoFrame::copyOf(*frame);
    holder->addNewFrame(copy);
    holder_source = frame;
    holder_copy = copy;
}

void PboRenderer::addFrameForH264Enc(QSize src, QSize dst, double fps, unsigned texture, bool repeat)
{
    ++h264_in;
    if (std::shared_ptr<VideoFrame> frame = frameFor(0, src, dst, fps, texture, repeat)) {
        offerToHolder(frame);
        if (encoder) {
            if (!halve) {
                encoder->addNewFrame(frame);
            } else if (!skip_next) {
                encoder->addNewFrame(frame);
                skip_next = true;
            } else {
                skip_next = false;
            }
        }
    }
    ++h264_out;
}

void PboRenderer::addFrameForNDIEnc(
    QSize src, QSize dst, const QString& name, double fps, unsigned texture, bool repeat)
{
    ++ndi_in;
    if (std::shared_ptr<VideoFrame> frame = frameFor(1, src, dst, fps, texture, repeat))
        MediaOutputManager::instance().sendNDIVideo(pro_id, win_id, frame, name, NDIlib_FourCC_video_type_UYVY);
    ++ndi_out;
}
