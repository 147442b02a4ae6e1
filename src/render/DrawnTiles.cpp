#include "DrawnTiles.h"

#include "RenderNodeInput.h"

namespace {

thread_local DrawnTiles* currentTiles = nullptr;

} // namespace

DrawnTiles::Drawing::Drawing(DrawnTiles& tiles)
    : previous(currentTiles)
{
    tiles.inputs.clear();
    currentTiles = &tiles;
}

DrawnTiles::Drawing::~Drawing()
{
    currentTiles = previous;
}

DrawnTiles* DrawnTiles::current()
{
    return currentTiles;
}

void DrawnTiles::add(const std::shared_ptr<RenderNodeInput>& input)
{
    inputs.push_back(input);
}

bool DrawnTiles::runPassesAhead()
{
    bool changed = false;
    for (const std::weak_ptr<RenderNodeInput>& weak : inputs) {
        const std::shared_ptr<RenderNodeInput> input = weak.lock();
        // A tile gone since the last drawing changed the scene as well.
        if (!input) {
            changed = true;
            continue;
        }
        input->runPassAhead();
        changed = input->takeChanged() || changed;
    }
    return changed;
}

void DrawnTiles::dropPassesAhead()
{
    for (const std::weak_ptr<RenderNodeInput>& weak : inputs) {
        if (const std::shared_ptr<RenderNodeInput> input = weak.lock())
            input->dropPassAhead();
    }
}
