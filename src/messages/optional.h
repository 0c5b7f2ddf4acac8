// The daemon's optional value: a value and an engaged flag. An empty optional
// still carries a value, zero-filled (value-initialised), so reading it never
// touches uninitialised memory.
#pragma once

#include <utility>

template <class T>
class optional {
  public:
    optional() : value_(), engaged_(false) {}
    optional(const T& v) : value_(v), engaged_(true) {}  // NOLINT: implicit like std::optional
    optional(T&& v) : value_(std::move(v)), engaged_(true) {}  // NOLINT

    bool has_value() const { return engaged_; }
    explicit operator bool() const { return engaged_; }

    // The value; zero-filled when empty.
    T& value() { return value_; }
    const T& value() const { return value_; }
    T& operator*() { return value_; }
    const T& operator*() const { return value_; }
    T* operator->() { return &value_; }
    const T* operator->() const { return &value_; }

    template <class U>
    T value_or(U&& fallback) const {
        return engaged_ ? value_ : static_cast<T>(std::forward<U>(fallback));
    }

    // Engages with V.
    optional& operator=(const T& v) {
        value_ = v;
        engaged_ = true;
        return *this;
    }
    optional& operator=(T&& v) {
        value_ = std::move(v);
        engaged_ = true;
        return *this;
    }
    // Empties and zero-fills.
    void reset() {
        value_ = T();
        engaged_ = false;
    }

  private:
    T value_;
    bool engaged_;
};
