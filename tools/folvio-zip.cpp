// folvio-zip: packs files and folders into a ZIP archive, updates one or removes entries from it.
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <map>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>
#ifdef _WIN32
#include "platform/winapi_win32.h"
#else
#include <termios.h>
#endif

#include "buildinfo.h"
#include "platform/arguments.h"
#include "platform/filelock.h"
#include "platform/filesystem.h"
#include "platform/interrupt.h"
#include "platform/leftout.h"
#include "platform/wildcard.h"
#include "zip/archivereader.h"
#include "zip/aescipher.h"
#include "zip/maxdeflate.h"
#include "zip/ziperrors.h"
#include "zip/zipwriter.h"

namespace {

// Exit codes in the convention of 7-Zip, which scripts already know.
constexpr int kExitOk = 0;
constexpr int kExitWarning = 1;    // the archive is complete, some files were left out
constexpr int kExitFailed = 2;     // the job failed
constexpr int kExitNothingToPack = 3;    // no specification led to a file: no archive was written
constexpr int kExitNothingToRemove = 4;  // no pattern matched an entry: the archive is unchanged
constexpr int kExitTestFailed = 5;       // the test after writing (-T) found a bad entry
constexpr int kExitUsage = 7;      // bad command line
constexpr int kExitCancelled = 255;

const char* const kHelp = R"(Usage: folvio-zip [options] ARCHIVE SPEC...
       folvio-zip -d ARCHIVE PATTERN...

Packs files into the ZIP archive ARCHIVE. When ARCHIVE exists it is updated: its
entries are carried over, new files are added after them, and the new archive is
made beside the old one and put in its place in one step, so that ARCHIVE always
names a complete archive. Each SPEC is a file, a folder or a wildcard
specification such as '/data/docs/*.*' (quote it so that the shell leaves it
alone). A folder is packed with everything below it, folders as entries of their
own, as the backup application packs it. Two jobs on one archive at the same
time take turns: the second waits until the first has put its archive in place.
An archive you may not write is not updated; the new one keeps the old one's
permissions, and an update that adds, replaces and removes nothing leaves the
file as it was, its time included.
Wildcards: * any text, ? one character, <a-z> one of a class, <!a-z> one outside it;
letters A to Z match either case; "*.*" matches every name.

Options:
  -u          update (the default): an entry is replaced only by a newer file
              (times before 1980 and after 2107 are stored as the first and
              last time an entry holds)
  -f          freshen: like -u, but files without an entry are not added
  --replace   every file replaces the entry of its name
  -d          delete the entries matching the PATTERNs: a pattern with wildcards
              is matched against the file name, or against the whole stored name
              when it holds "/"; any other pattern names one entry (docs/a.txt).
              An archive with entries leading outside its folder ('../../x') is
              refused by every other job; -d may remove them, named as stored
  -P PASSWORD encrypt the files with PASSWORD (traditional ZIP encryption unless
              --aes). A password on the command line can be seen by other users
              of this computer (in the process list); prefer -e
  -e          encrypt: ask for the password twice on the terminal, without echo
  --aes       encrypt with AES-256 (with -P or -e): strong, but the archive then
              needs a reader that supports AES (7-Zip, bsdtar and most current
              archivers do; Info-ZIP unzip does not). Entries an update copies
              keep the cipher they have
  -r          also search the subfolders of wildcard specifications
  -0 ... -9   pack level: 0 stores, 1 to 9 compress with Deflate (default 6;
              9 packs smaller)
  --max       maximum compression: about 4% smaller than -9, several times
              slower, still plain Deflate that every reader opens. Each file is
              held in memory while it is packed (the file and its packed form,
              so up to 256 MiB); files above 128 MiB are packed as with -9
  -D          no entries for folders (by default a recursive search adds them)
  -j          junk paths: store file names without their folders
  -x PATTERN  leave out files matching PATTERN; a pattern holding "/" is matched
              against the whole path as searched (absolute with --root), any other
              against the file name (repeatable)
  -n PATTERN  store files whose names match PATTERN without compressing them
              (repeatable)
  --root DIR  store paths relative to the folder DIR (implies -r)
  -T          test the archive after writing it, before it is put in place:
              every entry is read back, inflated by zlib and its CRC and sizes
              checked. When the test fails, the message names the first bad
              entry and what is wrong with it, the new archive is removed and an
              existing one stays as it was (exit code 3). Entries carried over
              under another password than -P's get the checks that need none
  --sync      write ARCHIVE anew as a full run would, in a full run's order, but
              take over the entries of the existing ARCHIVE whose files are
              unchanged instead of packing them again: every file is still read
              for its CRC, and an entry is taken only when its file's size, time
              and CRC, the level, the method and the password are the same and
              its data inflate to the file's bytes (a damaged entry is named and
              its file packed anew). Entries of files that are gone are dropped.
              Unencrypted, the result is byte for byte what a full run writes.
              The level is known from a mark (an extended attribute) folvio-zip
              leaves on an archive it wrote whole; without it only stored
              entries are taken over. Not with -d
  -q          quiet: no progress bar and no summary
  --no-wait   fail at once when another process is writing ARCHIVE (by default
              the job waits until that one has put its archive in place)
  --threads N pack N files at a time (1 to 64; default: the processors online,
              at most 16). The archive is the same byte for byte whatever N is
              (but for the random encryption headers); 1 packs one at a time
  -h, --help  show this text
  --version   show the version

