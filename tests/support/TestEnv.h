#pragma once

#include <string>

#include "Text.h"

// Folder of the running test executable: every binary of the build lands there.
std::wstring BinDir();

// Path of a file in the build's bin folder.
std::wstring BinPath(const std::wstring& name);

// A fresh folder under %TEMP%, removed with everything in it when the object goes.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::wstring& Path() const { return path; }
    std::wstring operator/(const std::wstring& name) const { return path + L"\\" + name; }

  private:
    std::wstring path;
};

// Removes a folder tree (long paths included); true when nothing is left.
bool RemoveTree(const std::wstring& path);

// Whole-file helpers for tests; UTF-8 on disk.
bool WriteTextFile(const std::wstring& path, const std::string& content);
std::string ReadTextFile(const std::wstring& path);

// Installs a ZelNSEvent.dll into <Common Files>\Quorvel of the Wine prefix for the lifetime
// of the object, so that processes started meanwhile bind it as the real one. Tests that use
// it share the "common_files" resource lock.
class InstalledEventLibrary {
  public:
    explicit InstalledEventLibrary(const std::wstring& sourceDll);
    ~InstalledEventLibrary();
    InstalledEventLibrary(const InstalledEventLibrary&) = delete;
    InstalledEventLibrary& operator=(const InstalledEventLibrary&) = delete;
    bool Installed() const { return installed; }
    static std::wstring TargetPath();
    // Removes an event library left in <Common Files>\Quorvel (by an interrupted test, say):
    // tests that expect none make sure of it. True when none is there afterwards.
    static bool EnsureAbsent();

  private:
    bool installed = false;
};
