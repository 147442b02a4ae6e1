#include "VideoRender.h"

VideoRender::VideoRender(QQuickItem* parent)
    : QQuickItem(parent)
{
}