Folder paths are stored without a leading "/" and without "." or ".." parts.
On a terminal a progress bar is drawn on stderr. Ctrl+C cancels: an unfinished
new archive is removed, an existing archive stays as it was.

Exit codes:
  0    every file was packed
  1    the archive is complete, but some files were left out, or changed while
       they were packed, or some SPECs or PATTERNs found nothing (each is named)
  2    the job failed (the reason is shown); no new archive was left behind and
       an existing one is unchanged
  3    nothing to pack: no SPEC led to a file (a wildcard that matches nothing,
       a file or folder that is not there); no archive was written and an
       existing one is unchanged. An empty folder is packed as such.
  4    nothing to remove: with -d, no PATTERN matched an entry; the archive is
       unchanged
  5    the test after writing (-T) found a bad entry (named); no new archive
       was left behind and an existing one is unchanged
  7    bad command line (an empty ARCHIVE name included)
  255  cancelled; no new archive was left behind and an existing one is unchanged

The traditional ZIP encryption is weak: it keeps out the casual reader, not a
determined one. Use --aes for data that must stay secret.
)";

volatile std::sig_atomic_t interrupted = 0;

struct Options {
    bool recurse = false;
    int level = 6;
    bool noDirEntries = false;
    bool junkPaths = false;
    bool quiet = false;
    bool remove = false;
    bool test = false;
    TZipAction action = TZipAction::zaUpdate;
    std::string password;
    bool hasPassword = false;
    bool askPassword = false;
    bool aes = false;
    bool version = false;
    bool noWait = false;
    unsigned threads = parallelpack::DefaultThreads();
    bool sync = false;
    std::string root;
    bool hasRoot = false;
    std::vector<std::string> exclude, noCompress, positional;
};

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

