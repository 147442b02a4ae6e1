#pragma once
// The two ends of a stand-in link's Unix stream socket. Both return a
// non-blocking, close-on-exec descriptor, or -1 (the path does not fit a
// socket address, nothing listens there, or the system refused).
#include <QString>

namespace linksocket {

// Replaces whatever file is at path (a socket left by this sender's own
// previous life: the name is unique to the process).
int listenOn(const QString& path);
// A Unix stream connect completes at once or fails (EAGAIN: backlog full).
int connectTo(const QString& path);

} // namespace linksocket
