// An owning reference to a COM object: released when it goes.
#pragma once

#include <objbase.h>
#include <unknwn.h>

#include <utility>

namespace vorlix {

template <typename T>
class ComRef {
public:
    ComRef() = default;
    // Takes over a reference the caller already holds.
    explicit ComRef(T* owned) : ptr_(owned) {}
    ComRef(const ComRef& other) : ptr_(other.ptr_) {
        if (ptr_) ptr_->AddRef();
    }
    ComRef(ComRef&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
    ComRef& operator=(ComRef other) noexcept {
        std::swap(ptr_, other.ptr_);
        return *this;
    }
    ~ComRef() { reset(); }

    void reset() {
        if (ptr_) std::exchange(ptr_, nullptr)->Release();
    }
    T* get() const { return ptr_; }
    T* operator->() const { return ptr_; }
    explicit operator bool() const { return ptr_ != nullptr; }
    // For out-parameters: releases what is held first.
    T** put() {
        reset();
        return &ptr_;
    }
    void** put_void() { return reinterpret_cast<void**>(put()); }

    template <typename U>
    ComRef<U> query() const {
        ComRef<U> other;
        if (ptr_) ptr_->QueryInterface(__uuidof(U), other.put_void());
        return other;
    }

private:
    T* ptr_ = nullptr;
};

// COM for the multithreaded apartment on this thread while it lives;
// uninitialised at the end only when the initialisation succeeded.
class ComApartment {
public:
    ComApartment() : entered_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {}
    ~ComApartment() {
        if (entered_) CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    bool entered_;
};

}  // namespace vorlix
