#pragma once
// Process-wide registry of what each program knows about each of its
// sources: the audio mix type and label (kept across restarts in
// "source_contents.json"), the ids of the source's users in the program, and
// the two audio inputs through which its audio reaches the program's mixers.
//
// One instance for the process, made on first use and destroyed at exit.
// Every operation takes the registry's recursive lock, so the GUI and HTTPS
// threads (model), the mixer threads and every source's audio thread (sink
// lookups, once per audio frame) may call it concurrently.
#include "SourceContent.h"

#include <QMap>
#include <QRecursiveMutex>
#include <QString>

#include <memory>

class GlobalData {
public:
    using SourceMap = QMap<QString, QMap<QString, SourceContent>>; // pro_id -> source -> content

    static GlobalData* instance();

    // Replaces the registry with the file's content; a missing or broken file
    // leaves it empty. Sinks and user ids always start empty.
    void load();
    // Writes every entry's mix type and label to the file (atomically).
    void save();

    // Setters return false and change nothing when a key argument (program,
    // source, bus, id) is empty; the stored values may be empty.
    bool setAudioMixType(const QString& pro_id, const QString& source, const QString& type);
    QString getAudioMixType(const QString& pro_id, const QString& source) const;
    bool setPatternName(const QString& pro_id, const QString& source, const QString& name);
    QString getPatternName(const QString& pro_id, const QString& source) const;

    // bus is "pvw" or "pgm", compared exactly; another bus stores nothing.
    bool setAudioSink(
        const QString& pro_id, const QString& source, const QString& bus, std::shared_ptr<AudioMixSink> sink);
    bool removeAudioSink(const QString& pro_id, const QString& source, const QString& bus);
    std::shared_ptr<AudioMixSink> getAudioSink(const QString& pro_id, const QString& source, const QString& bus) const;

    bool setSrcId(const QString& pro_id, const QString& source, const QString& id);
    bool removeSrcId(const QString& pro_id, const QString& source, const QString& id);
    int getSrcCount(const QString& pro_id, const QString& source) const;

    SourceMap initSourceMap();
    // Releases every sink; the stored values and user ids stay.
    void destroy();

private:
    static QString filePath();
    GlobalData() = default;
    const SourceContent* find(const QString& pro_id, const QString& source) const;
    // The two values kept in the file; setting one saves the file.
    bool setStoredText(
        const QString& pro_id, const QString& source, QString SourceContent::*field, const QString& value);
    QString storedText(const QString& pro_id, const QString& source, QString SourceContent::*field) const;

    SourceMap source_map;
    mutable QRecursiveMutex registry_mutex;
};
