// Bounded copies and formats into fixed-size UTF-16 buffers. Every helper
// cuts text that does not fit and always terminates the destination, so a
// buffer handed to TAPI or written to a file can never run over.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cwchar>

// Copies at most min(cchMax, cchDest - 1) characters of pszSrc (null means
// empty) into pszDest and terminates it. Returns the number copied.
inline size_t BoundedCopy(wchar_t* pszDest, size_t cchDest, const wchar_t* pszSrc,
                          size_t cchMax = static_cast<size_t>(-1)) {
    if (pszDest == nullptr || cchDest == 0) return 0;
    size_t n = 0;
    if (pszSrc != nullptr) {
        size_t limit = cchDest - 1 < cchMax ? cchDest - 1 : cchMax;
        while (n < limit && pszSrc[n] != L'\0') {
            pszDest[n] = pszSrc[n];
            ++n;
        }
    }
    pszDest[n] = L'\0';
    return n;
}

// Appends pszSrc after the text already in pszDest, cutting at the buffer end.
inline size_t BoundedAppend(wchar_t* pszDest, size_t cchDest, const wchar_t* pszSrc) {
    if (pszDest == nullptr || cchDest == 0) return 0;
    size_t len = wcsnlen(pszDest, cchDest - 1);
    return len + BoundedCopy(pszDest + len, cchDest - len, pszSrc);
}

// printf-style formatting with Windows semantics: in a wide format "%s" takes a
// wide string (mingw's C99 swprintf would read it as narrow, so it is never used).
// Output that does not fit is cut; the result is always terminated.
inline size_t BoundedFormatV(wchar_t* pszDest, size_t cchDest, const wchar_t* pszFormat, va_list args) {
    if (pszDest == nullptr || cchDest == 0) return 0;
#ifdef _WIN32
    int n = _vsnwprintf(pszDest, cchDest - 1, pszFormat, args);
#else
    int n = vswprintf(pszDest, cchDest, pszFormat, args);
#endif
    if (n < 0 || static_cast<size_t>(n) >= cchDest - 1) {
        pszDest[cchDest - 1] = L'\0';
        return wcslen(pszDest);
    }
    pszDest[n] = L'\0';
    return static_cast<size_t>(n);
}

inline size_t BoundedFormat(wchar_t* pszDest, size_t cchDest, const wchar_t* pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    size_t n = BoundedFormatV(pszDest, cchDest, pszFormat, args);
    va_end(args);
    return n;
}

// Array forms: the destination size is taken from the array itself.
template <size_t N>
inline size_t StrCopy(wchar_t (&szDest)[N], const wchar_t* pszSrc, size_t cchMax = static_cast<size_t>(-1)) {
    return BoundedCopy(szDest, N, pszSrc, cchMax);
}

template <size_t N>
inline size_t StrAppend(wchar_t (&szDest)[N], const wchar_t* pszSrc) {
    return BoundedAppend(szDest, N, pszSrc);
}

template <size_t N>
inline size_t StrFormat(wchar_t (&szDest)[N], const wchar_t* pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    size_t n = BoundedFormatV(szDest, N, pszFormat, args);
    va_end(args);
    return n;
}
