#pragma once
// PreviewFrame: every program's newest preview frame (the "pvw" window's picture).
//
// Owner: function-local static, made on first use, destroyed at process exit.
#include "FrameQueueRegistry.h"

class PreviewFrame : public FrameQueueRegistry {
public:
    static PreviewFrame* instance();

private:
    PreviewFrame() = default;
};
