#pragma once
// The one check of which thread code runs on, for log lines and for the
// affinity asserts of debug builds. Callable from any thread.
#include <QtGlobal>

class QObject;

// True on the thread of the application object; false while there is none
// (before it is made or after it has gone), since then no code can be on it.
bool onMainThread();
// True on the thread the object lives on (its thread affinity).
bool onThreadOf(const QObject* object);

// Debug builds stop at a call made on the wrong thread, naming the method;
// release builds check nothing.
#define ASSERT_MAIN_THREAD(where) Q_ASSERT_X(onMainThread(), where, "not called on the GUI thread")
#define ASSERT_THREAD_OF(object, where) Q_ASSERT_X(onThreadOf(object), where, "not called on the object's thread")
