// Files and folders for tests: a fresh temporary folder per test, and reading
// files back as text.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// A new empty folder below %TEMP%, removed with its files on destruction.
class CTempDir {
public:
    explicit CTempDir(const wchar_t* pszTag = L"orvo");
    ~CTempDir();
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;

    const std::wstring& Path() const { return m_path; }
    std::wstring File(const std::wstring& name) const { return m_path + L"\\" + name; }

private:
    std::wstring m_path;
};

// What Wine's Linux side calls a Windows path, and back; empty when unknown.
std::string UnixPath(const std::wstring& dosPath);
std::wstring DosPath(const std::string& unixPath);

// A symbolic link made on the Linux side, where Wine shows it as a junction
// or link (Wine 8 makes none itself); removed again on destruction.
class CSymbolicLink {
public:
    CSymbolicLink(const std::wstring& target, std::wstring link);
    ~CSymbolicLink();
    CSymbolicLink(const CSymbolicLink&) = delete;
    CSymbolicLink& operator=(const CSymbolicLink&) = delete;
    bool Made() const { return m_bMade; }

private:
    std::wstring m_link;
    bool m_bMade = false;
};

// Whole file as bytes; empty when it cannot be read.
std::string ReadFileBytes(const std::wstring& path);
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
bool FileExists(const std::wstring& path);
// Removes a folder with all its files and folders.
void RemoveFolderTree(const std::wstring& folder);
// Names (not paths) of the files in a folder matching a pattern, sorted.
std::vector<std::wstring> ListFiles(const std::wstring& folder, const wchar_t* pszPattern = L"*");
// UTF-8 <-> UTF-16 for comparing file contents.
std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);
std::wstring GetEnv(const wchar_t* pszName);
// The full path of the file an environment variable names.
std::wstring FullPath(const wchar_t* pszVariable);
