#include "VideoTexture.h"

#include <QDebug>
#include <QOpenGLContext>
#include <QOpenGLExtraFunctions>

std::shared_ptr<VideoTexture> VideoTexture::make(QOpenGLExtraFunctions* f)
{
    std::shared_ptr<VideoTexture> texture(new VideoTexture);
    f->glGenTextures(1, &texture->id);
    f->glBindTexture(GL_TEXTURE_2D, texture->id);
    // Fetched texel by texel: no filtering, no wrapping.
    f->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    f->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    f->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    f->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    f->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    f->glBindTexture(GL_TEXTURE_2D, 0);
    return texture;
}

VideoTexture::~VideoTexture()
{
    if (!id)
        return;
    if (QOpenGLContext* context = QOpenGLContext::currentContext())
        context->extraFunctions()->glDeleteTextures(1, &id);
    else
        qWarning() << "VideoTexture released without a current context; its GL name is lost";
}
