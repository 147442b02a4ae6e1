#include "PreviewFrame.h"

PreviewFrame* PreviewFrame::instance()
{
    static PreviewFrame registry;
    return &registry;
}
