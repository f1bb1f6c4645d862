// The 64-bit records in archives that need them, checked by readers no one here wrote: offsets past
// 4 GiB, local headers with the reserved block, encryption, and the archives of other writers that
// update and delete carry over.
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

#include "faultyfilesystem.h"
#include "testsupport.h"
#include "zip/zipdirectory.h"
#include "zip/ziperrors.h"
#include "zip/zipwriter.h"
#include "zipreaders.h"

namespace {

namespace fs = std::filesystem;
using testsupport::TempDir;
using testsupport::expectReadersAccept;
using Bytes = std::vector<uint8_t>;

uint16_t get16(const Bytes& b, uint64_t at) { return uint16_t(b.at(at) | b.at(at + 1) << 8); }
uint32_t get32(const Bytes& b, uint64_t at) { return get16(b, at) | uint32_t(get16(b, at + 2)) << 16; }
uint64_t get64(const Bytes& b, uint64_t at) { return get32(b, at) | uint64_t(get32(b, at + 4)) << 32; }

// Text, noise, an empty file and a nested folder with a non-ASCII name: 5 files, 2 folders.
void makeTree(const fs::path& root) {
    std::string text;
    for (int i = 0; text.size() < 100000; ++i) text += "line " + std::to_string(i % 300) + " of some text\n";
    testsupport::writeFile(root / "text.txt", text);
    testsupport::writeBytes(root / "noise.bin", testsupport::randomBytes(80000, 5));
    testsupport::writeFile(root / "empty", "");
    testsupport::writeFile(root / "sub/deeper/\xC3\xA9t\xC3\xA9.txt", "summer\n");
    testsupport::writeFile(root / "sub/small", "s");
}

struct Writer {
    explicit Writer(const fs::path& archive) {
        w.SetZipName(archive.string());
        w.AddDirEntriesOnRecurse = true;
        w.Recurse = true;
        w.SetStorePaths(true);
        w.SetRelativePaths(true);
        w.ZipAction = TZipAction::zaUpdate;
    }
    int pack(const fs::path& folder, int level) {
        w.SetPackLevel(level);
        w.SetRootDir(folder.string());
        w.FilesList = {folder.string() + "/*.*"};
        return w.Zip();
    }
    int remove(const std::vector<std::string>& names) {
        w.FilesList = names;
        return w.DeleteEntries();
    }
    TZipWriter w;
};

std::vector<std::unique_ptr<TZipHeaderInfo>> directoryOf(const fs::path& archive, TEndCentral& end) {
    TBufferedFileStream in(archive.string(), TFileMode::fmOpenRead);
    TSortedZip list(TZipSortMode::ByNone);
    ReadZipDirectory(in, true, list, end);
    std::vector<std::unique_ptr<TZipHeaderInfo>> out;
    for (size_t i = 0; i < list.Count(); ++i) out.push_back(std::make_unique<TZipHeaderInfo>(*list.Items(i)));
    return out;
}

// An archive whose entries start just below 4 GiB: the file system pretends the new file starts
// there, and the bytes then go to that place of a sparse file, where the readers find them (7-Zip
// does not look that far; the archives of the big tests show it the records past 4 GiB).
TEST(Zip64, AnArchivePast4GiBIsReadByEveryReaderAndShrinksBackToClassic) {
    TempDir dir;
    makeTree(dir / "data");
    const uint64_t start = 0xFFFFFFFFull - 100000;  // the text entry passes the mark
    const fs::path written = dir / "written.zip";
    {
        testsupport::FaultyFileSystem faulty;
        faulty.startOffset[written.string()] = int64_t(start);
        platform::ScopedFileSystem use(faulty);
        Writer w(written);
        EXPECT_EQ(w.pack(dir / "data", 0), 7);
    }
    const fs::path archive = dir / "past4GiB.zip";
    {
        const std::string bytes = testsupport::readFile(written);
        std::ofstream out(archive, std::ios::binary);
        out.seekp(std::streamoff(start));
        out.write(bytes.data(), std::streamsize(bytes.size()));
    }
    expectReadersAccept(archive, 5, 2, true, dir / "data", "", false);

    // Entries above the mark have their offset in the 64-bit block (version 4.5), the others none.
    TEndCentral end;
    const auto entries = directoryOf(archive, end);
    ASSERT_EQ(entries.size(), 7u);
    EXPECT_GT(end.central_offset, 0xFFFFFFFFull);
    int above = 0;
    for (const auto& e : entries) {
        const bool high = e->local_header_offset >= 0xFFFFFFFFull;
        above += high;
        EXPECT_EQ(e->central_extra_length, high ? 12 : 0) << e->StoredName();
        EXPECT_EQ(e->version_needed, high ? 45 : 20) << e->StoredName();
    }
    EXPECT_GE(above, 3);

    // Removing an entry moves the others to the start of a new file: no 64-bit record is left.
    Writer d(archive);
    EXPECT_EQ(d.remove({"noise.bin"}), 1);
    EXPECT_LT(fs::file_size(archive), 200000u);
    expectReadersAccept(archive, 4, 2, false, dir / "data");
    const auto after = directoryOf(archive, end);
    for (const auto& e : after) EXPECT_EQ(e->central_extra_length, 0) << e->StoredName();
}

// With the reserve lowered to nothing every file's local header holds the 64-bit block: both
// sizes marked in the header, their values in the block (the encryption header counted), version 4.5.
TEST(Zip64, ReservedLocalBlocksAreFilledInAndReadByEveryReader) {
    TempDir dir;
    makeTree(dir / "data");
    const struct {
        int level;
        const char* password;
    } cases[] = {{0, ""}, {6, ""}, {9, ""}, {maxdeflate::kLevel, ""}, {6, "secret"}, {0, "secret"}};
    for (const auto& c : cases) {
        SCOPED_TRACE("level " + std::to_string(c.level) + (*c.password ? " encrypted" : ""));
        TempDir out;
        const fs::path archive = out / "reserved.zip";
        Writer w(archive);
        w.w.Zip64ReserveFrom = 0;
        w.w.Password = c.password;
        EXPECT_EQ(w.pack(dir / "data", c.level), 7);
        expectReadersAccept(archive, 5, 2, false, dir / "data", c.password);

        const Bytes b = testsupport::readBytes(archive);
        TEndCentral end;
        for (const auto& e : directoryOf(archive, end)) {
            const bool folder = e->StoredName().back() == '/';
            const uint64_t at = e->local_header_offset;
            EXPECT_EQ(e->central_extra_length, 0) << e->StoredName();
            EXPECT_EQ(e->version_needed, folder ? 20 : 45) << e->StoredName();
            EXPECT_EQ(get16(b, at + 4), e->version_needed) << e->StoredName();
            if (folder) {
                EXPECT_EQ(get16(b, at + 28), 0) << e->StoredName();
                continue;
            }
            EXPECT_EQ(get32(b, at + 18), 0xFFFFFFFFu) << e->StoredName();
            EXPECT_EQ(get32(b, at + 22), 0xFFFFFFFFu) << e->StoredName();
            ASSERT_EQ(get16(b, at + 28), 20) << e->StoredName();
            const uint64_t block = at + 30 + get16(b, at + 26);
            EXPECT_EQ(get16(b, block), 1);
            EXPECT_EQ(get16(b, block + 2), 16);
            EXPECT_EQ(get64(b, block + 4), e->uncompressed_size) << e->StoredName();
            EXPECT_EQ(get64(b, block + 12), e->compressed_size) << e->StoredName();
            if (*c.password) {
                EXPECT_GE(e->compressed_size, 12u) << e->StoredName();
            }
        }

        // Carried over by an update that adds a file and by a delete, the entries stay readable.
        testsupport::writeFile(dir / "data/added.txt", "added later\n");
        Writer u(archive);
        u.w.Password = c.password;
        EXPECT_EQ(u.pack(dir / "data", c.level), 1);
        expectReadersAccept(archive, 6, 2, false, dir / "data", c.password);
        EXPECT_EQ(u.remove({"text.txt"}), 1);
        expectReadersAccept(archive, 5, 2, false, dir / "data", c.password);
        fs::remove(dir / "data/added.txt");
    }
}

// Archives of other writers with the 64-bit records: Python's zipfile forcing them, Info-ZIP
// packing standard input into a file and into a pipe (a data descriptor with 64-bit sizes).
// An update and a delete carry their entries over (with their descriptors) and write the
// 64-bit records only where the result needs them: nowhere.
TEST(Zip64, ArchivesOfOtherWritersAreUpdatedAndDeleted) {
    TempDir dir;
    const fs::path src = dir / "src";
    testsupport::writeFile(src / "a.txt", std::string(3000, 'a'));
    testsupport::writeBytes(src / "sub/b.bin", testsupport::randomBytes(5000, 9));
    testsupport::writeFile(src / "-", "streamed from standard input\n");
    testsupport::writeFile(dir / "new/added.txt", "added\n");
    const std::string s = testsupport::shellQuote(src.string());
    const struct {
        const char* name;
        std::string command;
        size_t files;
    } makers[] = {
        {"python", "cd " + s + " && /usr/bin/python3 -c \"import zipfile,sys\nwith zipfile.ZipFile(sys.argv[1],'w',"
                   "zipfile.ZIP_DEFLATED) as z:\n for n in ['a.txt','sub/b.bin']:\n  with z.open(n,'w',force_zip64=True) "
                   "as f: f.write(open(n,'rb').read())\" ",
         2},
        {"zip stdin to a file", "cd " + s + " && zip -q ", 1},
        {"zip stdin to a pipe", "cd " + s + " && zip -q - - < - | cat > ", 1},
    };
    for (const auto& m : makers) {
        SCOPED_TRACE(m.name);
        const fs::path archive = dir / "foreign.zip";
        fs::remove(archive);
        std::string command = m.command + testsupport::shellQuote(archive.string());
        if (std::string(m.name) == "zip stdin to a file") command += " - < -";
        const auto made = testsupport::runCommand(command);
        ASSERT_EQ(made.exitCode, 0) << made.output;
        Writer u(archive);
        EXPECT_EQ(u.pack(dir / "new", 6), 1);
        // The stored bytes of the old entries still hold the files they came from.
        fs::create_directories(dir / "all");
        fs::copy(src, dir / "all", fs::copy_options::recursive | fs::copy_options::overwrite_existing);
        fs::copy(dir / "new", dir / "all", fs::copy_options::recursive | fs::copy_options::overwrite_existing);
        expectReadersAccept(archive, m.files + 1, 0, false, dir / "all");
        EXPECT_EQ(u.remove({"added.txt"}), 1);
        expectReadersAccept(archive, m.files, 0, false, src);
    }
}

}  // namespace