Options parse(int argc, char** argv, bool& help) {
    Options o;
    bool optionsDone = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](const std::string& option) {
            if (i + 1 >= argc) throw UsageError("option " + option + " needs a value");
            return std::string(argv[++i]);
        };
        if (optionsDone || arg.size() < 2 || arg[0] != '-') {
            o.positional.push_back(arg);
        } else if (arg == "--") {
            optionsDone = true;
        } else if (arg == "--help") {
            help = true;
        } else if (arg == "--aes") {
            o.aes = true;
        } else if (arg == "--max") {
            o.level = maxdeflate::kLevel;
        } else if (arg == "--version") {
            o.version = true;
        } else if (arg == "--no-wait") {
            o.noWait = true;
        } else if (arg == "--sync") {
            o.sync = true;
        } else if (arg == "--replace") {
            o.action = TZipAction::zaReplace;
        } else if (arg == "--threads" || arg.rfind("--threads=", 0) == 0) {
            const std::string n = arg == "--threads" ? value(arg) : arg.substr(10);
            if (n.empty() || n.size() > 2 || n.find_first_not_of("0123456789") != std::string::npos ||
                std::stoi(n) < 1 || std::stoi(n) > 64)
                throw UsageError("--threads needs a number from 1 to 64, not \"" + n + "\"");
            o.threads = static_cast<unsigned>(std::stoi(n));
        } else if (arg == "--root" || arg.rfind("--root=", 0) == 0) {
            o.root = arg == "--root" ? value(arg) : arg.substr(7);
            o.hasRoot = true;
        } else if (arg[1] == '-') {
            throw UsageError("unknown option " + arg);
        } else {
            for (size_t k = 1; k < arg.size(); ++k) {
                char c = arg[k];
                if (c >= '0' && c <= '9') o.level = c - '0';
                else if (c == 'r') o.recurse = true;
                else if (c == 'D') o.noDirEntries = true;
                else if (c == 'j') o.junkPaths = true;
                else if (c == 'q') o.quiet = true;
                else if (c == 'h') help = true;
                else if (c == 'u') o.action = TZipAction::zaUpdate;
                else if (c == 'f') o.action = TZipAction::zaFreshen;
                else if (c == 'd') o.remove = true;
                else if (c == 'T') o.test = true;
                else if (c == 'e') o.askPassword = true;
                else if (c == 'P') {
                    o.password = k + 1 < arg.size() ? arg.substr(k + 1) : value("-P");
                    o.hasPassword = true;
                    break;
                } else if (c == 'x' || c == 'n') {
                    // The pattern is the rest of this argument or the next one.
                    std::string pattern = k + 1 < arg.size() ? arg.substr(k + 1) : value(std::string("-") + c);
                    (c == 'x' ? o.exclude : o.noCompress).push_back(pattern);
                    break;
                } else {
                    throw UsageError(std::string("unknown option -") + c);
                }
            }
        }
    }
    return o;
}

// The path made absolute and free of ".", ".." and doubled "/" (lexically; links are not resolved).
std::string absolutePath(const std::string& path) {
    std::string full = path;
    if (full.empty() || full[0] != '/') {
        std::vector<char> cwd(4096);
        while (!getcwd(cwd.data(), cwd.size())) {
            if (errno != ERANGE) throw UsageError(std::string("cannot read the current folder: ") + std::strerror(errno));
            cwd.resize(cwd.size() * 2);
        }
        full = std::string(cwd.data()) + "/" + full;
    }
    std::string out;
    for (const std::string& part : platform::LexicalParts(full)) out.append("/").append(part);
    return out.empty() ? "/" : out;
}

// The file pattern for everything below a folder, walked recursively.
std::string recursiveSpec(std::string folder) {
    while (!folder.empty() && folder.back() == '/') folder.pop_back();
    folder.insert(0, 1, '>');
    folder += "/*.*";
    return folder;
}

// Whether spec names a folder that is not there: one ending in "/" (the writer would add it as an
// entry of its own) or the folder of a wildcard specification (the search would find nothing).
bool namesMissingFolder(const std::string& spec) {
    if (!spec.empty() && spec.back() == '/') return !platform::DirectoryExists(spec);
    if (!IsWildCard(spec)) return false;
    size_t slash = spec.rfind('/');
    if (slash == std::string::npos || slash == 0) return false;
    std::string folder = spec.substr(0, slash);
    return !IsWildCard(folder) && !platform::DirectoryExists(folder);
}

