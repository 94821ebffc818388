// The one owner of a released-by-call resource (a handle, a key, an
// allocation): it releases what it holds when it goes, when it is reset and
// when another value is moved in, and never twice. Each kind of resource
// gives a small traits type:
//   static T Empty();         the value that holds nothing
//   static bool IsEmpty(T);   whether a value holds nothing (some APIs have two spellings)
//   static void Release(T);   gives a held value back
// The owners themselves are in common/UniqueHandle.h, common/UniqueRegKey.h,
// common/UniqueLocalMemory.h, common/UniqueHeapMemory.h and
// http/UniqueInternetHandle.h.
#pragma once

#include <cstddef>

template <typename T, typename Traits>
class UniqueResource {
public:
    UniqueResource() noexcept = default;
    explicit UniqueResource(T value) noexcept : m_value(value) {}
    ~UniqueResource() { reset(); }

    UniqueResource(UniqueResource&& other) noexcept : m_value(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;

    T get() const noexcept { return m_value; }
    explicit operator bool() const noexcept { return !Traits::IsEmpty(m_value); }

    // Hands the value over: this owner no longer releases it.
    T release() noexcept {
        T value = m_value;
        m_value = Traits::Empty();
        return value;
    }

    // Releases what is held (unless it is the value taken on) and holds value.
    void reset(T value = Traits::Empty()) noexcept {
        T old = m_value;
        m_value = value;
        if (old != value && !Traits::IsEmpty(old)) Traits::Release(old);
    }

    // For an API that writes the value to an out-parameter: releases what is
    // held and gives the address to write to.
    T* put() noexcept {
        reset();
        return &m_value;
    }

    friend bool operator==(const UniqueResource& owner, T value) noexcept { return owner.m_value == value; }

private:
    T m_value = Traits::Empty();
};
