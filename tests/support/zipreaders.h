// Runs the readers no one here wrote over an archive: Info-ZIP unzip -t, 7-Zip's test, Python's
// zipfile (testzip and every file against its source) and bsdtar's listing.
#pragma once

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

#include "testsupport.h"
#include "zip/archivereader.h"
#include "zip/bufferedstream.h"

namespace testsupport {

// A TempDir prefix in memory when /dev/shm takes files: tens of thousands of small files are made
// far faster there than on the disk.
inline std::string fastTemp(const char* prefix) {
    return access("/dev/shm", W_OK) == 0 ? std::string("/dev/shm/") + prefix : std::string(prefix);
}

// Expects every reader to accept the archive with that many files and folders, the 64-bit end
// record present or not, and (with root) each file's bytes equal to root/name. 7-Zip is left out
// on request: it does not look for an archive behind gigabytes of other bytes.
inline void expectReadersAccept(const std::filesystem::path& archive, size_t files, size_t folders, bool zip64,
                                const std::filesystem::path& root = {}, const std::string& password = {},
                                bool sevenZip = true) {
    const std::string a = shellQuote(archive.string());
    const std::string unzipPassword = password.empty() ? "" : " -P " + shellQuote(password);
    CommandResult unzip = runCommand("unzip -tqq" + unzipPassword + " " + a);
    EXPECT_EQ(unzip.exitCode, 0) << "unzip -t: " << unzip.output.substr(0, 2000);
    const std::string sevenPassword = password.empty() ? "" : " -p" + shellQuote(password);
    if (sevenZip) {
        CommandResult seven = runCommand("7zz t -bd" + sevenPassword + " " + a);
        EXPECT_EQ(seven.exitCode, 0) << "7zz t: " << seven.output.substr(0, 2000);
        EXPECT_EQ(seven.output.find("Warning"), std::string::npos) << "7zz t: " << seven.output.substr(0, 2000);
    }
    CommandResult python = runCommand("/usr/bin/python3 " + shellQuote(ZIPCOUNT_PY) + " " + a + " " +
                                      shellQuote(root.string()) + " " + shellQuote(password));
    EXPECT_EQ(python.exitCode, 0) << "zipfile: " << python.output;
    EXPECT_EQ(python.output, "entries " + std::to_string(files) + " folders " + std::to_string(folders) + " zip64 " +
                                 (zip64 ? "yes" : "no") + "\n");
    CommandResult bsdtar = runCommand("list=$(bsdtar -tf " + a + ") && printf '%s\\n' \"$list\" | wc -l");
    EXPECT_EQ(bsdtar.exitCode, 0) << "bsdtar -t: " << bsdtar.output;
    EXPECT_EQ(bsdtar.output, std::to_string(files + folders) + "\n") << "bsdtar -t";
    // Our own reader, the one the run's verification and folvio-unzip use, on the same archive.
    try {
        TBufferedFileStream in(archive.string(), TFileMode::fmOpenRead);
        TArchiveReader reader(in);
        EXPECT_EQ(reader.Entries().size(), files + folders) << "our reader";
        for (const TArchiveEntry& entry : reader.Entries()) reader.Test(entry, password);
    } catch (const std::exception& e) {
        ADD_FAILURE() << "our reader: " << e.what();
    }
}

}  // namespace testsupport
