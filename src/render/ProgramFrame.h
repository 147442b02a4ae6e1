#pragma once
// ProgramFrame: every program's newest program frame (the "pgm" window's picture).
//
// Owner: function-local static, made on first use, destroyed at process exit.
#include "FrameQueueRegistry.h"

class ProgramFrame : public FrameQueueRegistry {
public:
    static ProgramFrame* instance();

private:
    ProgramFrame() = default;
};
