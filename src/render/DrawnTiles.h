#pragma once
// DrawnTiles: the video tiles one window drew in its last drawn pass, so that
// the window can tell, before drawing again, whether any of them would draw
// something else: it runs their passes ahead (each pulls its newest picture)
// and asks their inputs whether anything changed.
//
// While a window draws, its DrawnTiles is the render thread's current one
// (Drawing); each tile's node adds its input as it draws. Nodes drawn outside
// a window's pass (tests, other scenes) find no current one and add nothing.
//
// It also knows the textures the window's tiles uploaded frames into, so that
// a tile showing a frame another tile of the window holds draws that texture
// instead of uploading the frame again.
//
// Owner: the window's QuickRenderer. Thread: the window's render thread only.
#include <memory>
#include <vector>

class RenderNodeInput;
class VideoTexture;

class DrawnTiles {
public:
    // Makes `tiles` the render thread's current one, emptied, for one drawn pass.
    class Drawing {
    public:
        explicit Drawing(DrawnTiles& tiles);
        ~Drawing();
        Drawing(const Drawing&) = delete;
        Drawing& operator=(const Drawing&) = delete;

    private:
        DrawnTiles* previous;
    };

    // The current window's tiles while it draws, else null.
    static DrawnTiles* current();
    void add(const std::shared_ptr<RenderNodeInput>& input);

    // A texture of a tile of this window that holds `frame` now, if any.
    std::shared_ptr<VideoTexture> uploaded(const std::shared_ptr<const void>& frame) const;
    // A texture a tile just uploaded its frame into (not owned).
    void addUploaded(const std::shared_ptr<VideoTexture>& texture);

    // Runs the passes of the tiles drawn last; true when any of them would
    // draw something new. The next drawing does not run them again, unless
    // dropPassesAhead() says no drawing follows.
    bool runPassesAhead();
    void dropPassesAhead();

private:
    std::vector<std::weak_ptr<RenderNodeInput>> inputs;
    std::vector<std::weak_ptr<VideoTexture>> textures;
};
