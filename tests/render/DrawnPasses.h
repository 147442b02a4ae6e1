#pragma once
// Waits for a window renderer to send pictures without drawing its scene.
#include "TestSupport.h"
#include "render/QuickRenderer.h"

#include <functional>

namespace drawn {

// Polls (calling poll() first each time) until the renderer has sent `count`
// pictures in a row without drawing; `start` gets the statistics as the run
// of undrawn passes began.
inline bool sendsWithoutDrawing(const QuickRenderer& renderer, int64_t count, const std::function<void()>& poll,
    QuickRenderer::Stats* start = nullptr)
{
    QuickRenderer::Stats first;
    first.drawn = -1;
    const bool found = testsupport::waitFor(
        [&] {
            poll();
            const QuickRenderer::Stats stats = renderer.stats();
            if (stats.drawn != first.drawn)
                first = stats;
            return stats.passes - first.passes >= count;
        },
        20000);
    if (start)
        *start = first;
    return found;
}

} // namespace drawn