#ifdef _WIN32
// Asks for the password twice on the console, with echo off before the first prompt shows.
std::string askPassword() {
    HANDLE in = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE out = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD saved = 0;
    if (in == INVALID_HANDLE_VALUE || out == INVALID_HANDLE_VALUE || !GetConsoleMode(in, &saved)) {
        if (in != INVALID_HANDLE_VALUE) CloseHandle(in);
        if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
        throw UsageError("-e needs a console to ask for the password on");
    }
    SetConsoleMode(in, (saved | ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT) & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
    auto readLine = [&](const wchar_t* prompt, std::string& line) {
        DWORD n = 0;
        WriteConsoleW(out, prompt, static_cast<DWORD>(std::wcslen(prompt)), &n, nullptr);
        std::wstring wide;
        for (wchar_t c; !interrupted;) {
            if (!ReadConsoleW(in, &c, 1, &n, nullptr) || n == 0) return false;
            if (c == L'\n') break;
            if (c != L'\r') wide += c;
        }
        WriteConsoleW(out, L"\r\n", 2, &n, nullptr);
        const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
        line.assign(static_cast<size_t>(size), '\0');
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), line.data(), size, nullptr, nullptr);
        return !interrupted;
    };
    std::string first, second;
    bool ok = readLine(L"Enter password: ", first) && readLine(L"Verify password: ", second);
    SetConsoleMode(in, saved);
    CloseHandle(in);
    CloseHandle(out);
    if (!ok) throw UsageError("no password was entered");
    if (first != second) throw UsageError("the two passwords differ");
    return first;
}

#else
// Shows prompt on the terminal and reads one line from it.
bool readLine(int tty, const char* prompt, std::string& line) {
    if (write(tty, prompt, std::strlen(prompt)) < 0) return false;
    line.clear();
    for (char c; !interrupted;) {
        if (read(tty, &c, 1) <= 0) return false;
        if (c == '\n') return true;
        line += c;
    }
    return false;
}

// Asks for the password twice on the controlling terminal, with echo off before the first
// prompt shows, so that nothing typed after it is ever seen or lost.
std::string askPassword() {
    int tty = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (tty < 0) throw UsageError("-e needs a terminal to ask for the password on");
    termios saved{};
    bool restore = tcgetattr(tty, &saved) == 0;
    if (restore) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        quiet.c_lflag |= ECHONL;
        tcsetattr(tty, TCSAFLUSH, &quiet);
    }
    std::string first, second;
    bool ok = readLine(tty, "Enter password: ", first) && readLine(tty, "Verify password: ", second);
    if (restore) tcsetattr(tty, TCSANOW, &saved);
    close(tty);
    if (!ok) {
        aescipher::WipeText(first);
        aescipher::WipeText(second);
        throw UsageError("no password was entered");
    }
    const bool same = first == second;
    aescipher::WipeText(second);
    if (!same) {
        aescipher::WipeText(first);
        throw UsageError("the two passwords differ");
    }
    return first;
}
#endif

// The progress bar on a terminal, drawn on stderr.
class ProgressBar {
public:
    explicit ProgressBar(bool enabled) : enabled_(enabled) {}
    void show(int percent) {
        if (!enabled_ || percent == shown_) return;
        shown_ = percent;
        constexpr int width = 40;
        int filled = percent * width / 100;
        std::fprintf(stderr, "\r[%s%s] %3d%%", std::string(static_cast<size_t>(filled), '#').c_str(),
                     std::string(static_cast<size_t>(width - filled), '.').c_str(), percent);
        std::fflush(stderr);
    }
    // Takes the bar off the line so that a message can be printed there.
    void clear() {
        if (enabled_ && shown_ >= 0) std::fputs("\r\033[K", stderr);
        shown_ = -1;
    }

private:
    bool enabled_;
    int shown_ = -1;
};

