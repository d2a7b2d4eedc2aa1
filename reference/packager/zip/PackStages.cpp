#include "PackStages.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "Crc32.h"

// --- Reading ---------------------------------------------------------------------------------

BlockReader::BlockReader(PackPlatform& host, const std::vector<PackItem>& files, size_t size)
    : platform(host), items(files), blockSize(size) {}

BlockReader::~BlockReader() {
    if (open) {
        platform.Close();
    }
}

bool BlockReader::Next(PackBlock& block) {
    block.file = index;  // also when memory runs out below
    block.opened = PackPlatform::Opened{};
    block.first = !open;
    block.last = false;
    block.readError = 0;
    block.readOutOfMemory = false;
    block.digestError = 0;
    block.digestOutOfMemory = false;
    block.size = 0;
    block.sha256.reset();
    if (!open) {
        if (index == items.size()) {
            return false;
        }
        block.opened = platform.Open(index);
        if (block.opened.error != 0) {
            block.file = index++;
            block.last = true;
            return true;
        }
        open = true;
        expected = block.opened.size;
        total = 0;
        history.clear();
    }
    block.file = index;
    Fill(block);
    if (block.last) {
        block.total = total;
        platform.Close();
        open = false;
        ++index;
    }
    return true;
}

// The block is the file's last when the size it had when opened is reached, the file ends
// sooner, or a read fails.
void BlockReader::Fill(PackBlock& block) {
    block.dictionarySize = history.size();
    std::memcpy(block.dictionary.get(), history.data(), history.size());
    const size_t want = static_cast<size_t>(std::min<uint64_t>(blockSize, expected - total));
    bool ended = false;
    while (block.readError == 0 && block.size < want && !ended) {
        size_t got = 0;
        if (!platform.Read(block.input.get() + block.size, want - block.size, &got,
                           &block.readError)) {
            break;
        }
        ended = got == 0;
        block.size += got;
    }
    const char* data = block.input.get();
    total += block.size;
    if (block.size >= kDeflateWindow) {
        history.assign(data + block.size - kDeflateWindow, kDeflateWindow);
    } else {
        history.append(data, block.size);
        history.erase(0, history.size() - std::min(history.size(), kDeflateWindow));
    }
    block.last = block.readError != 0 || ended || block.size < want || total == expected;
}

// --- Digests ---------------------------------------------------------------------------------

BlockDigests::BlockDigests(PackPlatform& host, const std::vector<PackItem>& files)
    : platform(host), items(files) {}

bool BlockDigests::Wanted(const PackBlock& block) const {
    return items[block.file].pinned.has_value() && block.opened.error == 0;
}

void BlockDigests::Take(PackBlock& block) {
    try {
        Hash(block);
    } catch (const std::bad_alloc&) {
        digest.reset();
        block.digestOutOfMemory = true;
        return;
    }
    block.digestError = error;
}

void BlockDigests::Hash(PackBlock& block) {
    if (block.first) {
        error = 0;
        digest = platform.NewDigest(&error);
    }
    if (digest && error == 0 && !digest->Update(block.input.get(), block.size)) {
        error = digest->Error();
    }
    if (block.last && digest && error == 0) {
        Sha256Digest found;
        if (digest->Finish(&found)) {
            block.sha256 = found;
        } else {
            error = digest->Error();
        }
    }
}

// --- Encoding --------------------------------------------------------------------------------

void EncodeBlock(BlockEncoder& encoder, PackBlock& block) {
    if (block.readOutOfMemory) {
        block.encoded = BlockEncoder::Result{};
        return;
    }
    block.crc = Crc32(0, block.input.get(), block.size);
    try {
        block.encoded = encoder.Encode(block.dictionary.get(), block.dictionarySize,
                                       block.input.get(), block.size, block.last, &block.output);
    } catch (const std::bad_alloc&) {
        block.encoded = BlockEncoder::Result{};
    }
}

