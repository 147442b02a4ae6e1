#pragma once
// One discovery configuration of the source manager: which network-video
// groups to search, whether to ask a discovery server, and for a manual
// group which addresses to accept; plus what the group's finder currently
// reports. The stored fields are kept in "sources.json".
//
// Owned by SourceManager (its groups map, keyed by the decimal disc_id).
// Guarded by the manager's table lock; the finder handle is touched only by
// the discovery thread, and by the manager's shutdown once that thread ended.
#include "NdiWrapper.h"

#include <QMap>
#include <QString>

#include <cstdint>

struct SourceGroup {
    QString name; // unique among groups
    QString disc_type; // "Auto" or "Manual"; anything else searches like "Manual"
    QString auto_groups; // comma-separated group names of an "Auto" group
    bool server_enable = false;
    QString server_ip;
    QString manual_groups; // comma-separated group names of a "Manual" group
    QString manual_ips; // comma-separated addresses a "Manual" group accepts

    // Not stored.
    QMap<QString, QString> foundSources; // name -> URL address, as last reported
    NDIlib_find_instance_t finder = nullptr;
    bool finderStale = true; // the finder has to be made (again)
    int64_t lastAddressChangeMs = 0; // 0 = never
    bool removed = false; // erased by the next discovery pass
};
