#pragma once
// FrameQueue: the holder of one program's newest preview or program frame,
// with the two take flags that the take and the "pvw"/"pgm" tiles share.
//
// Owner: shared (std::shared_ptr) between its registry (PreviewFrame or
// ProgramFrame) and every reader and writer that took it. Thread-safe: the
// take runs on the program model's caller, the tiles on render threads.
#include <QMutex>
#include <QRecursiveMutex>

class FrameQueue {
public:
    // A take is underway while the preview and the program queue both hold true.
    bool getTakeState() const;
    void setTakeState(bool state);
    // Set by the take; read and cleared by the bus tiles as they blend.
    bool getIsTaking() const;
    void setIsTaking(bool taking);

private:
    mutable QRecursiveMutex frame_mutex;
    bool isTaking = false;
    mutable QMutex take_mutex;
    bool takeState = false;
};
