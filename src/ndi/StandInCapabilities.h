#pragma once
// What a sender announced about itself in its connection metadata:
// <ndi_capabilities web_control="http://..." ptz="true"/>. Texts are applied
// in the order they arrived; a later attribute overrides an earlier one and
// attributes a text does not mention stay as they were. Anything that is not
// well-formed is ignored.
#include <QByteArray>
#include <string>

struct StandInCapabilities {
    std::string webControl;
    bool ptz = false;

    void apply(const QByteArray& text);
};
