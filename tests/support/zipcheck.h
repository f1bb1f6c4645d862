// Checks an archive of a folder tree with readers no one here wrote: Python's zipfile, Info-ZIP
// unzip -t and zipinfo -v, and 7-Zip; plus a tree with awkward names to pack.
#pragma once

#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "platform/codepage.h"
#include "testsupport.h"

namespace testsupport {

// Builds a tree with awkward names, empty files and folders, a read-only file, deep nesting,
// links and a named pipe under root. Returns the paths (relative) that cannot be packed.
inline std::vector<std::string> makeAwkwardTree(const std::filesystem::path& root) {
    namespace fs = std::filesystem;
    const std::pair<const char*, std::string> files[] = {
        {"plain.txt", "plain text\n"},
        {"with space.txt", "spaces"},
        {"\xC3\xBCmlaut caf\xC3\xA9.txt", "cp437 name"},
        {"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E/\xE2\x82\xAC uro.txt", "utf-8 names"},
        {"[brackets] (1) {x}.txt", "brackets"},
        {"odd?name*.txt", "wildcard characters in a name"},
        {"README", "no extension"},
        {"notes.", "trailing dot"},
        {".dotfile", "hidden"},
        {"Case.txt", "upper"},
        {"case.txt", "lower"},
        {"empty.txt", ""},
        {"Sub/inner.txt", "inner"},
        {"Sub/.hidden dir/x", "x"},
    };
    for (const auto& [name, content] : files) writeFile(root / name, content);
    writeBytes(root / "Sub/random.bin", randomBytes(200000, 11));
    writeFile(root / "Sub/text-70000.txt", std::string(70000, 'q'));
    fs::create_directories(root / "Empty Folder");
    writeFile(root / "readonly.txt", "read-only");
    fs::permissions(root / "readonly.txt", fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    std::string deep;
    for (int level = 0; level < 25; ++level) deep.append("level").append(std::to_string(level)).append("/");
    writeFile(root / (deep + "bottom.txt"), "deep");
    fs::create_symlink("plain.txt", root / "link to file.txt");
    fs::create_symlink("Sub", root / "link to folder");
    fs::create_symlink("nowhere", root / "dangling link");
    mkfifo((root / "pipe").c_str(), 0644);
    return {"dangling link", "link to folder", "pipe"};
}

struct ExpectedEntry {
    bool folder;
    uint32_t external;
};

// What an archive of the whole tree holds: every folder and every regular file (links to files
// as files), names relative to root.
inline std::map<std::string, ExpectedEntry> expectedEntries(const std::filesystem::path& root) {
    namespace fs = std::filesystem;
    std::map<std::string, ExpectedEntry> out;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        std::string rel = it->path().lexically_relative(root).string();
        bool folder = it->is_directory() && !it->is_symlink();
        if (!folder && !it->is_regular_file()) continue;
        std::error_code ec;
        fs::perms perms = fs::status(it->path(), ec).permissions();
        uint32_t attrs = folder ? 0x10 : 0x20;
        if ((perms & fs::perms::owner_write) == fs::perms::none) attrs |= 0x01;
        if (it->path().filename().string()[0] == '.') attrs |= 0x02;
        out[folder ? rel + "/" : rel] = {folder, attrs};
    }
    return out;
}

struct InspectedEntry {
    std::string name;
    unsigned long flag, method, crc, compressed, size, internal, external, offset, system, version;
    std::string local, data, source;
};

// Bytes of a stored name as the writer writes it: in the OEM code page when it can, else UTF-8.
inline size_t storedLength(const std::string& name) {
    std::string oem;
    return platform::AnsiToOem(name, oem) ? oem.size() : name.size();
}

// Checks the archive of root (packed whole, names relative to root, at the given level).
inline void checkArchiveWithReaders(const std::filesystem::path& archive, const std::filesystem::path& root,
                                    int level) {
    auto expected = expectedEntries(root);

    CommandResult py = runCommand("/usr/bin/python3 " + shellQuote(ZIPINSPECT_PY) + " " +
                                  shellQuote(archive.string()) + " " + shellQuote(root.string()));
    ASSERT_EQ(py.exitCode, 0) << py.output;
    std::vector<InspectedEntry> entries;
    unsigned long count = 0, cdSize = 0, cdOffset = 0, commentLength = 1;
    std::istringstream lines(py.output);
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> f;
        std::istringstream cells(line);
        for (std::string cell; std::getline(cells, cell, '\t');) f.push_back(cell);
        if (f[0] == "entry") {
            ASSERT_EQ(f.size(), 15u) << line;
            auto n = [&](int i) { return std::stoul(f[i]); };
            entries.push_back({f[1], n(2), n(3), n(4), n(5), n(6), n(7), n(8), n(9), n(10), n(11), f[12], f[13], f[14]});
        } else if (f[0] == "end") {
            count = std::stoul(f[1]), cdSize = std::stoul(f[2]), cdOffset = std::stoul(f[3]);
            commentLength = std::stoul(f[4]);
        }
    }

