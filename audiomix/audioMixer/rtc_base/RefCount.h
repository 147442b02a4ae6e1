#pragma once
// Intrusive reference counting for the engine: the mixer object counts its
// own references atomically and deletes itself with the last one.
#include <atomic>
#include <utility>

namespace rtc {

enum class RefCountReleaseStatus { kDroppedLastRef, kOtherRefsRemained };

class RefCountInterface {
public:
    virtual void AddRef() const = 0;
    virtual RefCountReleaseStatus Release() const = 0;

protected:
    virtual ~RefCountInterface() = default;
};

template <class T> class RefCountedObject : public T {
public:
    template <class... Args>
    explicit RefCountedObject(Args&&... args)
        : T(std::forward<Args>(args)...)
    {
    }

    void AddRef() const override { ref_count_.fetch_add(1, std::memory_order_relaxed); }
    RefCountReleaseStatus Release() const override
    {
        if (ref_count_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            delete this;
            return RefCountReleaseStatus::kDroppedLastRef;
        }
        return RefCountReleaseStatus::kOtherRefsRemained;
    }
    virtual bool HasOneRef() const { return ref_count_.load(std::memory_order_acquire) == 1; }

protected:
    ~RefCountedObject() override = default;

private:
    mutable std::atomic<int> ref_count_ { 0 };
};

// Holds one reference for its lifetime.
template <class T> class scoped_refptr {
public:
    scoped_refptr() = default;
    scoped_refptr(T* p)
        : ptr_(p)
    {
        if (ptr_)
            ptr_->AddRef();
    }
    scoped_refptr(const scoped_refptr& other)
        : scoped_refptr(other.ptr_)
    {
    }
    scoped_refptr(scoped_refptr&& other) noexcept
        : ptr_(std::exchange(other.ptr_, nullptr))
    {
    }
    ~scoped_refptr()
    {
        if (ptr_)
            ptr_->Release();
    }
    scoped_refptr& operator=(scoped_refptr other) noexcept
    {
        std::swap(ptr_, other.ptr_);
        return *this;
    }

    T* get() const { return ptr_; }
    T* operator->() const { return ptr_; }
    T& operator*() const { return *ptr_; }
    explicit operator bool() const { return ptr_ != nullptr; }

private:
    T* ptr_ = nullptr;
};

} // namespace rtc
