// Secrets (the PBX password, the tokens) are wiped from a buffer before the
// buffer is freed or given another text, so that they do not linger in freed
// memory, a crash dump or the page file. SecureZeroMemory, unlike memset, is
// never left out by the compiler.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// The whole buffer, beyond the text's end up to its capacity too: a shorter
// text written over a longer one leaves the longer one's tail behind.
template <typename Char>
void WipeSecret(std::basic_string<Char>& text) {
    text.resize(text.capacity());
    SecureZeroMemory(text.data(), text.size() * sizeof(Char));
    text.clear();
}

template <typename T>
void WipeSecret(std::vector<T>& bytes) {
    SecureZeroMemory(bytes.data(), bytes.capacity() * sizeof(T));
    bytes.clear();
}

template <typename Char, size_t N>
void WipeSecret(Char (&buffer)[N]) {
    SecureZeroMemory(buffer, sizeof(buffer));
}

// Gives a secret string a new text without leaving the old one anywhere: the
// old text is wiped, and the new one goes into the same buffer when it fits
// (a new buffer would leave the old one unwiped on the heap).
template <typename Char>
void AssignSecret(std::basic_string<Char>& text, const Char* pszNew) {
    WipeSecret(text);
    text.assign(pszNew != nullptr ? pszNew : std::basic_string<Char>().c_str());
}

// Wipes the secret it watches when it goes, whichever way the scope is left.
template <typename T>
class CSecretWiper {
public:
    explicit CSecretWiper(T& secret) : m_secret(secret) {}
    ~CSecretWiper() { WipeSecret(m_secret); }
    CSecretWiper(const CSecretWiper&) = delete;
    CSecretWiper& operator=(const CSecretWiper&) = delete;

private:
    T& m_secret;
};