// The existing archive of --sync, written anew under a hidden name beside it that takes its place
// in one step; locked meanwhile, so that other jobs on it wait.
class SyncTarget {
public:
    static constexpr const char* kStem = ".folvio-zip-";

    ~SyncTarget() {
        if (!temporary_.empty()) platform::DeleteFile(temporary_);
    }
    void begin(TZipWriter& writer, const std::string& archive, bool noWait) {
        if (const int error = platform::fileSystem().mayWrite(archive); error < 0)
            throw std::runtime_error("The archive \"" + archive + "\" cannot be updated: " + platform::errorText(error));
        if (const int error = lock_.Acquire(archive, !noWait); error == -EWOULDBLOCK)
            throw std::runtime_error("The archive \"" + archive + "\" is being written by another process; try again later");
        if (platform::fileSystem().stat(archive, status_) != 0)
            throw std::runtime_error("The archive \"" + archive + "\" vanished");
        archive_ = archive;
        const size_t slash = archive.rfind('/');
        const std::string folder = slash == std::string::npos ? "./" : archive.substr(0, slash + 1);
        platform::RemoveStaleTemporaries(folder, kStem);
        temporary_ = platform::CreateTemporaryFile(folder, platform::TemporaryPrefix(kStem));
        platform::DeleteFile(temporary_);  // the writer makes it anew; its random part keeps the name free
        writer.SetZipName(temporary_);
        writer.ReuseFrom = archive;
        // Should the folder packed hold the archive, the old one is not packed into the new one.
        writer.OnStartZip = [this](TZipReader*, const std::string& name, TZipHeaderInfo& header, bool& skip) {
            if (platform::IsSameFile(name, header.uncompressed_size, status_)) skip = true;
        };
    }
    // Puts the new archive, with the old one's permissions, in the old one's place.
    void commit() {
        if (temporary_.empty()) return;
        if (platform::FileExists(temporary_)) {
            TBufferedFileStream(temporary_, TFileMode::fmOpenRead).SetPermissions(status_.mode);
            if (const int error = platform::fileSystem().rename(temporary_, archive_); error < 0)
                throw std::runtime_error("Cannot put the archive \"" + archive_ + "\" in place. " + platform::errorText(error));
        }
        temporary_.clear();
    }

private:
    platform::FileLock lock_;
    platform::FileStatus status_;
    std::string archive_, temporary_;
};