    std::map<std::string, bool> seen;
    unsigned long nextOffset = 0, centralBytes = 0;
    for (const InspectedEntry& e : entries) {
        SCOPED_TRACE(e.name);
        ASSERT_TRUE(expected.count(e.name)) << "unexpected entry";
        seen[e.name] = true;
        const ExpectedEntry& want = expected[e.name];
        std::string oem;
        bool utf8 = !platform::AnsiToOem(e.name, oem);  // names the OEM code page lacks are stored as UTF-8
        // Files packed by the compressor carry its level's flag bit, also when it fell back to storing.
        unsigned long levelFlag = want.folder ? 0 : (level >= 8 ? 2 : (level == 1 || level == 2 ? 4 : 0));
        EXPECT_EQ(e.flag, (utf8 ? 0x800u : 0u) | levelFlag);
        EXPECT_EQ(e.system, utf8 ? 11u : 0u);
        EXPECT_EQ(e.version, 20u);
        EXPECT_EQ(e.external, want.external);
        EXPECT_EQ(e.local, "same");
        EXPECT_EQ(e.data, "ok");
        EXPECT_EQ(e.source, want.folder ? "folder" : "equal");
        if (want.folder || level == 0) {
            EXPECT_EQ(e.method, 0u);
        }
        if (e.method == 0) {
            EXPECT_EQ(e.compressed, e.size);
            // The stored copy marks nothing; the compressor's stored fallback still classifies.
            if (want.folder || level == 0) EXPECT_EQ(e.internal, 0u);
            else EXPECT_LE(e.internal, 1u);
        } else {
            EXPECT_EQ(e.method, 8u);
            EXPECT_LE(e.internal, 1u);
        }
        if (want.folder) {
            EXPECT_EQ(e.crc + e.size + e.compressed, 0u);
        }
        EXPECT_EQ(e.offset, nextOffset);
        size_t n = storedLength(e.name);
        nextOffset = e.offset + 30 + n + e.compressed;
        centralBytes += 46 + n;
    }
    for (const auto& [name, entry] : expected) EXPECT_TRUE(seen.count(name)) << "missing entry " << name;
    EXPECT_EQ(count, entries.size());
    EXPECT_EQ(cdOffset, nextOffset);
    EXPECT_EQ(cdSize, centralBytes);
    EXPECT_EQ(commentLength, 0u);

    // Info-ZIP: the test of every entry, and zipinfo's view of offsets and the central directory.
    CommandResult unzip = runCommand("unzip -t " + shellQuote(archive.string()));
    EXPECT_EQ(unzip.exitCode, 0) << unzip.output;
    EXPECT_NE(unzip.output.find("No errors detected in compressed data"), std::string::npos) << unzip.output;
    CommandResult zipinfo = runCommand("zipinfo -v " + shellQuote(archive.string()));
    EXPECT_EQ(zipinfo.exitCode, 0) << zipinfo.output;
    std::vector<unsigned long> offsets;
    const std::string offsetLabel = "offset of local header from start of archive:";
    for (size_t at = 0; (at = zipinfo.output.find(offsetLabel, at)) != std::string::npos; at += offsetLabel.size())
        offsets.push_back(std::stoul(zipinfo.output.substr(at + offsetLabel.size())));
    ASSERT_EQ(offsets.size(), entries.size());
    for (size_t i = 0; i < entries.size(); ++i) EXPECT_EQ(offsets[i], entries[i].offset) << entries[i].name;
    EXPECT_NE(zipinfo.output.find("The central directory is " + std::to_string(cdSize) + " "), std::string::npos);
    EXPECT_NE(zipinfo.output.find("is " + std::to_string(cdOffset) + " ("), std::string::npos);
    if (level == 0) {
        size_t stored = 0;
        for (size_t at = 0; (at = zipinfo.output.find("compression method:", at)) != std::string::npos; ++at)
            stored += zipinfo.output.compare(zipinfo.output.find_first_not_of(' ', at + 19), 13, "none (stored)") == 0;
        EXPECT_EQ(stored, entries.size());
    }

    CommandResult sevenZip = runCommand("7zz t " + shellQuote(archive.string()));
    EXPECT_EQ(sevenZip.exitCode, 0) << sevenZip.output;
    EXPECT_NE(sevenZip.output.find("Everything is Ok"), std::string::npos) << sevenZip.output;
}

}  // namespace testsupport
