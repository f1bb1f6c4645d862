// Fuzzes the archive reader: whatever bytes it is given as an archive, it never crashes, never
// hands out more bytes than an entry's stated size, and whatever it accepts has the bytes zlib's
// own CRC agrees with. The first input byte chooses the password, the rest is the archive.
#include <cstdint>
#include <cstdlib>
#include <zlib.h>

#include "zip/archivereader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const char* password = data[0] & 1 ? "pw" : "";
    TMemoryStream stream;
    stream.Write(data + 1, size - 1);
    stream.Seek(0, TSeekOrigin::soBeginning);
    try {
        TArchiveReader reader(stream);
        for (const TArchiveEntry& entry : reader.Entries()) {
            uint64_t produced = 0;
            uLong crc = crc32(0, nullptr, 0);
            try {
                reader.Extract(entry, password, [&](const uint8_t* p, size_t n) {
                    produced += n;
                    if (produced > entry.uncompressedSize) std::abort();
                    crc = crc32(crc, p, static_cast<uInt>(n));
                });
            } catch (const EArchiveFault&) {
                continue;
            }
            if (produced != entry.uncompressedSize || crc != entry.crc32) std::abort();
        }
    } catch (const EIncompleteZip&) {
    }
    return 0;
}
