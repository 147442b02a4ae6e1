#pragma once
// VideoTexture: one GL texture holding a tile's packed UYVY picture (one
// texel per macropixel), and the size of the picture it holds.
//
// Tiles of one window that show the same frame share one texture (see
// DrawnTiles): a texture more than one tile holds is never written again; a
// tile with a new picture then takes a texture of its own.
//
// Owner: shared (std::shared_ptr) by the render nodes drawing it. Thread: the
// window's render thread; the texture is deleted with the window's context
// current (without one its GL name is left to the context).
#include <qopengl.h>

#include <memory>

class QOpenGLExtraFunctions;

class VideoTexture {
public:
    static std::shared_ptr<VideoTexture> make(QOpenGLExtraFunctions* f);
    ~VideoTexture();
    VideoTexture(const VideoTexture&) = delete;
    VideoTexture& operator=(const VideoTexture&) = delete;

    GLuint id = 0;
    int texWidth = -1; // allocated texels (one per macropixel)
    int texHeight = -1;
    int pixelWidth = 0; // the picture it holds
    int pixelHeight = 0;
    // The frame whose picture it holds, for tiles that show the same frame.
    std::weak_ptr<const void> frame;

private:
    VideoTexture() = default;
};
