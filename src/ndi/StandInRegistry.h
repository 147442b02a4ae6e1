#pragma once
// The stand-in's directory of senders on this machine.
//
// Every sender announces itself with one small JSON file, named after its
// process and a sequence number ("<pid>-<start time>-<n>.json"), holding its
// name, URL, groups and the name of its Unix socket beside the file. Finders
// and receivers of any process of the same user read the directory. A sender
// removes its files when it is destroyed; the files of a process that died
// without doing so are recognised by the process id and start time in their
// names (a reused pid has another start time) and removed by whoever scans
// next.
//
// Where the directory is: $PANOPTRA_NDI_DIR when set (tests point it at a
// temporary folder), else $XDG_RUNTIME_DIR/panoptra-ndi, else
// /tmp/panoptra-ndi-<uid>. It is created with mode 0700 and used only when it
// is a real directory owned by this user.
//
// One object per finder or connect attempt; not shared between threads.
#include <QString>
#include <QStringList>

#include <map>
#include <vector>

class StandInRegistry {
public:
    struct Entry {
        QString name;
        QString url; // "127.0.0.1:<port>"; the port only tells senders apart
        QString groups; // normalised, comma-separated
        QString file; // the announcement
        QString socketPath; // where the sender listens
    };

    // The directory for this process now (the environment is read on every
    // call); empty when it cannot be used.
    static QString directory();

    explicit StandInRegistry(QString dir)
        : m_dir(std::move(dir))
    {
    }
    const QString& dir() const { return m_dir; }

    // File, socket path and URL for a new sender of this process. False when
    // the socket path would not fit a socket address.
    bool reserve(const QString& name, const QString& groups, Entry& entry) const;
    bool publish(const Entry& entry) const;
    static void withdraw(const Entry& entry);
    // The live announcements, ordered by name, then URL; files of processes
    // that are gone are removed on the way.
    std::vector<Entry> scan();

    // The process that announced a file of the directory, from its name
    // ("<pid>-<start time>-..."): 0 when the name is not of that form.
    static qint64 ownerPid(const QString& fileName);
    // Whether that process still runs (true for names not of that form).
    static bool ownerAlive(const QString& fileName);

    // Lower-case, trimmed group names without empties; "public" when none.
    static QStringList normaliseGroups(const QString& groups);
    static bool groupsMeet(const QStringList& a, const QStringList& b);

private:
    QString m_dir;
    std::map<QString, Entry> m_cache; // parsed announcements by file name
};
