// A value of each thread, in a thread-local storage slot of Windows' own.
// The compiler's thread_local is emulated here through the statically
// linked pthread layer, which makes every thread that touches one known to
// that layer, with a copy of its handle, an event and two semaphores, given
// back only when the thread ends. The telephony service's threads outlive
// an unload of the library: each load and unload would leave them behind.
// A slot is taken when the library loads and given back when it unloads.
#pragma once

#include <windows.h>

#include <type_traits>

// T: a pointer, or an integer no wider than one. Each thread starts with T{}.
template <typename T>
class ThreadSlot {
    static_assert(std::is_pointer_v<T> || (std::is_integral_v<T> && sizeof(T) <= sizeof(void*)));

public:
    ThreadSlot() = default;
    ~ThreadSlot() {
        if (m_dwSlot != 0) TlsFree(m_dwSlot - 1);
    }
    ThreadSlot(const ThreadSlot&) = delete;
    ThreadSlot& operator=(const ThreadSlot&) = delete;

    T Get() const {
        if (m_dwSlot == 0) return T{};
        void* pValue = TlsGetValue(m_dwSlot - 1);
        if constexpr (std::is_pointer_v<T>) return static_cast<T>(pValue);
        else return static_cast<T>(reinterpret_cast<INT_PTR>(pValue));
    }
    // False when the process has no slot left (the value stays T{}).
    bool Set(T value) {
        if (m_dwSlot == 0) return false;
        void* pValue;
        if constexpr (std::is_pointer_v<T>) pValue = const_cast<void*>(static_cast<const void*>(value));
        else pValue = reinterpret_cast<void*>(static_cast<INT_PTR>(value));
        return TlsSetValue(m_dwSlot - 1, pValue) != FALSE;
    }

private:
    // The slot's index plus one: 0 (as zero-initialised, before the library's
    // constructors ran, or when none was left) is no slot.
    DWORD m_dwSlot = TlsAlloc() + 1;
};
