#pragma once
// What one open stream of a source offers, as its receiver last reported it:
// kind, which media it carries, PTZ and KVM support, the source's web-control
// and talk-back addresses, and the tally the application has set on it.
// Made by the concrete connection's capability check; copied into the source
// table, which tells the window scenes when it changes.
#include <string>

struct Media_capabilities_t {
    std::string type = "general-ndi";
    bool has_video = true;
    bool has_audio = false;
    bool has_metadata = true;
    bool support_ptz = false;
    bool support_kvm = false;
    std::string web_url;
    std::string talk_url;
    bool pvw = false;
    bool pgm = false;
};
