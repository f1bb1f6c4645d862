// The writer's side of taking entries over from an earlier archive (ReuseFrom).
#include "zip/zipwriter.h"

#include "platform/codepage.h"
#include "platform/dostime.h"
#include "zip/archivereader.h"
#include "zip/ziperrors.h"

void TZipWriter::openReuseSource() {
    FReuseReader.reset();
    FReuseIndex.reset();
    if (ReuseFrom.empty()) return;
    try {
        FReuseIndex = std::make_shared<const entryreuse::TReuseIndex>(ReuseFrom, FPackLevel, MaximumLevelLimit);
    } catch (const std::exception& e) {
        // Without the earlier archive the job is a full one.
        const auto* incomplete = dynamic_cast<const EIncompleteZip*>(&e);
        if (OnReuseFault) OnReuseFault(this, "", incomplete ? std::string(e.what()) + " (" + incomplete->Detail() + ")" : e.what());
    }
}

bool TZipWriter::takeEarlierEntry(bool encrypt) {
    if (!FReuseIndex) return false;
    TZipHeaderInfo& header = *FZipHeader;
    const TArchiveEntry* entry = FReuseIndex->Find(header.StoredName());
    // A host's own cipher makes data no decryption here can check.
    if (!entry || (encrypt && !FAesEntry && OnEncrypt)) return false;
    const entryreuse::TWanted wanted = wantedFor(header, FFileReadLimit, encrypt, FAesEntry);
    if (!FReuseIndex->Fits(*entry, wanted)) return false;
    // Data that would need the 64-bit block the local header was written without are packed anew,
    // as a full job then writes the entry once more with it.
    if (!header.local_zip64 && (entry->compressedSize >= kZip64Mark32 || entry->uncompressedSize >= kZip64Mark32)) return false;

    // The file is read once, with the progress and the yields of packing it.
    FCrc = 0xFFFFFFFF;
    while (file_read(FCopyBuffer.get(), kCopyChunk) != 0) {
    }
    const uint32_t crc = ~FCrc;
    bool holds = FFileBytesRead == entry->uncompressedSize && (entry->IsAes() || crc == entry->crc32);
    if (holds) {
        try {
            if (!FReuseReader) {
                FReuseReader = std::make_unique<entryreuse::TReuseReader>(*FReuseIndex);
                FReuseReader->OnChunk = [this] { CheckForCancel(); };
            }
        } catch (const std::exception& e) {
            if (OnReuseFault) OnReuseFault(this, "", e.what());
            FReuseIndex.reset();  // the rest of the job packs every file
            holds = false;
        }
    }
    if (holds) {
        std::string detail;
        const entryreuse::TVerdict verdict = FReuseReader->Check(*entry, Password, crc, detail);
        holds = verdict == entryreuse::TVerdict::Holds;
        if (verdict == entryreuse::TVerdict::Damaged && OnReuseFault) OnReuseFault(this, FInStream->FileName(), detail);
    }
    if (!holds) {
        FBytesDone -= static_cast<double>(FFileBytesRead);
        FFileBytesRead = 0;
        rewindInput();
        return false;
    }

    copyEarlierEntry(*entry, wanted, encrypt);
    return true;
}

entryreuse::TWanted TZipWriter::wantedFor(const TZipHeaderInfo& header, uint64_t size, bool encrypt, bool aes) const {
    entryreuse::TWanted wanted;
    wanted.size = size;
    wanted.dosDateTime = header.last_mod_datetime;
    wanted.flags = header.general_purpose_flag;
    wanted.store = FPackLevel == 0 || IsInNoCompressList(header.filename());
    wanted.cipher = !encrypt ? entryreuse::TCipher::None : aes ? entryreuse::TCipher::Aes256 : entryreuse::TCipher::Traditional;
    return wanted;
}

const TArchiveEntry* TZipWriter::reusableFor(const std::string& file, const platform::FileStatus& status) const {
    // The header a full job gives the file, as far as it is known before its data are read.
    std::unique_ptr<TZipHeaderInfo> header = CreateNewZipHeader();
    const std::string path = OEMConvert ? platform::OemFilter(file) : file;
    const size_t slash = path.rfind('/');
    header->Setfilename(slash == std::string::npos ? path : path.substr(slash + 1));
    if (FStorePaths) header->Setdirectory(StoredFolderPart(path));
    header->last_mod_datetime = platform::DosDateTimeOfFile(status.mtime);
    const TArchiveEntry* entry = FReuseIndex->Find(header->StoredName());
    if (!entry || entry->compressedSize >= kZip64Mark32 || entry->uncompressedSize >= kZip64Mark32) return nullptr;
    const bool encrypt = !Password.empty();
    const entryreuse::TWanted wanted =
        wantedFor(*header, status.size, encrypt, encrypt && Encryption == TZipEncryption::zeAes256);
    return FReuseIndex->Fits(*entry, wanted) ? entry : nullptr;
}

bool TZipWriter::takePackedEarlierEntry(const parallelpack::Packed& packed, bool encrypt) {
    TZipHeaderInfo& header = *FZipHeader;
    const TArchiveEntry* entry = FReuseIndex->Find(header.StoredName());
    const entryreuse::TWanted wanted = wantedFor(header, FFileReadLimit, encrypt, FAesEntry);
    // A handler of OnStartZip may have made it another entry.
    if (entry != packed.reused || !FReuseIndex->Fits(*entry, wanted)) return false;
    if (!FReuseReader) FReuseReader = std::make_unique<entryreuse::TReuseReader>(*FReuseIndex);
    reportReads(packed.bytesRead);
    FCrc = ~packed.crc;
    copyEarlierEntry(*entry, wanted, encrypt);
    return true;
}

void TZipWriter::copyEarlierEntry(const TArchiveEntry& earlier, const entryreuse::TWanted& wanted, bool encrypt) {
    TZipHeaderInfo& header = *FZipHeader;
    const TArchiveEntry* entry = &earlier;
    // The entry's data as they are, its encryption header included, then the fields the
    // compressor would have set; patchHeader completes the headers as after packing.
    TBufferedFileStream& source = FReuseReader->SeekData(*entry);
    for (uint64_t left = entry->compressedSize; left > 0;) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(left, FKernelCopy ? kKernelCopyChunk : kCopyChunk));
        size_t done = FKernelCopy ? FOutStream->CopyFrom(source, n) : 0;
        if (done == 0) {
            if (FOutStream->LastError()) throw ENotEnoughRoom();
            FKernelCopy = false;
            n = std::min<size_t>(n, kCopyChunk);
            if (source.Read(FCopyBuffer.get(), n) != n)
                throw EIncompleteZip("the earlier archive ends inside \"" + entry->name + "\"");
            if (FOutStream->Write(FCopyBuffer.get(), n) != n) throw ENotEnoughRoom();
            done = n;
        }
        left -= done;
        CheckForCancel();
    }
    const entryreuse::TTaken taken = FReuseIndex->Take(*entry, wanted);
    header.general_purpose_flag |= taken.levelFlags;
    header.compression_method = taken.method;
    header.internal_attributes = taken.internalAttributes;
    const uint64_t overhead = FAesEntry ? aescipher::kOverhead : encrypt ? TTraditionalCipher::HeaderSize : 0;
    header.compressed_size = entry->compressedSize - overhead;
    ++FEntriesReused;
}
