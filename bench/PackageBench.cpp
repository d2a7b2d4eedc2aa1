// The reference packager on one data set (a folder whose vendor\ holds the files), against
// a durable copy of the same bytes (CopyFileW, then FlushFileBuffers on each copy: the package
// is flushed too before it is renamed into place), measured in turns, one copy then one
// package, round after round, so that a machine busy for a moment costs both alike.
// Usage: package_bench <set name> <set folder> [--rounds N] [--pinned] [--threads] [--crc]
//        [--verdicts]
//   --pinned   also the package with every file pinned in the catalog, against the platform's
//              SHA-256 (CNG) of the same bytes: "pinned: package / platform SHA-256 ...: X.XX"
//   --threads  also the encoding with one worker against one per processor
//   --crc      also the CRC-32 in memory: zlib's, the tables, the packager's
//   --verdicts also how the stretch test's verdicts compare with what deflate makes of each
//              64 KiB stretch alone, and what the test costs against deflating
// Its last line is "result <set> <package MiB/s> <package bytes>" for tools/bench.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <zlib.h>

#include "Crc32.h"
#include "PackagerInterface.h"
#include "Queries.h"
#include "Sha256.h"
#include "StretchCodec.h"
#include "Text.h"
#include "WinResources.h"
#include "ZipWriter.h"

