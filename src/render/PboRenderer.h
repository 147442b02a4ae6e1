#pragma once
// PboRenderer: turns a window's rendered RGBA texture into packed UYVY 4:2:2
// (BT.709, limited range) in one shader pass, reads it back into a
// pixel-pack buffer and hands that buffer out as a VideoFrame over the mapped
// memory, without copying.
//
// Two independent paths: slot 0 feeds the H.264 encoder and, for the "pvw"
// and "pgm" windows, the program's frame holder; slot 1 feeds the window's
// network output. Every frame leaves in the pass that drew it.
//
// A window that did not draw again asks for its last picture again instead
// (repeatLast): the picture handed out last goes out on every such pass; the
// holder is not offered the same picture twice, so bus tiles elsewhere see
// nothing new either.
//
// Owner: the window's QuickRenderer, which makes it on its first pass and
// deletes it at clean-up. Thread: the window's render thread, always with the
// window's context current (also for the destructor).
#include <QOpenGLFunctions>
#include <QSize>
#include <QString>

#include <array>
#include <atomic>
#include <memory>

class PboConvertPool;
class QOpenGLBuffer;
class QOpenGLContext;
class QOpenGLFramebufferObject;
class QOpenGLShaderProgram;
class QOpenGLVertexArrayObject;
class VideoFrame;
class ZtGstEncoder;
struct _PboImageAvailablePtr;

class PboRenderer {
public:
    PboRenderer();
    // Releases the holder's frame first, then the pools and the GL objects.
    ~PboRenderer();
    PboRenderer(const PboRenderer&) = delete;
    PboRenderer& operator=(const PboRenderer&) = delete;

    void setId(const QString& pro_id, const QString& win_id);
    void setContext(QOpenGLContext* context);
    // Not owned; the caller keeps it alive while a pass may use it.
    void setZtEncoder(ZtGstEncoder* encoder);
    // With halve set only every other frame reaches the encoder.
    void reduceHalfFrames(bool halve, double rate);

    // Converts texture (sampled over its whole extent, scaled to dst) in the
    // given slot; returns the picture, or an empty pointer (no free buffer,
    // bad input).
    std::shared_ptr<VideoFrame> convertRGB2YUV(int slot, QSize src, QSize dst, double fps, unsigned texture);
    // The slot's last picture again, for a pass that drew nothing new; empty
    // when there is none of size dst (convert the unchanged texture then).
    std::shared_ptr<VideoFrame> repeatLast(int slot, QSize dst) const;
    // With repeat set the last picture goes out again where there is one.
    void addFrameForH264Enc(QSize src, QSize dst, double fps, unsigned texture, bool repeat = false);
    void addFrameForNDIEnc(
        QSize src, QSize dst, const QString& name, double fps, unsigned texture, bool repeat = false);
    // Drops the frame the program's holder keeps from this window, so that no
    // frame of the pools outlives them.
    void releaseHolderFrame();
    // A "pvw"/"pgm" window whose holder has a reader: its picture is wanted
    // even while nobody watches the H.264 stream.
    bool holderWanted() const;

    int h264Begun() const { return h264_in; }
    int h264Finished() const { return h264_out; }
    int ndiBegun() const { return ndi_in; }
    int ndiFinished() const { return ndi_out; }

private:
    bool initProgram();
    std::shared_ptr<VideoFrame> mapFrame(std::shared_ptr<_PboImageAvailablePtr> buffer, QSize dst, double fps);
    std::shared_ptr<VideoFrame> frameFor(int slot, QSize src, QSize dst, double fps, unsigned texture, bool repeat);
    void offerToHolder(const std::shared_ptr<VideoFrame>& frame);

    std::atomic<int> h264_in { 0 }, h264_out { 0 }, ndi_in { 0 }, ndi_out { 0 };
    std::array<std::shared_ptr<PboConvertPool>, 2> pools;
    // The slot's last picture, which repeatLast hands out again.
    std::array<std::shared_ptr<VideoFrame>, 2> kept_frames;
    // The picture last given to the holder, and the holder's copy of it.
    std::weak_ptr<VideoFrame> holder_source;
    std::weak_ptr<VideoFrame> holder_copy;
    // Scaled (filtered) and unscaled (texel-exact) conversion.
    std::unique_ptr<QOpenGLShaderProgram> program;
    std::unique_ptr<QOpenGLShaderProgram> exact_program;
    std::unique_ptr<QOpenGLVertexArrayObject> vao;
    std::unique_ptr<QOpenGLBuffer> vbo;
    QOpenGLContext* context = nullptr;
    std::array<std::unique_ptr<QOpenGLFramebufferObject>, 2> targets;
    std::array<QSize, 2> target_sizes { QSize(-1, -1), QSize(-1, -1) };
    ZtGstEncoder* encoder = nullptr;
    QString pro_id;
    QString win_id;
    bool halve = false;
    double halved_rate = 0.0;
    bool skip_next = false;
};
