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
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchSet.h"
#include "CodecMeasures.h"
#include "PackagerInterface.h"
#include "Queries.h"
#include "Sha256.h"
#include "Text.h"
#include "WinResources.h"
#include "ZipWriter.h"

namespace {

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

// The package with every file pinned, against CNG's SHA-256 of the same bytes, in turns.
bool MeasurePinned(Bench& bench, const DataSet& set, int rounds) {
    Timings hashed, packedPinned;
    if (!WriteCatalog(set, true) || !bench.Initialize()) {
        return false;
    }
    for (int round = 0; round < rounds; ++round) {
        hashed.seconds.push_back(bench.HashAll());
        packedPinned.seconds.push_back(bench.Package());
    }
    Line("SHA-256 (CNG, one thread):", hashed, set.Mib());
    Line("CreatePackage, every file pinned:", packedPinned, set.Mib());
    std::printf("pinned: package / platform SHA-256 of the same bytes: %.2f\n",
                hashed.Best() / packedPinned.Best());
    return true;
}

// The set encoded in-process with one worker, and with one per processor, in turns.
void MeasureThreads(Bench& bench, const DataSet& set, int rounds) {
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

// A durable copy and the package, in turns; false when either fails.
bool CopyAndPackage(Bench& bench, int rounds, Timings* copy, Timings* package) {
    for (int round = 0; round < rounds; ++round) {
        copy->seconds.push_back(bench.DurableCopy());
        package->seconds.push_back(bench.Package());
        if (copy->seconds.back() <= 0 || package->seconds.back() <= 0) {
            return false;
        }
    }
    return true;
}

// The copy and the package in turns; then, when asked, the other measures.
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
    if (!CopyAndPackage(bench, rounds, &copy, &package)) {
        return 2;
    }
    const uint64_t packageBytes = FileSize(folder + L"\\package.zip");
    std::printf("== %s: %zu files, %.1f MiB\n", name.c_str(), set.names.size(), set.Mib());
    Line("durable copy (+ flush):", copy, set.Mib());
    Line("CreatePackage:", package, set.Mib());
    std::printf("package: %llu bytes (%.3f of the files)\n",
                static_cast<unsigned long long>(packageBytes),
                static_cast<double>(packageBytes) / static_cast<double>(set.bytes));
    std::printf("throughput ratio (package / durable copy): %.2f\n", copy.Best() / package.Best());
    if (pinned && !MeasurePinned(bench, set, rounds)) {
        return 2;
    }
    if (threads) {
        MeasureThreads(bench, set, rounds);
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
