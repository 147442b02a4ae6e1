#include "ZtGstEncoder.h"

#include "VideoFrame.h"

ZtGstEncoder::ZtGstEncoder() = default;

ZtGstEncoder::~ZtGstEncoder()
{
    stop();
}

bool ZtGstEncoder::setSrcImagePara(int width, int height, int fps, int format)
{
    if (width < 1 || height < 1 || fps < 0 || format < 0)
        return false;
    src_width = width;
    src_height = height;
    src_fps = fps;
    src_format = format;
    return true;
}

bool ZtGstEncoder::setEncodePara(int, int, int, int, int, int, int)
{
    return true;
}

void ZtGstEncoder::setId(const QString& pro_id, const QString& win_id)
{
    program_id = pro_id;
    window_id = win_id;
}

bool ZtGstEncoder::createEncoderElement()
{
    return true;
}

void ZtGstEncoder::start()
{
    stopped = false;
}

void ZtGstEncoder::pause()
{
}

void ZtGstEncoder::stop()
{
    stopped = true;
}

void ZtGstEncoder::addNewFrame(std::shared_ptr<VideoFrame>)
{
}

void ZtGstEncoder::clearData()
{
}
