// Small helpers shared by the capture code: a COM reference holder and the
// text of a system error.
#pragma once

#include <windows.h>

#include <string>
#include <utility>

namespace vorlix::capture_detail {

template <typename T>
class Com {
public:
    Com() = default;
    ~Com() { reset(); }
    Com(const Com&) = delete;
    Com& operator=(const Com&) = delete;
    Com(Com&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    Com& operator=(Com&& other) noexcept {
        if (this != &other) {
            reset();
            p_ = std::exchange(other.p_, nullptr);
        }
        return *this;
    }
    void reset() {
        if (p_) p_->Release();
        p_ = nullptr;
    }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    T** put() {
        reset();
        return &p_;
    }
    template <typename U>
    HRESULT as(Com<U>& out) const {
        return p_->QueryInterface(__uuidof(U), reinterpret_cast<void**>(out.put()));
    }

private:
    T* p_ = nullptr;
};

// The system's message for a result code, or its hexadecimal form.
std::string hresult_text(HRESULT hr);
std::string last_error_text();

}  // namespace vorlix::capture_detail
