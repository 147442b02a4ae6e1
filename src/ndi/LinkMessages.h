#pragma once
// Building and checking the payloads of LinkWire.h. Payloads come from
// another process, so every reader checks the record against the payload
// size before anything is used; a payload that does not fit is rejected
// (false) and its channel dropped by the caller.
#include "LinkBufferPool.h"
#include "LinkWire.h"

#include <cstring>
#include <string>

namespace linkmsg {

// 100 ns units since the Unix epoch: comparable between processes.
int64_t now();

template <typename Record> LinkBufferPtr record(const Record& r)
{
    auto buffer = std::make_shared<LinkBuffer>(sizeof r);
    buffer->setSize(sizeof r);
    std::memcpy(buffer->data(), &r, sizeof r);
    return buffer;
}

// A payload that is exactly one record.
template <typename Record> bool readRecord(const LinkBuffer& payload, Record& r)
{
    if (payload.size() != sizeof r)
        return false;
    std::memcpy(&r, payload.data(), sizeof r);
    return true;
}

LinkBufferPtr text(const std::string& text, int64_t timecode);
bool readText(const LinkBuffer& payload, std::string& text, int64_t& timecode);

// The record of a picture message whose size, format and dimensions agree.
bool readVideo(const LinkBuffer& payload, linkwire::Video& record);
// The record and samples of a sound message whose size agrees.
bool readAudio(const LinkBuffer& payload, linkwire::Audio& record, const int16_t*& samples);

} // namespace linkmsg
