#pragma once
// Metadata texts waiting for a caller of a stand-in sender or receiver, plus
// the receiver's one-shot "connection lost" mark. Bounded: beyond kDepth the
// oldest text is dropped. The loop thread pushes; a caller takes with a
// timeout. Thread-safe.
#include "NdiWrapper.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>

class StandInInbox {
public:
    static constexpr size_t kDepth = 256;

    void push(std::string text, int64_t timecode);
    void markError();
    void clear();
    // metadata (the frame filled, to be released with release()), error
    // (once per mark, ahead of any text) or none after timeoutMs.
    NDIlib_frame_type_e take(NDIlib_metadata_frame_t* out, uint32_t timeoutMs);
    static void release(NDIlib_metadata_frame_t* frame);

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::pair<std::string, int64_t>> m_texts;
    bool m_error = false;
};
