#pragma once
// Writing a state file so that a crash never leaves a broken one.
//
// The new bytes go to a temporary file beside the target, which is renamed
// over it only once it is complete: a kill at any moment leaves the old file
// or the new one. Every state file is written through write().
//
// When the file reaches the disk is a separate matter. By default write()
// syncs the new file before the rename (QSaveFile), so a power loss too
// leaves the old file or the new one; the caller waits for the disk, which
// can take a second on a loaded machine. A thread that writes state often
// and must not wait (the save queue's savers) holds a DeferSync while it
// writes: its files are renamed into place as soon as they are written, and
// each path goes to the DeferSync's receiver, which makes it durable with
// sync() shortly after. Until then a kill loses nothing (the new content is
// in the kernel's cache), but a power loss may lose the recent writes.
#include <QByteArray>
#include <QString>

#include <functional>

namespace AtomicFile {

enum class Access { Default, OwnerOnly };

// Replaces path with bytes, atomically; creates missing parent folders. An
// existing file keeps its permissions; OwnerOnly makes the file readable and
// writable by its owner alone (a private key). Returns false, and fills
// *error when given, when the file could not be written; the old file then
// stays as it was.
bool write(const QString& path, const QByteArray& bytes, QString* error = nullptr, Access access = Access::Default);

// Flushes path's content and its entry in its folder to the disk. False
// (with a warning in the log) when either could not be synced; a path that
// is gone by now counts as synced.
bool sync(const QString& path);

// While one lives on a thread, the files write() replaces on that thread are
// visible before they are durable: each path goes to `later`, which must
// sync() it. One per thread at a time.
class DeferSync {
public:
    explicit DeferSync(std::function<void(const QString&)> later);
    ~DeferSync();
    DeferSync(const DeferSync&) = delete;
    DeferSync& operator=(const DeferSync&) = delete;

private:
    const std::function<void(const QString&)> m_later;
};

} // namespace AtomicFile
