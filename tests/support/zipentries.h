// What readers no one here wrote find in an archive: Python's zipfile (names and contents) and
// Info-ZIP's unzip -t.
#pragma once

#include "testsupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace testsupport {

// What Python's zipfile reads from an archive: "name=content" for files, "name/" for folders,
// sorted, after its test of every entry (with the password when one is given). A line starting
// with "error:" tells why it could not.
inline std::vector<std::string> zipEntries(const std::filesystem::path& archive, const std::string& password = "") {
    const std::string script =
        "import os, sys, zipfile\n"
        "z = zipfile.ZipFile(sys.argv[1])\n"
        "pwd = os.fsencode(sys.argv[2]) if len(sys.argv) > 2 else None\n"
        "bad = z.testzip() if pwd is None else (z.setpassword(pwd), z.testzip())[1]\n"
        "if bad: print('error: bad entry ' + bad)\n"
        "for i in sorted(z.infolist(), key=lambda i: i.filename):\n"
        "    print(i.filename if i.is_dir() else i.filename + '=' + z.read(i, pwd).decode('latin-1'))\n";
    std::string command = "/usr/bin/python3 -c " + shellQuote(script) + " " + shellQuote(archive.string());
    if (!password.empty()) command.append(" ").append(shellQuote(password));
    const CommandResult r = runCommand(command);
    if (r.exitCode != 0) return {std::string("error: ").append(r.output)};
    std::vector<std::string> lines;
    std::string line;
    for (char c : r.output) {
        if (c != '\n') {
            line += c;
            continue;
        }
        lines.push_back(line);
        line.clear();
    }
    return lines;
}

// Info-ZIP's test of every entry (with the password when one is given); its output when it fails.
inline ::testing::AssertionResult unzipTests(const std::filesystem::path& archive, const std::string& password = "") {
    const std::string pw = password.empty() ? "" : "-P " + shellQuote(password) + " ";
    const CommandResult r = runCommand("unzip -t " + pw + shellQuote(archive.string()));
    if (r.exitCode == 0 && r.output.find("No errors detected") != std::string::npos) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << r.output;
}

// The readers of AES archives: 7-Zip and bsdtar.
enum class AesReader { SevenZip, Bsdtar };

// What 7-Zip or bsdtar extracts from an archive with the password, in the form of zipEntries:
// "name=content" for files, "name/" for folders, sorted; "error: ..." when the reader fails.
inline std::vector<std::string> extractedEntries(AesReader reader, const std::filesystem::path& archive,
                                                 const std::string& password) {
    namespace fs = std::filesystem;
    TempDir into("folvio-extract-");
    const std::string a = shellQuote(archive.string()), p = shellQuote(password), d = shellQuote(into.path().string());
    const CommandResult r =
        runCommand(reader == AesReader::SevenZip ? "7zz x -y -p" + p + " -o" + d + " " + a
                                                 : "bsdtar -xf " + a + " -C " + d + " --passphrase " + p);
    if (r.exitCode != 0) return {"error: " + r.output};
    std::vector<std::string> lines;
    for (const auto& e : fs::recursive_directory_iterator(into.path())) {
        const std::string name = fs::relative(e.path(), into.path()).string();
        if (e.is_directory()) lines.push_back(name + "/");
        else lines.push_back(name + "=" + readFile(e.path()));
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

// The methods 7-Zip lists for an archive's entries, one "Method = ..." line each.
inline std::vector<std::string> sevenZipMethods(const std::filesystem::path& archive, const std::string& password) {
    const CommandResult r = runCommand("7zz l -slt -p" + shellQuote(password) + " " + shellQuote(archive.string()));
    std::vector<std::string> methods;
    size_t at = 0;
    while ((at = r.output.find("\nMethod = ", at)) != std::string::npos) {
        const size_t end = r.output.find('\n', at + 1);
        methods.push_back(r.output.substr(at + 1, end - at - 1));
        at = end;
    }
    return methods;
}

}  // namespace testsupport
