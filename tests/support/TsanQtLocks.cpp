// Linked into the ThreadSanitizer tree's tests only (tests/CMakeLists.txt).
//
// Qt 5's QMutex takes and releases its lock with atomics and futex calls
// inside the system's Qt library, which is not built for the race detector:
// the detector never sees the lock, and every access our code guards with a
// QMutex reads as a race. The linker sends our code's calls of the functions
// below to these wrappers (--wrap), which call Qt's own function and tell the
// detector what happened, so QMutex users are checked as std::mutex users
// are, lock-order inversions included. Calls made inside Qt's libraries are
// not wrapped and not seen; the run ignores what the detector reports from
// uninstrumented libraries (ignore_noninstrumented_modules in scripts/test.sh).
//
// A functor QMetaObject::invokeMethod hands to another thread runs after
// the post and, for a blocking call, before the caller goes on; Qt orders
// these through its event queue's lock and a semaphore, again unseen. The
// wrapper of the post says so to the detector around the functor's call.
//
// QReadWriteLock is not annotated: no code the race detector's tests run
// takes one.
#include <QDeadlineTimer>
#include <QObject>

#include <sanitizer/tsan_interface.h>

class QMutex;
class QWaitCondition;

namespace {

void annotateLocked(void* mutex)
{
    __tsan_mutex_pre_lock(mutex, 0);
    __tsan_mutex_post_lock(mutex, 0, 0);
}

void annotateUnlocked(void* mutex)
{
    __tsan_mutex_pre_unlock(mutex, 0);
    __tsan_mutex_post_unlock(mutex, 0);
}

// Runs the posted functor after the detector's view of the post and, when
// the caller waits for it (callerToken on the caller's stack), before its
// view of the caller's return.
class OrderedSlot : public QtPrivate::QSlotObjectBase {
public:
    OrderedSlot(QtPrivate::QSlotObjectBase* inner, void* callerToken)
        : QSlotObjectBase(&OrderedSlot::impl)
        , m_inner(inner)
        , m_callerToken(callerToken)
    {
    }

private:
    static void impl(int which, QSlotObjectBase* self, QObject* receiver, void** args, bool* ret)
    {
        auto* slot = static_cast<OrderedSlot*>(self);
        switch (which) {
        case Destroy:
            slot->m_inner->destroyIfLastRef();
            delete slot;
            break;
        case Call:
            __tsan_acquire(slot);
            slot->m_inner->call(receiver, args);
            if (slot->m_callerToken)
                __tsan_release(slot->m_callerToken);
            break;
        case Compare:
            *ret = slot->m_inner->compare(args);
            break;
        default:
            break;
        }
    }

    QtPrivate::QSlotObjectBase* m_inner;
    void* m_callerToken;
};

} // namespace

// The names are the mangled ones of QMutex::lock(), QMutex::tryLock(int),
// QMutex::unlock() and QWaitCondition::wait(QMutex*, ...); a member function
// takes its object as the first argument.
extern "C" {

void __real__ZN6QMutex4lockEv(QMutex* mutex);
bool __real__ZN6QMutex7tryLockEi(QMutex* mutex, int timeout);
void __real__ZN6QMutex6unlockEv(QMutex* mutex);
bool __real__ZN14QWaitCondition4waitEP6QMutex14QDeadlineTimer(
    QWaitCondition* condition, QMutex* mutex, QDeadlineTimer deadline);
bool __real__ZN14QWaitCondition4waitEP6QMutexm(QWaitCondition* condition, QMutex* mutex, unsigned long time);
bool __real__ZN11QMetaObject16invokeMethodImplEP7QObjectPN9QtPrivate15QSlotObjectBaseEN2Qt14ConnectionTypeEPv(
    QObject* object, QtPrivate::QSlotObjectBase* slot, Qt::ConnectionType type, void* ret);

void __wrap__ZN6QMutex4lockEv(QMutex* mutex)
{
    __tsan_mutex_pre_lock(mutex, 0);
    __real__ZN6QMutex4lockEv(mutex);
    __tsan_mutex_post_lock(mutex, 0, 0);
}

bool __wrap__ZN6QMutex7tryLockEi(QMutex* mutex, int timeout)
{
    __tsan_mutex_pre_lock(mutex, __tsan_mutex_try_lock);
    const bool locked = __real__ZN6QMutex7tryLockEi(mutex, timeout);
    __tsan_mutex_post_lock(mutex, __tsan_mutex_try_lock | (locked ? 0 : __tsan_mutex_try_lock_failed), 0);
    return locked;
}

void __wrap__ZN6QMutex6unlockEv(QMutex* mutex)
{
    __tsan_mutex_pre_unlock(mutex, 0);
    __real__ZN6QMutex6unlockEv(mutex);
    __tsan_mutex_post_unlock(mutex, 0);
}

// A wait releases the mutex and takes it again inside Qt.
bool __wrap__ZN14QWaitCondition4waitEP6QMutex14QDeadlineTimer(
    QWaitCondition* condition, QMutex* mutex, QDeadlineTimer deadline)
{
    annotateUnlocked(mutex);
    const bool woken = __real__ZN14QWaitCondition4waitEP6QMutex14QDeadlineTimer(condition, mutex, deadline);
    annotateLocked(mutex);
    return woken;
}

bool __wrap__ZN14QWaitCondition4waitEP6QMutexm(QWaitCondition* condition, QMutex* mutex, unsigned long time)
{
    annotateUnlocked(mutex);
    const bool woken = __real__ZN14QWaitCondition4waitEP6QMutexm(condition, mutex, time);
    annotateLocked(mutex);
    return woken;
}

// QMetaObject::invokeMethodImpl(QObject*, QtPrivate::QSlotObjectBase*,
// Qt::ConnectionType, void*), behind every invokeMethod of a functor.
bool __wrap__ZN11QMetaObject16invokeMethodImplEP7QObjectPN9QtPrivate15QSlotObjectBaseEN2Qt14ConnectionTypeEPv(
    QObject* object, QtPrivate::QSlotObjectBase* slot, Qt::ConnectionType type, void* ret)
{
    char callerToken = 0;
    const bool waits = type == Qt::BlockingQueuedConnection;
    auto* ordered = new OrderedSlot(slot, waits ? &callerToken : nullptr);
    __tsan_release(ordered);
    const bool invoked
        = __real__ZN11QMetaObject16invokeMethodImplEP7QObjectPN9QtPrivate15QSlotObjectBaseEN2Qt14ConnectionTypeEPv(
            object, ordered, type, ret);
    __tsan_acquire(&callerToken);
    return invoked;
}

} // extern "C"
