#include "ProgramFrame.h"

ProgramFrame* ProgramFrame::instance()
{
    static ProgramFrame registry;
    return &registry;
}
