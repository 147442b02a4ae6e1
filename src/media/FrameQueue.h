#pragma once
// FrameQueue: the holder of one program's newest preview or program frame,
// with the two take flags that the take and the "pvw"/"pgm" tiles share.
//
// The holder keeps at most one frame. Frames offered before anybody read are
// dropped, so no readback slot is held for a program whose preview or
// program picture is shown nowhere; after the first read every offered frame
// replaces the held one.
//
// Owner: shared (std::shared_ptr) between its registry (PreviewFrame or
// ProgramFrame) and every reader and writer that took it. Thread-safe: the
// writer is the bus window's render thread, the readers the render threads of
// the program's other windows, the take runs on the program model's caller.
#include <QMutex>
#include <QRecursiveMutex>

#include <memory>

class VideoFrame;

class FrameQueue {
public:
    // Keeps the frame once some reader asked; otherwise drops it.
    void addNewFrame(std::shared_ptr<VideoFrame> frame);
    // The newest frame (possibly none); from now on frames are kept.
    std::shared_ptr<VideoFrame> getFrameData();
    // Lets go of the held frame (and so of its readback slot).
    void destroy();
    // Some reader asked: offered frames are kept from now on.
    bool isRequested() const;
    // Whether the held frame is this one (without counting as a read).
    bool holds(const std::shared_ptr<VideoFrame>& candidate) const;

    // A take is underway while the preview and the program queue both hold true.
    bool getTakeState() const;
    void setTakeState(bool state);
    // Set by the take; read and cleared by the bus tiles as they blend.
    bool getIsTaking() const;
    void setIsTaking(bool taking);

private:
    mutable QRecursiveMutex frame_mutex;
    std::shared_ptr<VideoFrame> frame;
    bool requested = false;
    bool isTaking = false;
    mutable QMutex take_mutex;
    bool takeState = false;
};
