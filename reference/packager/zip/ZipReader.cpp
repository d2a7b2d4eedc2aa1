#include "ZipReader.h"

#include <algorithm>

#include "FileIo.h"
#include "WinResources.h"

// An open file as a ByteSource, keeping the error code of a failed read.
class ZipReader::FileSource : public ByteSource {
  public:
    ZipStatus Open(const std::wstring& path);
    uint64_t Size() const override { return size; }
    bool ReadAt(uint64_t offset, void* buffer, size_t count) override;
    DWORD Error() const { return error; }

  private:
    UniqueFile file;
    uint64_t size = 0;
    DWORD error = 0;
};

ZipStatus ZipReader::FileSource::Open(const std::wstring& path) {
    size = 0;
    file.Reset(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        error = GetLastError();
        return ZipStatus::OpenFailed;
    }
    LARGE_INTEGER length;
    if (!GetFileSizeEx(file.Get(), &length)) {
        error = GetLastError();
        return ZipStatus::ReadFailed;
    }
    size = static_cast<uint64_t>(length.QuadPart);
    return ZipStatus::Ok;
}

bool ZipReader::FileSource::ReadAt(uint64_t at, void* buffer, size_t count) {
    if (at > size || count > size - at) {
        return false;
    }
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(at);
    if (!SetFilePointerEx(file.Get(), position, nullptr, FILE_BEGIN)) {
        error = GetLastError();
        return false;
    }
    return ReadExactly(file.Get(), buffer, count, &error);
}

ZipReader::ZipReader() : source(std::make_unique<FileSource>()) {}

ZipReader::~ZipReader() = default;

DWORD ZipReader::SystemError() const {
    return source->Error();
}

ZipStatus ZipReader::Open(const std::wstring& path) {
    entries.clear();
    if (const ZipStatus opened = source->Open(path); opened != ZipStatus::Ok) {
        return opened;
    }
    return ReadZipDirectory(*source, &entries);
}

ZipStatus ZipReader::Extract(const std::string& name, uint64_t maxSize, std::string* content) {
    const auto found = std::find_if(entries.begin(), entries.end(),
                                    [&](const ZipEntry& e) { return e.name == name; });
    if (found == entries.end()) {
        return ZipStatus::NotFound;
    }
    return ExtractZipEntry(*source, *found, maxSize, content);
}
