// Writes sample archives with the container code into the folder given (a Windows path),
// for a native unzip to test: a plain one and one with every ZIP64 record forced.
#include <windows.h>

#include <cstdio>
#include <string>

#include "ZipArchive.h"

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        return 2;
    }
    const std::wstring folder = argv[1];
    const std::wstring source = folder + L"\\payload.bin";
    std::string payload(2 << 20, '\0');
    uint32_t state = 7;
    for (size_t i = 0; i < payload.size(); ++i) {
        state = state * 1103515245u + 12345u;
        payload[i] = i < payload.size() / 2 ? static_cast<char>('a' + i % 3)
                                            : static_cast<char>(state >> 24);
    }
    {
        const UniqueFile file(
            CreateFileW(source.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        DWORD written = 0;
        WriteFile(file.Get(), payload.data(), static_cast<DWORD>(payload.size()), &written,
                  nullptr);
    }
    int failures = 0;
    for (bool zip64 : {false, true}) {
        const std::wstring path = folder + (zip64 ? L"\\zip64.zip" : L"\\plain.zip");
        const UniqueFile out(
            CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        ZipWriter writer(out.Get(), ZipWriter::Options{zip64, 6});
        failures += writer.AddBytes("manifest.txt", "manifest\r\n") != ZipStatus::Ok;
        failures += writer.AddFile("vendor/payload.bin", source) != ZipStatus::Ok;
        failures += writer.AddBytes("empty.txt", "") != ZipStatus::Ok;
        failures += writer.Finish() != ZipStatus::Ok;
    }
    DeleteFileW(source.c_str());
    return failures;
}