namespace {

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The best of a run of timings, and how far the worst lies above it.
struct Timings {
    std::vector<double> seconds;
    double Best() const { return *std::min_element(seconds.begin(), seconds.end()); }
    double Spread() const {
        return (*std::max_element(seconds.begin(), seconds.end()) - Best()) / Best();
    }
};

bool WriteWhole(const std::wstring& path, const std::string& data) {
    const UniqueFile file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD done = 0;
    return file &&
           WriteFile(file.Get(), data.data(), static_cast<DWORD>(data.size()), &done, nullptr) &&
           done == data.size();
}

bool Flush(const std::wstring& path) {
    const UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
    return file && FlushFileBuffers(file.Get());
}

struct DataSet {
    std::vector<std::wstring> names;  // under vendor\, sorted
    uint64_t bytes = 0;
    double Mib() const { return static_cast<double>(bytes) / (1 << 20); }
};

DataSet ListSet() {
    DataSet set;
    WIN32_FIND_DATAW data;
    const UniqueFind find(FindFirstFileW(L"vendor\\*", &data));
    while (find) {
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            set.names.push_back(data.cFileName);
            set.bytes += (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
        }
        if (!FindNextFileW(find.Get(), &data)) {
            break;
        }
    }
    std::sort(set.names.begin(), set.names.end());
    return set;
}

// The platform's SHA-256 (CNG) of a file's bytes, read as the packager reads them.
bool HashFile(const std::wstring& path, Sha256Digest* digest) {
    const UniqueFile in(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    Sha256 sha;
    std::string piece(1 << 20, '\0');
    DWORD got = 0;
    while (in &&
           ReadFile(in.Get(), piece.data(), static_cast<DWORD>(piece.size()), &got, nullptr) &&
           got > 0) {
        sha.Update(piece.data(), got);
    }
    return in && sha.Finish(digest);
}

// The catalog of the set, one patch a file, pinning each file's digest when `pinned`.
bool WriteCatalog(const DataSet& set, bool pinned) {
    std::string csv =
        pinned ? "guid,language,vendor_file,sha256,title\n" : "guid,language,vendor_file,title\n";
    for (size_t i = 0; i < set.names.size(); ++i) {
        const std::wstring path = L"vendor\\" + set.names[i];
        Sha256Digest digest{};
        if (pinned && !HashFile(path, &digest)) {
            return false;
        }
        char line[64];
        std::snprintf(line, sizeof(line), "%08zX-0000-0000-0000-000000000001,0x0409,", i + 1);
        csv += line + ToUtf8(path) + "," + (pinned ? Sha256Text(digest) + "," : "") + "bench\n";
    }
    WriteWhole(L"patches.csv", csv);
    const UniqueFile catalog(CreateFileW(L"windowspatchdata.zip", GENERIC_READ | GENERIC_WRITE, 0,
                                         nullptr, CREATE_ALWAYS, 0, nullptr));
    ZipWriter writer(catalog.Get(), ZipOptions{}, kZipLimits);
    return writer.AddFile("patches.csv", L"patches.csv") == ZipStatus::Ok &&
           writer.Finish() == ZipStatus::Ok;
}

class Bench {
  public:
    Bench(IPackager* library, std::wstring setFolder, const DataSet& files)
        : packager(library), folder(std::move(setFolder)), set(files) {
        for (size_t i = 0; i < set.names.size(); ++i) {
            PackageItem item{};
            item.id = GUID{static_cast<unsigned long>(i + 1), 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};
            item.languageId = 0x409;
            item.index = static_cast<uint32_t>(i);
            items.push_back(item);
        }
    }

    bool Initialize() {
        const std::wstring catalog = folder + L"\\windowspatchdata.zip";
        PackagerInitInfo info{};
        info.catalogFile = catalog.c_str();
        return packager->Initialize(&info) == 0;
    }

    // One package of the set; its time, 0 on failure.
    double Package() {
        const PackageRequest request{
            L"local", 0, static_cast<uint32_t>(items.size()), items.data(), {0, 0}};
        DeploymentOptions options{};
        options.flags = kRemoveTempFilesFlags;
        const std::wstring package = folder + L"\\package.zip";
        const double start = Now();
        const int32_t status = packager->CreatePackage(&request, package.c_str(), &options);
        const double took = Now() - start;
        if (status != 0) {
            std::fprintf(stderr, "CreatePackage failed: 0x%08X\n", static_cast<unsigned>(status));
            return 0;
        }
        return took;
    }

    // One durable copy of the set; its time, 0 on failure.
    double DurableCopy() {
        CreateDirectoryW(L"copies", nullptr);
        const double start = Now();
        for (const std::wstring& name : set.names) {
            const std::wstring copy = L"copies\\" + name;
            if (!CopyFileW((L"vendor\\" + name).c_str(), copy.c_str(), FALSE) || !Flush(copy)) {
                return 0;
            }
        }
        const double took = Now() - start;
        for (const std::wstring& name : set.names) {
            DeleteFileW((L"copies\\" + name).c_str());
        }
        RemoveDirectoryW(L"copies");
        return took;
    }

    // CNG's SHA-256 of every file of the set, one after another; its time.
    double HashAll() {
        const double start = Now();
        for (const std::wstring& name : set.names) {
            Sha256Digest digest;
            HashFile(L"vendor\\" + name, &digest);
        }
        return Now() - start;
    }

    // The set packed in-process with `workers` encoding threads (0: one per processor).
    double Encode(unsigned workers) {
        const double start = Now();
        {
            std::vector<UniqueFile> opened;
            std::vector<PackItem> files;
            for (const std::wstring& name : set.names) {
                opened.emplace_back(CreateFileW((L"vendor\\" + name).c_str(), GENERIC_READ,
                                                FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
                files.push_back({ToUtf8(L"vendor/" + name), opened.back().Get(), {}});
            }
            const UniqueFile out(CreateFileW(L"inprocess.zip", GENERIC_READ | GENERIC_WRITE, 0,
                                             nullptr, CREATE_ALWAYS, 0, nullptr));
            ZipOptions options;
            options.workers = workers == 0 ? ProcessorWorkers() : workers;
            ZipWriter writer(out.Get(), options, kZipLimits);
            if (writer.AddFiles(files, [](size_t, const PackOutcome&) { return true; }).status !=
                    ZipStatus::Ok ||
                writer.Finish() != ZipStatus::Ok) {
                return 0;
            }
        }
        const double took = Now() - start;
        DeleteFileW(L"inprocess.zip");
        return took;
    }

  private:
    IPackager* packager;
    std::wstring folder;
    const DataSet& set;
    std::vector<PackageItem> items;
};

void Line(const char* what, const Timings& t, double mib) {
    std::printf("%-30s %7.3f s  %6.0f MiB/s  (spread %.0f%% over %zu rounds)\n", what, t.Best(),
                mib / t.Best(), 100 * t.Spread(), t.seconds.size());
}

// The checksum alone, in memory, best of 3: zlib's, the table-driven fallback, and what the
// packager uses (folding where the processor has it).
void MeasureCrc() {
    std::string data(64 << 20, '\0');
    uint64_t state = 88172645463325252ull;
    for (size_t i = 0; i + 8 <= data.size(); i += 8) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        std::memcpy(&data[i], &state, 8);
    }
    auto rate = [&](auto crc) {
        double best = 1e9;
        for (int round = 0; round < 3; ++round) {
            const double start = Now();
            volatile uint32_t value = crc(data.data(), data.size());
            (void)value;
            best = std::min(best, Now() - start);
        }
        return 64 / best;
    };
    std::printf("CRC-32 in memory: zlib %.0f MiB/s, tables %.0f MiB/s, packager %.0f MiB/s\n",
                rate([](const char* p, size_t n) {
                    return static_cast<uint32_t>(
                        crc32(0, reinterpret_cast<const Bytef*>(p), static_cast<uInt>(n)));
                }),
                rate([](const char* p, size_t n) { return Crc32Tables(0, p, n); }),
                rate([](const char* p, size_t n) { return Crc32(0, p, n); }));
}

// Every stretch of the set judged (StretchShrinks) and deflated alone (zlib level 1): how
// often the verdict matches what deflate makes of it, by bytes, and the time of each.
void MeasureVerdicts(const DataSet& set) {
    uint64_t bytes[2][2] = {};  // [judged to shrink][shrinks by a tenth]
    double judging = 0, deflating = 0;
    std::string data, out;
    for (const std::wstring& name : set.names) {
        const UniqueFile in(CreateFileW((L"vendor\\" + name).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
        LARGE_INTEGER size;
        GetFileSizeEx(in.Get(), &size);
        data.resize(static_cast<size_t>(size.QuadPart));
        DWORD got = 0;
        ReadFile(in.Get(), data.data(), static_cast<DWORD>(data.size()), &got, nullptr);
        for (size_t at = 0; at < data.size(); at += kStretchSize) {
            const size_t n = std::min(kStretchSize, data.size() - at);
            const auto* p = reinterpret_cast<const unsigned char*>(data.data() + at);
            double start = Now();
            const bool judged = StretchShrinks(p, n);
            judging += Now() - start;
            start = Now();
            z_stream stream{};
            deflateInit2(&stream, 1, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
            out.resize(deflateBound(&stream, static_cast<uLong>(n)));
            stream.next_in = const_cast<Bytef*>(p);
            stream.avail_in = static_cast<uInt>(n);
            stream.next_out = reinterpret_cast<Bytef*>(out.data());
            stream.avail_out = static_cast<uInt>(out.size());
            deflate(&stream, Z_FINISH);
            const size_t deflated = out.size() - stream.avail_out;
            deflateEnd(&stream);
            deflating += Now() - start;
            bytes[judged][deflated * 10 <= n * 9] += n;
        }
    }
    const double all = static_cast<double>(set.bytes) / 100;
    std::printf(
        "stretch verdicts (64 KiB alone, against zlib level 1): judged to shrink and "
        "shrank by a tenth %.1f%%, judged to shrink but did not %.1f%%, judged not to "
        "but would %.1f%%, judged not to and would not %.1f%%\n",
        bytes[1][1] / all, bytes[1][0] / all, bytes[0][1] / all, bytes[0][0] / all);
    std::printf("stretch test: %.3f s, deflating every stretch %.3f s (%.1f%%)\n", judging,
                deflating, 100 * judging / deflating);
}

std::wstring ExeFolder() {
    RealModuleFileName source;
    const std::wstring exe = ExecutablePath(source).text;
    return exe.substr(0, exe.find_last_of(L'\\'));
}

uint64_t FileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    return GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)
               ? (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow
               : 0;
}

// The copy and the package in turns; then the pinned package and the hash in turns.
int Measure(IPackager* packager, const std::string& name, const std::wstring& folder, int rounds,
            bool pinned, bool threads, bool verdicts) {
    const DataSet set = ListSet();
    if (set.names.empty() || !WriteCatalog(set, false)) {
        std::fprintf(stderr, "no data set in %s\n", ToUtf8(folder).c_str());
        return 2;
    }
    Bench bench(packager, folder, set);
    if (!bench.Initialize()) {
        std::fprintf(stderr, "cannot read the bench catalog\n");
        return 2;
    }
    Timings copy, package;
    for (int round = 0; round < rounds; ++round) {
        copy.seconds.push_back(bench.DurableCopy());
        package.seconds.push_back(bench.Package());
        if (copy.seconds.back() <= 0 || package.seconds.back() <= 0) {
            return 2;
        }
    }
    const uint64_t packageBytes = FileSize(folder + L"\\package.zip");
    std::printf("== %s: %zu files, %.1f MiB\n", name.c_str(), set.names.size(), set.Mib());
    Line("durable copy (+ flush):", copy, set.Mib());
    Line("CreatePackage:", package, set.Mib());
    std::printf("package: %llu bytes (%.3f of the files)\n",
                static_cast<unsigned long long>(packageBytes),
                static_cast<double>(packageBytes) / static_cast<double>(set.bytes));
    std::printf("throughput ratio (package / durable copy): %.2f\n", copy.Best() / package.Best());
    if (pinned) {
        Timings hashed, packedPinned;
        if (!WriteCatalog(set, true) || !bench.Initialize()) {
            return 2;
        }
        for (int round = 0; round < rounds; ++round) {
            hashed.seconds.push_back(bench.HashAll());
            packedPinned.seconds.push_back(bench.Package());
        }
        Line("SHA-256 (CNG, one thread):", hashed, set.Mib());
        Line("CreatePackage, every file pinned:", packedPinned, set.Mib());
        std::printf("pinned: package / platform SHA-256 of the same bytes: %.2f\n",
                    hashed.Best() / packedPinned.Best());
    }
    if (threads) {
        Timings one, every;
        for (int round = 0; round < std::min(rounds, 3); ++round) {
            one.seconds.push_back(bench.Encode(1));
            every.seconds.push_back(bench.Encode(0));
        }
        Line("encoded, one worker:", one, set.Mib());
        Line("encoded, one per processor:", every, set.Mib());
        std::printf("encoding speed-up (every processor / one worker): %.2f\n",
                    one.Best() / every.Best());
    }
    if (verdicts) {
        MeasureVerdicts(set);
    }
    DeleteFileW((folder + L"\\package.zip").c_str());
    std::printf("result %s %.1f %llu\n", name.c_str(), set.Mib() / package.Best(),
                static_cast<unsigned long long>(packageBytes));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr,
                     "usage: package_bench <set name> <set folder> [--rounds N] "
                     "[--pinned] [--threads] [--crc]\n");
        return 2;
    }
    const std::string name = argv[1];
    const std::wstring folder = FromUtf8(argv[2]);
    int rounds = 5;
    bool pinned = false, threads = false, crc = false, verdicts = false;
    for (int i = 3; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--rounds" && i + 1 < argc) {
            rounds = std::max(1, std::atoi(argv[++i]));
        }
        pinned |= arg == "--pinned";
        threads |= arg == "--threads";
        crc |= arg == "--crc";
        verdicts |= arg == "--verdicts";
    }
    const UniqueModule library(
        LoadLibraryW((ExeFolder() + L"\\reference\\KQPackager.dll").c_str()));
    auto create = FunctionCast<CreatePackagerFn>(GetProcAddress(library.Get(), "CreatePackager"));
    IPackager* created = nullptr;
    if (create == nullptr || create(&IID_IPackager, &created) < 0 || created == nullptr) {
        std::fprintf(stderr, "cannot load reference\\KQPackager.dll\n");
        return 2;
    }
    const UniqueComReference<IPackager> packager(created);
    if (crc) {
        MeasureCrc();
    }
    if (!SetCurrentDirectoryW(folder.c_str())) {
        std::fprintf(stderr, "no folder %s\n", argv[2]);
        return 2;
    }
    return Measure(packager.Get(), name, folder, rounds, pinned, threads, verdicts);
}