int run(int argc, char** argv) {
    bool help = false;
    Options o;
    try {
        o = parse(argc, argv, help);
        if (help) {
            std::fputs(kHelp, stdout);
            return kExitOk;
        }
        if (o.version) {
            std::fputs(buildinfo::VersionText("folvio-zip").c_str(), stdout);
            return kExitOk;
        }
        if (o.positional.size() < 2)
            throw UsageError(o.remove ? "an archive and at least one pattern are needed"
                                      : "an archive and at least one file specification are needed");
        // An unset variable in a script gives an empty name, which would name no archive at all.
        if (o.positional[0].find_first_not_of(" \t\n") == std::string::npos) throw UsageError("the archive name is empty");
        if (o.hasRoot && !platform::DirectoryExists(o.root)) throw UsageError("--root " + o.root + " is not a folder");
        if (o.remove && !platform::FileExists(o.positional[0])) throw UsageError("there is no archive " + o.positional[0]);
        if (o.askPassword && !o.remove) o.password = askPassword(), o.hasPassword = true;
        if (o.hasPassword && o.password.empty()) throw UsageError("an empty password encrypts nothing");
        if (o.aes && !o.remove && !o.hasPassword) throw UsageError("--aes needs a password (-P or -e)");
        if (o.sync && o.remove) throw UsageError("--sync and -d do not go together");
    } catch (const UsageError& e) {
        std::fprintf(stderr, "folvio-zip: %s\nTry 'folvio-zip --help'.\n", e.what());
        return kExitUsage;
    }

    TZipWriter writer;
    std::string archive = o.positional[0];
    if (o.hasRoot) {
        // Both sides absolute, so that the root is a prefix of the paths the walk yields.
        archive = absolutePath(archive);
        writer.SetRootDir(absolutePath(o.root));
        writer.SetRelativePaths(true);
    } else {
        writer.SetStorePaths(true);
    }
    if (o.junkPaths) writer.SetStorePaths(false);
    if (o.recurse) writer.Recurse = true;
    writer.SetPackLevel(o.level);
    writer.AddDirEntriesOnRecurse = !o.noDirEntries;
    writer.ExcludeList = o.exclude;
    writer.NoCompressList = o.noCompress;
    writer.SetZipName(archive);
    writer.ZipAction = o.action;
    writer.WaitForArchiveLock = !o.noWait;
    writer.Threads = o.threads;
    if (!o.remove) writer.Password = o.password;
    writer.TestAfterWriting = o.test;
    aescipher::WipeText(o.password);
    if (o.aes) writer.Encryption = TZipEncryption::zeAes256;
    // The password is wiped on every way out.
    struct Wipe {
        std::string& text;
        ~Wipe() { aescipher::WipeText(text); }
    } wipePassword{writer.Password};
    bool existed = platform::FileExists(archive);
    SyncTarget sync;
    if (o.sync && existed) {
        try {
            sync.begin(writer, archive, o.noWait);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "folvio-zip: %s\n", e.what());
            return kExitFailed;
        }
    }

    bool leftOut = false;
    // Specifications (or patterns) that led to nothing; a folder is never one of them, even empty.
    size_t unmatched = 0;
    std::vector<std::string> folderSpecs;
    std::map<std::string, std::string> given;  // a specification as the writer has it -> as it was given
    for (size_t i = 1; i < o.positional.size() && o.remove; ++i) writer.FilesList.push_back(o.positional[i]);
    for (size_t i = 1; i < o.positional.size() && !o.remove; ++i) {
        std::string spec = o.positional[i];
        if (namesMissingFolder(spec)) {
            std::fprintf(stderr, "folvio-zip: left out %s: no such folder\n", spec.c_str());
            leftOut = true;
            ++unmatched;
            continue;
        }
        if (platform::DirectoryExists(spec)) {
            // A folder is packed as the application packs one: everything below it, recursively.
            std::string folder = o.hasRoot ? absolutePath(spec) : spec;
            spec = recursiveSpec(folder);
            folderSpecs.push_back(spec);
        } else if (o.hasRoot) {
            spec = absolutePath(spec);
        }
        given.emplace(spec, o.positional[i]);
        writer.FilesList.push_back(spec);
    }
    // An archive of nothing is made only for a folder that is empty.
    writer.MakeEmptyArchive = !folderSpecs.empty();

    ProgressBar bar(!o.quiet && isatty(STDERR_FILENO));
    writer.ProcessMessages = [&] {
        if (interrupted) writer.CancelTheOperation();
    };
    writer.OnTotalPercentDone = [&](TZipReader*, int percent) { bar.show(percent); };
    writer.OnSkippingFile = [&](TZipReader*, TSkipReason reason, const std::string& name, int, bool&) {
        bar.clear();
        std::string why = reason == TSkipReason::srNoOverwrite ? "an entry of that name is already in the archive"
                                                                : platform::LeftOutReason(name);
        std::fprintf(stderr, "folvio-zip: left out %s: %s\n", name.c_str(), why.c_str());
        leftOut = true;
    };
    writer.OnFileChanged = [&](TZipReader*, const std::string& name) {
        bar.clear();
        std::fprintf(stderr, "folvio-zip: %s changed while it was packed\n", name.c_str());
        leftOut = true;
    };
    writer.OnReuseFault = [&](TZipReader*, const std::string& name, const std::string& detail) {
        bar.clear();
        if (name.empty()) std::fprintf(stderr, "folvio-zip: the earlier archive is not used: %s\n", detail.c_str());
        else std::fprintf(stderr, "folvio-zip: the entry of %s in the earlier archive is damaged (%s); packed anew\n",
                          name.c_str(), detail.c_str());
    };
    writer.OnNoSuchFile = [&](TZipReader*, const std::string& name) {
        bar.clear();
        std::fprintf(stderr, "folvio-zip: left out %s: no such file\n", name.c_str());
        leftOut = true;
        ++unmatched;
    };
    writer.OnNothingMatched = [&](TZipReader*, const std::string& spec) {
        if (std::find(folderSpecs.begin(), folderSpecs.end(), spec) != folderSpecs.end()) return;  // an empty folder
        bar.clear();
        const auto it = given.find(spec);
        std::fprintf(stderr, o.remove ? "folvio-zip: no entry matches %s\n" : "folvio-zip: nothing matches %s\n",
                     (it == given.end() ? spec : it->second).c_str());
        leftOut = true;
        ++unmatched;
    };

    const char* const cancelled = existed ? "folvio-zip: cancelled; the archive is unchanged\n"
                                          : "folvio-zip: cancelled; no archive was written\n";
    int64_t count;
    try {
        count = o.remove ? writer.DeleteEntries() : writer.Zip();
        sync.commit();
    } catch (const EUserCanceled&) {
        bar.clear();
        std::fputs(cancelled, stderr);
        return kExitCancelled;
    } catch (const ETestFailed& e) {
        bar.clear();
        std::fprintf(stderr, "folvio-zip: %s; %s\n", e.what(),
                     existed ? "the archive is unchanged" : "no archive was written");
        return kExitTestFailed;
    } catch (const EIncompleteZip& e) {
        bar.clear();
        std::fprintf(stderr, "folvio-zip: %s: %s (%s); it is unchanged\n", archive.c_str(), e.what(), e.Detail().c_str());
        return kExitFailed;
    } catch (const EListError& e) {
        bar.clear();
        std::fprintf(stderr, "folvio-zip: %s; it is unchanged\n", e.what());
        return kExitFailed;
    } catch (const std::exception& e) {
        bar.clear();
        std::fprintf(stderr, "folvio-zip: %s\n", e.what());
        return kExitFailed;
    }
    bar.clear();
    const size_t specs = o.positional.size() - 1;
    if (unmatched == specs && o.remove) {
        std::fprintf(stderr, "folvio-zip: nothing to remove; %s is unchanged\n", archive.c_str());
        return kExitNothingToRemove;
    }
    if (unmatched == specs && !o.remove) {
        std::fprintf(stderr, existed ? "folvio-zip: nothing to pack; %s is unchanged\n"
                                     : "folvio-zip: nothing to pack; no archive was written\n",
                     archive.c_str());
        return kExitNothingToPack;
    }
    if (interrupted && !existed) {
        // Cancelled after the last yield: the new archive is complete, but it was not wanted.
        platform::DeleteFile(archive);
        std::fputs(cancelled, stderr);
        return kExitCancelled;
    }
    if (!o.quiet) {
        const char* const entries = count == 1 ? "entry" : "entries";
        if (o.remove) std::fprintf(stderr, "folvio-zip: %lld %s removed from %s\n", static_cast<long long>(count), entries, archive.c_str());
        else if (o.sync)
            std::fprintf(stderr, "folvio-zip: %lld %s written to %s, %lld of them taken over unchanged\n",
                         static_cast<long long>(count), entries, archive.c_str(), static_cast<long long>(writer.EntriesReused()));
        else std::fprintf(stderr, "folvio-zip: %lld %s written to %s\n", static_cast<long long>(count), entries, archive.c_str());
    }
    return leftOut ? kExitWarning : kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    platform::CatchInterrupts(interrupted);
    platform::Utf8Argv args(argc, argv);
    try {
        return run(args.argc(), args.argv());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "folvio-zip: %s\n", e.what());
        return kExitFailed;
    }
}
