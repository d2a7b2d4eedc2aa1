// The reference packager against copies of the same bytes, in the same run, best of three.
// For each data set (incompressible vendor files, and half compressible ones) it prints
// CopyFileW, the durable copy (CopyFileW, then FlushFileBuffers on each copy: the package is
// flushed too before it is renamed into place), the flush's own share and CreatePackage, and
// the line "throughput ratio (package / durable copy): X.XX".
// Usage: package_bench [--folder <dir>] [--keep] [total MiB] [files]
// With --keep the data sets stay in <dir>\<set>\vendor for a native comparison; each set's
// folder and its package throughput are printed as "set <name> <folder> <MiB/s>".
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
#include "Deflate.h"
#include "PackagerInterface.h"
#include "Queries.h"
#include "Sha256.h"
#include "Text.h"
#include "WinResources.h"
#include "ZipArchive.h"

namespace {

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

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

struct Xorshift {
    uint64_t state = 88172645463325252ull;
    uint64_t Next() {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    }
};

// Installer-like content: random bytes, which no compressor shrinks.
void FillIncompressible(std::string& data, Xorshift& random) {
    for (size_t i = 0; i + 8 <= data.size(); i += 8) {
        const uint64_t value = random.Next();
        std::memcpy(&data[i], &value, 8);
    }
}

// Half text-like runs (words of a small vocabulary), half random blocks, in 64 KiB stretches:
// it deflates to a little over half, so the sampler compresses it.
void FillHalfCompressible(std::string& data, Xorshift& random) {
    static const char* const kWords[] = {"setup ", "patch ",   "install ",  "msi ", "update ",
                                         "file ",  "version ", "registry ", "key ", "value "};
    constexpr size_t kStretch = 64 * 1024;
    for (size_t at = 0; at < data.size(); at += kStretch) {
        const size_t end = std::min(data.size(), at + kStretch);
        if ((at / kStretch) % 2 == 0) {
            size_t i = at;
            while (i < end) {
                const char* word = kWords[random.Next() % 10];
                for (; *word != '\0' && i < end; ++word) {
                    data[i++] = *word;
                }
            }
        } else {
            for (size_t i = at; i < end; ++i) {
                data[i] = static_cast<char>(random.Next());
            }
        }
    }
}

std::wstring VendorName(size_t i) {
    wchar_t name[32];
    std::swprintf(name, 32, L"vendor\\file%02zu.msp", i);
    return name;
}

struct Figures {
    double copy = 1e9, durableCopy = 1e9, package = 1e9;
    double pinned = 0, hashed = 0;  // every file pinned, and CNG's SHA-256 alone
};

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

// Writes the catalog of `files` vendor files, pinning each file's digest when `pinned`.
bool WriteCatalog(size_t files, bool pinned) {
    std::string csv =
        pinned ? "guid,language,vendor_file,sha256,title\n" : "guid,language,vendor_file,title\n";
    for (size_t i = 0; i < files; ++i) {
        Sha256Digest digest{};
        if (pinned && !HashFile(VendorName(i), &digest)) {
            return false;
        }
        char line[128];
        std::snprintf(line, sizeof(line), "%08zX-0000-0000-0000-000000000001,0x0409,%s,", i + 1,
                      ToUtf8(VendorName(i)).c_str());
        csv += line + (pinned ? Sha256Text(digest) + "," : std::string()) + "bench\n";
    }
    WriteWhole(L"patches.csv", csv);
    const UniqueFile catalog(
        CreateFileW(L"windowspatchdata.zip", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ZipWriter writer(catalog.Get());
    return writer.AddFile("patches.csv", L"patches.csv") == ZipStatus::Ok &&
           writer.Finish() == ZipStatus::Ok;
}

// Every file of the set through CNG's SHA-256 alone, best of 3: what a pinned package is
// measured against.
double HashAll(size_t files) {
    double best = 1e9;
    for (int round = 0; round < 3; ++round) {
        const double start = Now();
        for (size_t i = 0; i < files; ++i) {
            Sha256Digest digest;
            HashFile(VendorName(i), &digest);
        }
        best = std::min(best, Now() - start);
    }
    return best;
}

// The package of the set when the catalog pins every file, best of 3; 0 on failure.
double PackagePinned(IPackager* packager, const std::wstring& folder, size_t files,
                     const PackageRequest& request) {
    if (!WriteCatalog(files, true)) {
        return 0;
    }
    const std::wstring catalogPath = folder + L"\\windowspatchdata.zip";
    PackagerInitInfo info{};
    info.catalogFile = catalogPath.c_str();
    DeploymentOptions options{};
    options.flags = kRemoveTempFilesFlags;
    const std::wstring package = folder + L"\\package.zip";
    double best = 1e9;
    for (int round = 0; round < 3; ++round) {
        const double start = Now();
        if (packager->Initialize(&info) != 0 ||
            packager->CreatePackage(&request, package.c_str(), &options) != 0) {
            return 0;
        }
        best = std::min(best, Now() - start);
    }
    return best;
}

// One data set in `folder`: writes its files and catalog, then measures.
bool MeasureSet(IPackager* packager, const std::wstring& folder, size_t files, size_t fileSize,
                bool compressible, Figures* best) {
    CreateDirectoryW(folder.c_str(), nullptr);
    if (!SetCurrentDirectoryW(folder.c_str())) {
        return false;
    }
    CreateDirectoryW(L"vendor", nullptr);
    CreateDirectoryW(L"copies", nullptr);
    Xorshift random;
    std::string data(fileSize, '\0');
    std::vector<PackageItem> items;
    for (size_t i = 0; i < files; ++i) {
        if (compressible) {
            FillHalfCompressible(data, random);
        } else {
            FillIncompressible(data, random);
        }
        if (!WriteWhole(VendorName(i), data)) {
            return false;
        }
        PackageItem item{};
        item.id = GUID{static_cast<unsigned long>(i + 1), 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};
        item.languageId = 0x409;
        item.index = static_cast<uint32_t>(i);
        items.push_back(item);
    }
    if (!WriteCatalog(files, false)) {
        return false;
    }
    const std::wstring catalogPath = folder + L"\\windowspatchdata.zip";
    PackagerInitInfo info{};
    info.catalogFile = catalogPath.c_str();
    if (packager->Initialize(&info) != 0) {
        std::fprintf(stderr, "cannot read the bench catalog\n");
        return false;
    }
    PackageRequest request{L"local", 0, static_cast<uint32_t>(items.size()), items.data(), {0, 0}};
    DeploymentOptions options{};
    options.flags = kRemoveTempFilesFlags;
    const std::wstring package = folder + L"\\package.zip";

    for (int round = 0; round < 3; ++round) {
        for (bool durable : {false, true}) {
            const double start = Now();
            for (size_t i = 0; i < files; ++i) {
                const std::wstring copy = L"copies" + VendorName(i).substr(6);
                if (!CopyFileW(VendorName(i).c_str(), copy.c_str(), FALSE) ||
                    (durable && !Flush(copy))) {
                    return false;
                }
            }
            double& figure = durable ? best->durableCopy : best->copy;
            figure = std::min(figure, Now() - start);
        }
        const double start = Now();
        const int32_t status = packager->CreatePackage(&request, package.c_str(), &options);
        best->package = std::min(best->package, Now() - start);
        if (status != 0) {
            std::fprintf(stderr, "CreatePackage failed: 0x%08X\n", static_cast<unsigned>(status));
            return false;
        }
    }
    for (size_t i = 0; i < files; ++i) {
        DeleteFileW((L"copies" + VendorName(i).substr(6)).c_str());
    }
    RemoveDirectoryW(L"copies");
    if (!compressible) {
        best->pinned = PackagePinned(packager, folder, files, request);
        best->hashed = HashAll(files);
        if (best->pinned <= 0) {
            std::fprintf(stderr, "the pinned package failed\n");
            return false;
        }
    }
    return true;
}

// The half-compressible files packed in-process, best of 3, with `workers` deflate threads
// (0: the default, one per processor) and `block` bytes a block; the package's size too.
double PackFiles(size_t files, unsigned workers, size_t block, uint64_t* packageSize) {
    double best = 1e9;
    for (int round = 0; round < 3; ++round) {
        const double start = Now();
        {
            const UniqueFile out(CreateFileW(L"inprocess.zip", GENERIC_READ | GENERIC_WRITE, 0,
                                             nullptr, CREATE_ALWAYS, 0, nullptr));
            ZipWriter::Options options;
            options.workers = workers;
            options.blockSize = block;
            ZipWriter writer(out.Get(), options);
            for (size_t i = 0; i < files; ++i) {
                if (writer.AddFile(ToUtf8(VendorName(i)), VendorName(i)) != ZipStatus::Ok) {
                    return -1;
                }
            }
            if (writer.Finish() != ZipStatus::Ok || !FlushFileBuffers(out.Get())) {
                return -1;
            }
            LARGE_INTEGER size;
            GetFileSizeEx(out.Get(), &size);
            *packageSize = static_cast<uint64_t>(size.QuadPart);
        }
        best = std::min(best, Now() - start);
    }
    DeleteFileW(L"inprocess.zip");
    return best;
}

// What one zlib stream over each whole file makes of it: the size before deflating went to
// blocks.
uint64_t OneStreamSize(size_t files) {
    uint64_t total = 0;
    for (size_t i = 0; i < files; ++i) {
        const UniqueFile in(CreateFileW(VendorName(i).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
        Deflater deflater(1);
        std::string piece(1 << 20, '\0');
        DWORD got = 0;
        auto count = [&total](const char*, size_t n) {
            total += n;
            return true;
        };
        while (ReadFile(in.Get(), piece.data(), static_cast<DWORD>(piece.size()), &got, nullptr) &&
               got > 0) {
            deflater.Feed(piece.data(), got, Z_NO_FLUSH, count);
        }
        deflater.Feed(nullptr, 0, Z_FINISH, count);
    }
    return total;
}

// Deflate on worker threads against one thread, over the same files, and the block size.
void MeasureDeflate(const std::wstring& folder, size_t files, double mib) {
    SetCurrentDirectoryW(folder.c_str());
    uint64_t oneSize = 0, manySize = 0;
    const double one = PackFiles(files, 1, 512 << 10, &oneSize);
    const double many = PackFiles(files, 0, 512 << 10, &manySize);
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    std::printf("deflate threads: %lu (one per processor)\n", system.dwNumberOfProcessors);
    std::printf("deflate, one thread:          %7.3f s  %6.0f MiB/s\n", one, mib / one);
    std::printf("deflate, every thread:        %7.3f s  %6.0f MiB/s\n", many, mib / many);
    std::printf("deflate speed-up (threads / one thread): %.2f\n", one / many);
    const uint64_t stream = OneStreamSize(files);
    std::printf("compressed: %llu bytes in blocks of 512 KiB, %llu as one stream (%+.2f%%)\n",
                static_cast<unsigned long long>(manySize), static_cast<unsigned long long>(stream),
                100.0 * (static_cast<double>(manySize) - static_cast<double>(stream)) /
                    static_cast<double>(stream));
    for (size_t block :
         {size_t{128} << 10, size_t{256} << 10, size_t{512} << 10, size_t{1} << 20}) {
        uint64_t size = 0;
        const double took = PackFiles(files, 0, block, &size);
        std::printf("block %4zu KiB: %6.0f MiB/s, %llu bytes\n", block >> 10, mib / took,
                    static_cast<unsigned long long>(size));
    }
}

void RemoveSet(const std::wstring& folder, size_t files) {
    SetCurrentDirectoryW(folder.c_str());
    for (size_t i = 0; i < files; ++i) {
        DeleteFileW(VendorName(i).c_str());
    }
    for (const wchar_t* name : {L"package.zip", L"patches.csv", L"windowspatchdata.zip"}) {
        DeleteFileW(name);
    }
    RemoveDirectoryW(L"vendor");
    SetCurrentDirectoryW(L"..");
    RemoveDirectoryW(folder.c_str());
}

// The checksum alone, in memory, best of 3: zlib's, the table-driven fallback, and what the
// packager uses (folding where the processor has it).
void MeasureCrc() {
    std::string data(64 << 20, '\0');
    Xorshift random;
    FillIncompressible(data, random);
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

std::wstring ExeFolder() {
    const std::wstring exe = ExecutablePath(&GetModuleFileNameW).text;
    return exe.substr(0, exe.find_last_of(L'\\'));
}

}  // namespace

int main(int argc, char** argv) {
    std::wstring base;
    bool keep = false;
    std::vector<size_t> numbers;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--folder" && i + 1 < argc) {
            base = FromUtf8(argv[++i]);
        } else if (arg == "--keep") {
            keep = true;
        } else {
            numbers.push_back(std::strtoul(arg.c_str(), nullptr, 10));
        }
    }
    const size_t totalMiB = numbers.size() > 0 ? numbers[0] : 256;
    const size_t files = numbers.size() > 1 ? numbers[1] : 8;
    const size_t fileSize = (totalMiB << 20) / files;
    if (base.empty()) {
        wchar_t temp[MAX_PATH + 1];
        GetTempPathW(MAX_PATH + 1, temp);
        base = std::wstring(temp) + L"dp-package-bench-" + std::to_wstring(GetCurrentProcessId());
    }
    CreateDirectoryW(base.c_str(), nullptr);

    const UniqueModule library(
        LoadLibraryW((ExeFolder() + L"\\reference\\KQPackager.dll").c_str()));
    auto create = FunctionCast<CreatePackagerFn>(GetProcAddress(library.Get(), "CreatePackager"));
    IPackager* created = nullptr;
    if (create == nullptr || create(&IID_IPackager, &created) < 0 || created == nullptr) {
        std::fprintf(stderr, "cannot load reference\\KQPackager.dll\n");
        return 2;
    }
    const UniqueComReference<IPackager> packager(created);

    MeasureCrc();
    const double mib = static_cast<double>(fileSize * files) / (1 << 20);
    std::printf("vendor files: %zu x %.1f MiB per data set, best of 3\n", files, mib / files);
    for (bool compressible : {false, true}) {
        const char* name = compressible ? "half-compressible" : "incompressible";
        const std::wstring folder = base + L"\\" + FromUtf8(name);
        Figures best;
        if (!MeasureSet(packager.Get(), folder, files, fileSize, compressible, &best)) {
            std::fprintf(stderr, "the %s data set failed, error %lu\n", name, GetLastError());
            return 2;
        }
        std::printf("== %s\n", name);
        std::printf("CopyFileW:                    %7.3f s  %6.0f MiB/s\n", best.copy,
                    mib / best.copy);
        std::printf("durable copy (+ flush):       %7.3f s  %6.0f MiB/s  (flush %.0f%%)\n",
                    best.durableCopy, mib / best.durableCopy,
                    100.0 * (best.durableCopy - best.copy) / best.durableCopy);
        std::printf("CreatePackage:                %7.3f s  %6.0f MiB/s\n", best.package,
                    mib / best.package);
        std::printf("throughput ratio (package / durable copy): %.2f\n",
                    best.durableCopy / best.package);
        if (best.pinned > 0) {
            std::printf("SHA-256 (CNG, one thread):    %7.3f s  %6.0f MiB/s\n", best.hashed,
                        mib / best.hashed);
            std::printf("CreatePackage, all pinned:    %7.3f s  %6.0f MiB/s\n", best.pinned,
                        mib / best.pinned);
            std::printf("pinned: package / platform SHA-256 of the same bytes: %.2f\n",
                        best.hashed / best.pinned);
        }
        if (compressible) {
            MeasureDeflate(folder, files, mib);
        }
        if (keep) {
            std::printf("set %s %s %.1f\n", name, ToUtf8(folder).c_str(), mib / best.package);
        } else {
            RemoveSet(folder, files);
        }
    }
    if (!keep) {
        RemoveDirectoryW(base.c_str());
    }
    return 0;
}
