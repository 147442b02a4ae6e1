#pragma once
// OpenSSL keeps the reasons of a failure in a per-thread error queue. This
// reads them out as one text and leaves the queue empty, so a later,
// unrelated failure is not blamed on an old entry. Callable from any thread.
#include <QString>

// The queued reasons, oldest first, joined by "; "; empty when none are queued.
QString drainOpenSslErrors();
