#include "DrawnTiles.h"

#include "RenderNodeInput.h"
#include "VideoTexture.h"

#include <algorithm>

namespace {

thread_local DrawnTiles* currentTiles = nullptr;

} // namespace

DrawnTiles::Drawing::Drawing(DrawnTiles& tiles)
    : previous(currentTiles)
{
    tiles.inputs.clear();
    // Textures no tile holds any more, or that hold a frame gone, are let go.
    auto& textures = tiles.textures;
    textures.erase(std::remove_if(textures.begin(), textures.end(),
                       [](const std::weak_ptr<VideoTexture>& weak) {
                           const std::shared_ptr<VideoTexture> texture = weak.lock();
                           return !texture || texture->frame.expired();
                       }),
        textures.end());
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

std::shared_ptr<VideoTexture> DrawnTiles::uploaded(const std::shared_ptr<const void>& frame) const
{
    if (!frame)
        return {};
    for (const std::weak_ptr<VideoTexture>& weak : textures) {
        std::shared_ptr<VideoTexture> texture = weak.lock();
        if (texture && texture->frame.lock() == frame)
            return texture;
    }
    return {};
}

void DrawnTiles::addUploaded(const std::shared_ptr<VideoTexture>& texture)
{
    for (const std::weak_ptr<VideoTexture>& weak : textures) {
        if (weak.lock() == texture)
            return;
    }
    textures.push_back(texture);
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
