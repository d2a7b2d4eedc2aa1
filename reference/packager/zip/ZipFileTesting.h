#pragma once

// Test data and archives on files for the tests of the archive's reader and writer.

#include <string>
#include <utility>
#include <vector>

#include "Noise.h"
#include "TestEnv.h"
#include "WinResources.h"
#include "ZipWriter.h"

// `size` bytes that deflate well, or noise that does not.
inline std::string Pattern(size_t size, bool compressible) {
    if (!compressible) {
        return Noise(size, 12345);
    }
    std::string data(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        data[i] = static_cast<char>('a' + (i / 7) % 5);
    }
    return data;
}

// Writes an archive at `path`: a "manifest.txt" of `manifest`, then each file (entry name,
// source path). False when any step fails.
inline bool WriteArchive(const std::wstring& path, const ZipOptions& options,
                         const ZipLimits& limits,
                         const std::vector<std::pair<std::string, std::wstring>>& files,
                         const std::string& manifest) {
    const UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return false;
    }
    ZipWriter writer(file.Get(), options, limits);
    bool ok = writer.AddBytes("manifest.txt", manifest, 0) == ZipStatus::Ok;
    for (const auto& [name, source] : files) {
        ok = ok && writer.AddFile(name, source) == ZipStatus::Ok;
    }
    return ok && writer.Finish() == ZipStatus::Ok;
}
