// Writes sample archives with the container code into the folder given (a Windows path),
// for native readers to test: a plain one, one with every ZIP64 record forced, and one of
// compressible files whose sizes fall on and around the edges of the sample and the blocks
// deflated on worker threads, written once with one worker and once with one per processor.
// With --big also one whose single deflated entry holds more than 4 GiB.
#include <windows.h>

#include <cstdio>
#include <string>

#include "ZipArchive.h"

namespace {

// 2026-01-01 00:00:07 UTC: the time of the probe's byte entries, an odd second on purpose.
constexpr int64_t kProbeTime = 1767225607;

bool WriteFileBytes(const std::wstring& path, const char* data, size_t size) {
    const UniqueFile file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    return file && WriteFile(file.Get(), data, static_cast<DWORD>(size), &written, nullptr) &&
           written == size;
}

// Half repeating text, half noise: one entry that deflates and one read in several pieces.
int WriteSampleArchives(const std::wstring& folder) {
    const std::wstring source = folder + L"\\payload.bin";
    std::string payload(2 << 20, '\0');
    uint32_t state = 7;
    for (size_t i = 0; i < payload.size(); ++i) {
        state = state * 1103515245u + 12345u;
        payload[i] = i < payload.size() / 2 ? static_cast<char>('a' + i % 3)
                                            : static_cast<char>(state >> 24);
    }
    int failures = !WriteFileBytes(source, payload.data(), payload.size());
    for (bool zip64 : {false, true}) {
        const std::wstring path = folder + (zip64 ? L"\\zip64.zip" : L"\\plain.zip");
        const UniqueFile out(
            CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        ZipWriter writer(out.Get(), ZipWriter::Options{zip64, 6});
        failures += writer.AddBytes("manifest.txt", "manifest\r\n", kProbeTime) != ZipStatus::Ok;
        failures += writer.AddFile("vendor/payload.bin", source) != ZipStatus::Ok;
        failures += writer.AddBytes("empty.txt", "", kProbeTime) != ZipStatus::Ok;
        failures += writer.Finish() != ZipStatus::Ok;
    }
    DeleteFileW(source.c_str());
    return failures;
}

// Compressible content cut to sizes around the 256 KiB sample and the 512 KiB blocks.
int WriteBlockArchives(const std::wstring& folder) {
    const size_t sample = 256 << 10, block = 512 << 10;
    std::string text(sample + 9 * block + 4321, '\0');
    uint32_t state = 11;
    for (char& c : text) {
        state = state * 1103515245u + 12345u;
        c = static_cast<char>('a' + (state >> 29));
    }
    int failures = 0;
    for (unsigned workers : {1u, 0u}) {
        const std::wstring path = folder + (workers == 1 ? L"\\blocks-one.zip" : L"\\blocks.zip");
        const UniqueFile out(
            CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        ZipWriter::Options options;
        options.deflateWorkers = workers;
        ZipWriter writer(out.Get(), options);
        failures += writer.AddBytes("empty.txt", "", kProbeTime) != ZipStatus::Ok;
        failures += writer.AddBytes("one.txt", "1", kProbeTime) != ZipStatus::Ok;
        for (size_t size :
             {size_t{1000}, sample, sample + 1, sample + block, sample + block + 1, text.size()}) {
            const std::wstring file = folder + L"\\part.bin";
            failures += !WriteFileBytes(file, text.data(), size);
            failures +=
                writer.AddFile("text-" + std::to_string(size) + ".txt", file) != ZipStatus::Ok;
            DeleteFileW(file.c_str());
        }
        failures += writer.Finish() != ZipStatus::Ok;
    }
    return failures;
}

// More than 4 GiB of zeros, sparse on disk: its deflated entry needs the ZIP64 fields in its
// local header and the directory.
int WriteBigArchive(const std::wstring& folder) {
    const std::wstring big = folder + L"\\zeros.bin";
    int failures = 0;
    {
        const UniqueFile file(
            CreateFileW(big.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        LARGE_INTEGER size;
        size.QuadPart = (4ll << 30) + 12345;
        failures +=
            !SetFilePointerEx(file.Get(), size, nullptr, FILE_BEGIN) || !SetEndOfFile(file.Get());
    }
    const UniqueFile out(CreateFileW((folder + L"\\big.zip").c_str(), GENERIC_WRITE, 0, nullptr,
                                     CREATE_ALWAYS, 0, nullptr));
    ZipWriter writer(out.Get());
    failures += writer.AddFile("zeros.bin", big) != ZipStatus::Ok;
    failures += writer.Finish() != ZipStatus::Ok;
    DeleteFileW(big.c_str());
    return failures;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        return 2;
    }
    const std::wstring folder = argv[1];
    int failures = WriteSampleArchives(folder) + WriteBlockArchives(folder);
    if (argc > 2 && std::wstring(argv[2]) == L"--big") {
        failures += WriteBigArchive(folder);
    }
    return failures;
}
