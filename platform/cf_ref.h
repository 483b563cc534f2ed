// Sole owner of one reference to a platform object. Every Create/Copy result goes into one at
// once; get() borrows, release() hands the reference on. Nothing else calls CFRelease.
#pragma once

#include <utility>

#include "platform/core_foundation.h"

template <typename T>
class CFRef {
  public:
    CFRef() = default;
    // Takes over a reference the caller owns (a Create or Copy result); null is allowed.
    explicit CFRef(T owned) : ref_(owned) {}
    // Adds a reference of our own to a borrowed object.
    static CFRef retain(T borrowed) {
        if (borrowed != nullptr) {
            CFRetain(borrowed);
        }
        return CFRef(borrowed);
    }

    CFRef(const CFRef&) = delete;
    CFRef& operator=(const CFRef&) = delete;
    CFRef(CFRef&& other) noexcept : ref_(other.release()) {}
    CFRef& operator=(CFRef&& other) noexcept {
        reset(other.release());
        return *this;
    }
    ~CFRef() { reset(); }

    T get() const { return ref_; }
    explicit operator bool() const { return ref_ != nullptr; }

    [[nodiscard]] T release() { return std::exchange(ref_, nullptr); }
    // The slot for a Copy call's out-parameter: what the call writes there is owned at once, so
    // no owned raw pointer ever exists. Whatever was held before is released first.
    T* initializeInto() {
        reset();
        return &ref_;
    }
    void reset(T owned = nullptr) {
        T old = std::exchange(ref_, owned);
        if (old != nullptr) {
            CFRelease(old);
        }
    }

  private:
    T ref_ = nullptr;
};