// --- Writing ---------------------------------------------------------------------------------

namespace {

// An entry written stored so far, block by block, becomes deflated: each of its blocks is
// framed as stored deflate blocks, as a block stored whole is in a deflated entry, so that
// the bytes are the same as if the entry had been deflated from its start.
ZipStreamWriter::Conversion StoredToDeflated(size_t blockSize) {
    ZipStreamWriter::Conversion conversion;
    conversion.method = kZipDeflated;
    conversion.piece = blockSize;
    conversion.sizeOf = [](size_t length) { return FramedSize(length); };
    conversion.convert = [](const char* data, size_t length, std::string* out) {
        FrameStored(data, length, false, out);
    };
    return conversion;
}

}  // namespace

EntryWriter::EntryWriter(ZipStreamWriter& archive, const std::vector<PackItem>& files, size_t size,
                         const PackDone& heard)
    : writer(archive), items(files), blockSize(size), done(heard) {}

PackResult EntryWriter::Write(PackBlock& block) {
    PackResult result;
    result.file = block.file;
    if (block.readOutOfMemory || block.digestOutOfMemory) {
        result.status = ZipStatus::OutOfMemory;
        return result;
    }
    if (block.first && block.opened.error != 0) {
        result.status = done(block.file, PackOutcome::NotOpened(block.opened.error))
                            ? ZipStatus::Ok
                            : ZipStatus::Stopped;
        return result;
    }
    result.error = block.readError != 0 ? block.readError : block.digestError;
    if (result.error != 0) {
        result.status = ZipStatus::ReadFailed;  // a digest that fails fails like a read
        return result;
    }
    if (!block.encoded.ok) {
        result.status = ZipStatus::OutOfMemory;
        return result;
    }
    crc = block.first ? block.crc : Crc32Combine(crc, block.crc, block.size);
    result.status = block.first ? Begin(block) : ZipStatus::Ok;
    if (result.status == ZipStatus::Ok) {
        result.status = Data(block);
    }
    return result.status == ZipStatus::Ok && block.last ? End(block) : result;
}

ZipStatus EntryWriter::Begin(const PackBlock& block) {
    method = block.encoded.deflated ? kZipDeflated : kZipStored;
    const ZipStatus begun =
        writer.BeginEntry(items[block.file].name, method, block.opened.size, block.opened.modified);
    open = begun == ZipStatus::Ok;
    return begun;
}

ZipStatus EntryWriter::Abandon() {
    if (!open) {
        return ZipStatus::Ok;
    }
    open = false;
    return writer.AbandonEntry();
}

ZipStatus EntryWriter::Data(const PackBlock& block) {
    if (method == kZipStored && block.encoded.deflated) {
        method = kZipDeflated;
        if (const ZipStatus s = writer.ConvertEntry(StoredToDeflated(blockSize));
            s != ZipStatus::Ok) {
            return s;
        }
    }
    if (method == kZipStored) {
        return writer.Data(block.input.get(), block.size);
    }
    if (block.encoded.deflated) {
        return writer.Data(block.output.data(), block.output.size());
    }
    framed.clear();
    FrameStored(block.input.get(), block.size, block.last, &framed);
    return writer.Data(framed.data(), framed.size());
}

// Checks the file's digest, ends or takes back its entry and says what became of it.
PackResult EntryWriter::End(const PackBlock& block) {
    const PackItem& item = items[block.file];
    PackResult result;
    result.file = block.file;
    PackOutcome outcome;
    outcome.size = block.total;
    outcome.sha256 = block.sha256;
    if (item.pinned && block.sha256 != item.pinned) {
        outcome.kind = PackOutcome::Kind::Mismatch;
        result.status = Abandon();
    } else {
        result.status = writer.EndEntry(crc, block.total);
        open = false;
    }
    if (result.status == ZipStatus::Ok && !done(block.file, outcome)) {
        result.status = ZipStatus::Stopped;
    }
    return result;
}
