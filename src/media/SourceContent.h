#pragma once
// What the source-content registry (GlobalData) keeps for one source of one
// program. A value record; the registry copies it under its own lock.
#include <QString>
#include <QStringList>

#include <memory>

class AudioMixSink;

struct SourceContent {
    QString mix_type; // "always", "follow", "close" or empty; kept in the registry file
    QString pattern_name; // the source's label in this program; kept in the registry file
    QStringList src_ids; // ids of the program's users of the source; memory only
    std::shared_ptr<AudioMixSink> pvw_sink; // input of the program's preview mixer; memory only
    std::shared_ptr<AudioMixSink> pgm_sink; // input of the program's program mixer; memory only
};
