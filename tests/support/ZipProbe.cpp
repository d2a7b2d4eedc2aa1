// Writes sample archives with the container code into the folder given (a Windows path),
// for native readers to test: a plain one, one with every ZIP64 record forced, and one of
// compressible files whose sizes fall on and around the edges of the sample and the blocks
// deflated on worker threads, written once with one worker and once with one per processor.
// With --big also one whose single deflated entry holds more than 4 GiB.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "WinResources.h"
#include "ZipWriter.h"
#include "Noise.h"

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
    std::string payload(1 << 20, '\0');
    for (size_t i = 0; i < payload.size(); ++i) {
        payload[i] = static_cast<char>('a' + i % 3);
    }
    payload += Noise(1 << 20, 7);
    int failures = !WriteFileBytes(source, payload.data(), payload.size());
    for (bool zip64 : {false, true}) {
        const std::wstring path = folder + (zip64 ? L"\\zip64.zip" : L"\\plain.zip");
        const UniqueFile out(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                         CREATE_ALWAYS, 0, nullptr));
        ZipOptions options;
        options.level = 6;
        // Limits of 0: every ZIP64 record, as sizes of 4 GiB and more would have them.
        ZipWriter writer(out.Get(), options, zip64 ? ZipLimits{0, 0, 0} : kZipLimits);
        failures += writer.AddBytes("manifest.txt", "manifest\r\n", kProbeTime) != ZipStatus::Ok;
        failures += writer.AddFile("vendor/payload.bin", source) != ZipStatus::Ok;
        failures += writer.AddBytes("empty.txt", "", kProbeTime) != ZipStatus::Ok;
        failures += writer.Finish() != ZipStatus::Ok;
    }
    DeleteFileW(source.c_str());
    return failures;
}

// The archive of `write(writer)` written twice into `folder`: with one worker as `oneName`,
// with one per processor as `manyName`. The number of failures.
template <typename Write>
int WriteWithOneWorkerAndMany(const std::wstring& folder, const wchar_t* oneName,
                              const wchar_t* manyName, Write write) {
    int failures = 0;
    for (const bool many : {false, true}) {
        const std::wstring path = folder + L"\\" + (many ? manyName : oneName);
        const UniqueFile out(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                         CREATE_ALWAYS, 0, nullptr));
        ZipOptions options;
        options.workers = many ? ProcessorWorkers() : 1;
        ZipWriter writer(out.Get(), options, kZipLimits);
        failures += write(writer);
        failures += writer.Finish() != ZipStatus::Ok;
    }
    return failures;
}

// Compressible content cut to sizes around the 64 KiB stretches and the 512 KiB blocks.
int WriteBlockArchives(const std::wstring& folder) {
    const size_t sample = 64 << 10, block = 512 << 10;
    const std::string text = NoiseLetters(sample + 9 * block + 4321, 11, 3);
    return WriteWithOneWorkerAndMany(
        folder, L"blocks-one.zip", L"blocks.zip", [&](ZipWriter& writer) {
            int failures = writer.AddBytes("empty.txt", "", kProbeTime) != ZipStatus::Ok;
            failures += writer.AddBytes("one.txt", "1", kProbeTime) != ZipStatus::Ok;
            for (size_t size : {size_t{1000}, sample, sample + 1, sample + block,
                                sample + block + 1, text.size()}) {
                const std::wstring file = folder + L"\\part.bin";
                failures += !WriteFileBytes(file, text.data(), size);
                failures +=
                    writer.AddFile("text-" + std::to_string(size) + ".txt", file) != ZipStatus::Ok;
                DeleteFileW(file.c_str());
            }
            return failures;
        });
}

// Files of stretches that shrink and stretches that do not, of lengths on and off the 64 KiB
// stretches and 512 KiB blocks: noise then text, text then noise, noise between text, text
// between noise, short stretches inside one block and long ones across several. Written once
// with one worker and once with one per processor.
std::vector<std::pair<std::string, std::string>> MixedParts() {
    uint32_t seed = 5;
    auto noise = [&](size_t n) { return Noise(n, seed++); };
    auto text = [](size_t n) {
        std::string out(n, '\0');
        for (size_t i = 0; i < n; ++i) {
            out[i] = static_cast<char>("patch setup install "[i % 20]);
        }
        return out;
    };
    return {
        {"noise-then-text", noise(700 << 10) + text(900 << 10)},
        {"text-then-noise", text(300 << 10) + noise(1200 << 10)},
        {"noise-text-noise", noise(1100 << 10) + text(70000) + noise(600 << 10)},
        {"text-noise-text", text(5000) + noise(100000) + text(3 << 20)},
        {"short-stretches", noise(30000) + text(20000) + noise(70000) + text(100) + noise(3)},
        {"noise-only", noise(2 << 20)},
    };
}

int WriteMixedArchives(const std::wstring& folder) {
    const std::vector<std::pair<std::string, std::string>> mixes = MixedParts();
    return WriteWithOneWorkerAndMany(
        folder, L"mixed-one.zip", L"mixed.zip", [&](ZipWriter& writer) {
            int failures = 0;
            for (const auto& [name, bytes] : mixes) {
                const std::wstring file = folder + L"\\part.bin";
                failures += !WriteFileBytes(file, bytes.data(), bytes.size());
                // One time for every part, whenever it was written: the archives compare byte
                // for byte.
                const UniqueFile part(CreateFileW(file.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                                                  OPEN_EXISTING, 0, nullptr));
                const FILETIME time{0x92810000, 0x01DC7AB1};  // 2026-01-01 00:00:00 UTC
                failures += !SetFileTime(part.Get(), nullptr, nullptr, &time);
                failures += writer.AddFile(name + ".bin", file) != ZipStatus::Ok;
            }
            DeleteFileW((folder + L"\\part.bin").c_str());
            return failures;
        });
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
    const UniqueFile out(CreateFileW((folder + L"\\big.zip").c_str(), GENERIC_READ | GENERIC_WRITE,
                                     0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ZipWriter writer(out.Get(), ZipOptions{}, kZipLimits);
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
    int failures =
        WriteSampleArchives(folder) + WriteBlockArchives(folder) + WriteMixedArchives(folder);
    if (argc > 2 && std::wstring(argv[2]) == L"--big") {
        failures += WriteBigArchive(folder);
    }
    return failures;
}
