// folvio-unzip: lists, tests and extracts ZIP archives, safely against hostile entry names.
#include <cctype>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>
#include <fcntl.h>
#include <memory>
#include <random>
#include <string>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

#include "buildinfo.h"
#include "platform/filesystem.h"
#include "platform/interrupt.h"
#include "platform/wildcard.h"
#include "zip/archivereader.h"
#include "zip/ziperrors.h"

namespace {

// Exit codes, in the convention of folvio-zip.
constexpr int kExitOk = 0;
constexpr int kExitWarning = 1;    // some entries were refused (each is named), the rest is done
constexpr int kExitFailed = 2;     // a bad entry (named), an unreadable archive or a file that could not be written
constexpr int kExitUsage = 7;      // bad command line
constexpr int kExitCancelled = 255;

const char* const kHelp = R"(Usage: folvio-unzip [options] ARCHIVE [NAME...]

Extracts the entries of the ZIP archive ARCHIVE into the current folder (or the
folder given by -d), or lists or tests them. Each NAME selects entries: a name
without wildcards names one entry (docs/a.txt) or a folder with everything in
it (docs/); a pattern with wildcards is matched against the file name, or
against the whole stored name when it holds "/". Without NAMEs every entry is
taken.
Wildcards: * any text, ? one character, <a-z> one of a class, <!a-z> one outside it;
letters A to Z match either case.

Options:
  -l          list the entries: size, date, time and name
  -t          test the entries: each is read, inflated and its CRC and sizes
              checked, as extraction would; nothing is written
  -d DIR      extract into DIR (made when missing)
  -P PASSWORD the password of encrypted entries. A password on the command line
              can be seen by other users of this computer; prefer -e
  -e          ask for the password on the terminal, without echo
  -o          overwrite existing files without asking
  -n          never overwrite existing files
  -q          quiet: only errors
  -h, --help  show this text
  --version   show the version

Without -o or -n, each existing file is asked about when the input is a terminal
(yes, no, All, None) and kept otherwise. Extraction restores modification
times, the read-only attribute where the archive records it, and empty folders.

Safety: nothing is written outside the target folder. An entry whose name is
absolute, starts with a drive letter or holds a ".." part (with "/" or "\" as
separator) is refused by name, as is one that would be a link: links stored in
the archive are not restored, and no link on the way into the target folder is
followed. A name that is a folder in one entry and a file in another is refused
where it conflicts. The rest is extracted. A file is written under a temporary
name and takes its own only when complete and checked: a bad entry, an error or
Ctrl+C leaves no partial file, and an existing file stays as it was.

Exit codes:
  0    every entry selected was listed, tested or extracted
  1    some entries were refused (each is named); the rest was extracted
  2    an entry is bad (named, with what is wrong), the archive cannot be read,
       or a file could not be written
  7    bad command line
  255  cancelled; the file being written was removed
)";

volatile std::sig_atomic_t interrupted = 0;

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Cancelled : public std::exception {};

enum class Mode { Extract, List, Test };
enum class Overwrite { Ask, Always, Never };

struct Options {
    Mode mode = Mode::Extract;
    Overwrite overwrite = Overwrite::Ask;
    std::string dir = ".";
    std::string password;
    bool hasPassword = false, askPassword = false, quiet = false, help = false, version = false;
    std::vector<std::string> positional;
};

Options parse(int argc, char** argv) {
    Options o;
    bool optionsDone = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](const std::string& option) {
            if (i + 1 >= argc) throw UsageError("option " + option + " needs a value");
            return std::string(argv[++i]);
        };
        if (optionsDone || arg.size() < 2 || arg[0] != '-') {
            o.positional.push_back(arg);
        } else if (arg == "--") {
            optionsDone = true;
        } else if (arg == "--help") {
            o.help = true;
        } else if (arg == "--version") {
            o.version = true;
        } else if (arg[1] == '-') {
            throw UsageError("unknown option " + arg);
        } else {
            for (size_t k = 1; k < arg.size(); ++k) {
                const char c = arg[k];
                if (c == 'l') o.mode = Mode::List;
                else if (c == 't') o.mode = Mode::Test;
                else if (c == 'o') o.overwrite = Overwrite::Always;
                else if (c == 'n') o.overwrite = Overwrite::Never;
                else if (c == 'q') o.quiet = true;
                else if (c == 'h') o.help = true;
                else if (c == 'e') o.askPassword = true;
                else if (c == 'P' || c == 'd') {
                    std::string v = k + 1 < arg.size() ? arg.substr(k + 1) : value(std::string("-") + c);
                    if (c == 'd') o.dir = v;
                    else o.password = v, o.hasPassword = true;
                    break;
                } else {
                    throw UsageError(std::string("unknown option -") + c);
                }
            }
        }
    }
    return o;
}

// Asks for the password once on the controlling terminal, with echo off.
std::string askPassword() {
    const int tty = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (tty < 0) throw UsageError("-e needs a terminal to ask for the password on");
    termios saved{};
    const bool restore = tcgetattr(tty, &saved) == 0;
    if (restore) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        quiet.c_lflag |= ECHONL;
        tcsetattr(tty, TCSAFLUSH, &quiet);
    }
    const char prompt[] = "Enter password: ";
    std::string line;
    bool ok = write(tty, prompt, sizeof prompt - 1) >= 0;
    for (char c; ok && !interrupted;) {
        if (read(tty, &c, 1) <= 0) ok = false;
        else if (c == '\n') break;
        else line += c;
    }
    if (restore) tcsetattr(tty, TCSANOW, &saved);
    close(tty);
    if (!ok || interrupted) throw UsageError("no password was entered");
    return line;
}

// Whether the entry is one the NAMEs select.
bool selected(const std::vector<std::string>& names, const std::string& entry) {
    if (names.empty()) return true;
    for (const std::string& name : names) {
        if (IsWildCard(name)) {
            const size_t slash = entry.find_last_of('/', entry.size() > 1 ? entry.size() - 2 : 0);
            const std::string fileName = slash == std::string::npos ? entry : entry.substr(slash + 1);
            if (IsMatch(name, name.find('/') != std::string::npos ? entry : fileName)) return true;
        } else if (entry == name || (!name.empty() && name.back() == '/' && entry.rfind(name, 0) == 0)) {
            return true;
        }
    }
    return false;
}

// The parts of an entry's name as it will be placed under the target folder, or why it is refused.
bool safeParts(const TArchiveEntry& entry, std::vector<std::string>& parts, std::string& why) {
    const std::string& name = entry.name;
    parts.clear();
    if (entry.IsSymlink()) return why = "it is a link, and links are not restored", false;
    if (name.empty()) return why = "its name is empty", false;
    if (name.find('\0') != std::string::npos) return why = "its name holds a zero byte", false;
    if (name[0] == '/' || name[0] == '\\') return why = "its name is absolute", false;
    if (name.size() >= 2 && name[1] == ':' && std::isalpha(static_cast<unsigned char>(name[0])))
        return why = "its name starts with a drive letter", false;
    size_t from = 0;
    while (from <= name.size()) {
        size_t sep = name.find_first_of("/\\", from);
        if (sep == std::string::npos) sep = name.size();
        const std::string part = name.substr(from, sep - from);
        if (part == "..") return why = "its name holds a \"..\" part", false;
        if (!part.empty() && part != ".") parts.push_back(part);
        from = sep + 1;
    }
    if (parts.empty()) return why = "its name has no part to place", false;
    return true;
}

// A file descriptor closed on every way out of a scope.
struct Fd {
    int fd = -1;
    explicit Fd(int f = -1) : fd(f) {}
    Fd(Fd&& o) noexcept : fd(o.fd) { o.fd = -1; }
    Fd& operator=(Fd&& o) noexcept {
        if (this != &o) reset(), fd = o.fd, o.fd = -1;
        return *this;
    }
    ~Fd() { reset(); }
    void reset() {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
};

class ExtractError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

std::string reason(int error) { return std::strerror(error); }

// The local time of a DOS date and time.
std::time_t dosToTime(uint32_t dos) {
    std::tm tm{};
    tm.tm_year = static_cast<int>((dos >> 25) & 0x7F) + 80;
    tm.tm_mon = static_cast<int>((dos >> 21) & 0x0F) - 1;
    tm.tm_mday = static_cast<int>((dos >> 16) & 0x1F);
    tm.tm_hour = static_cast<int>((dos >> 11) & 0x1F);
    tm.tm_min = static_cast<int>((dos >> 5) & 0x3F);
    tm.tm_sec = static_cast<int>(dos & 0x1F) * 2;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

class Extractor {
public:
    Extractor(const Options& o, TArchiveReader& reader) : o_(o), reader_(reader), overwrite_(o.overwrite) {
        ask_ = overwrite_ == Overwrite::Ask && isatty(STDIN_FILENO);
        const mode_t mask = umask(0);
        umask(mask);
        umask_ = mask;
    }

    // Opens (making them when missing) the folders of parts[0, count) below the target folder,
    // following no link; the last one's descriptor.
    Fd openFolders(const std::vector<std::string>& parts, size_t count) {
        Fd dir(open(o_.dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (dir.fd < 0) throw ExtractError("the folder " + o_.dir + " cannot be opened: " + reason(errno));
        return openBelow(std::move(dir), parts, 0, count);
    }

    // The folder of a file's parts: the one of the last file when it is the same (archives keep a
    // folder's files together), else opened anew. The descriptor stays the extractor's.
    int fileFolder(const std::vector<std::string>& parts) {
        const size_t count = parts.size() - 1;
        if (cached_.fd < 0 || cachedParts_.size() != count || !std::equal(cachedParts_.begin(), cachedParts_.end(), parts.begin())) {
            cached_.reset();
            cachedParts_.clear();
            cached_ = openFolders(parts, count);
            cachedParts_.assign(parts.begin(), parts.begin() + static_cast<std::ptrdiff_t>(count));
        }
        return cached_.fd;
    }

    Fd openBelow(Fd dir, const std::vector<std::string>& parts, size_t from, size_t count) {
        for (size_t i = from; i < count; ++i) {
            if (mkdirat(dir.fd, parts[i].c_str(), 0777) != 0 && errno != EEXIST)
                throw ExtractError("the folder " + parts[i] + " cannot be made: " + reason(errno));
            Fd next(openat(dir.fd, parts[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (next.fd < 0) {
                if (errno == ELOOP || errno == ENOTDIR)
                    throw Refused("its path runs through \"" + parts[i] + "\", which is a file or a link, not a folder");
                throw ExtractError("the folder " + parts[i] + " cannot be opened: " + reason(errno));
            }
            dir = std::move(next);
        }
        return dir;
    }

    class Refused : public std::runtime_error {
    public:
        using std::runtime_error::runtime_error;
    };

    // Extracts one entry; false when it was kept (an existing file not overwritten).
    bool extract(const TArchiveEntry& entry, const std::vector<std::string>& parts) {
        if (entry.IsFolder()) {
            openFolders(parts, parts.size());
            folders_.push_back({parts, entry.dosDateTime});
            return true;
        }
        const int dirFd = fileFolder(parts);
        const std::string& leaf = parts.back();
        struct stat st {};
        if (fstatat(dirFd, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
            if (S_ISDIR(st.st_mode)) throw Refused("a folder of that name is in the way");
            if (!mayOverwrite(entry.name)) return false;
        }
        std::string temp;
        Fd out;
        std::mt19937 random(std::random_device{}());
        for (int attempt = 0; out.fd < 0; ++attempt) {
            temp = ".folvio-unzip-" + std::to_string(random());
            out = Fd(openat(dirFd, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
            if (out.fd < 0 && (errno != EEXIST || attempt > 100))
                throw ExtractError("cannot create a file in the folder of " + entry.name + ": " + reason(errno));
        }
        // The partial file goes on every way out but the one where it takes its place.
        struct Remove {
            int dir;
            std::string name;
            ~Remove() {
                if (!name.empty()) unlinkat(dir, name.c_str(), 0);
            }
        } remove{dirFd, temp};
        reader_.Extract(entry, o_.password, [&](const uint8_t* data, size_t length) {
            if (interrupted) throw Cancelled();
            while (length > 0) {
                const ssize_t n = ::write(out.fd, data, length);
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) throw ExtractError("cannot write " + entry.name + ": " + reason(n < 0 ? errno : ENOSPC));
                data += n;
                length -= static_cast<size_t>(n);
            }
        });
        mode_t mode = entry.HasUnixMode() ? (entry.externalAttributes >> 16) & 0777 : 0666;
        if (entry.IsReadOnly()) mode &= ~0222u;
        mode &= ~umask_;
        const timespec times[2] = {{0, UTIME_OMIT}, {dosToTime(entry.dosDateTime), 0}};
        if (fchmod(out.fd, mode) != 0 || futimens(out.fd, times) != 0 || ::close(out.fd) != 0) {
            out.fd = -1;
            throw ExtractError("cannot finish " + entry.name + ": " + reason(errno));
        }
        out.fd = -1;
        if (renameat(dirFd, temp.c_str(), dirFd, leaf.c_str()) != 0)
            throw ExtractError("cannot put " + entry.name + " in place: " + reason(errno));
        remove.name.clear();
        return true;
    }

    // Folders get their times last, deepest first: the files written into them changed them.
    void finishFolders() {
        for (auto it = folders_.rbegin(); it != folders_.rend(); ++it) {
            try {
                Fd dir = openFolders(it->parts, it->parts.size() - 1);
                const timespec times[2] = {{0, UTIME_OMIT}, {dosToTime(it->dosDateTime), 0}};
                utimensat(dir.fd, it->parts.back().c_str(), times, AT_SYMLINK_NOFOLLOW);
            } catch (const std::exception&) {
                // A folder that is gone or now in the way keeps whatever time it has.
            }
        }
    }

private:
    bool mayOverwrite(const std::string& name) {
        if (overwrite_ == Overwrite::Always) return true;
        if (overwrite_ == Overwrite::Never || !ask_) return false;
        for (;;) {
            std::fprintf(stderr, "replace %s? [y]es, [n]o, [A]ll, [N]one: ", name.c_str());
            std::fflush(stderr);
            char line[64];
            if (!std::fgets(line, sizeof line, stdin)) {
                ask_ = false;
                return false;
            }
            switch (line[0]) {
            case 'y': return true;
            case 'n': return false;
            case 'A': overwrite_ = Overwrite::Always; return true;
            case 'N': overwrite_ = Overwrite::Never; return false;
            default: break;
            }
        }
    }

    struct Folder {
        std::vector<std::string> parts;
        uint32_t dosDateTime;
    };
    const Options& o_;
    TArchiveReader& reader_;
    Overwrite overwrite_;
    bool ask_ = false;
    mode_t umask_ = 022;
    std::vector<Folder> folders_;
    Fd cached_;  // the folder of the last file extracted
    std::vector<std::string> cachedParts_;
};

void list(const TArchiveReader& reader, const std::vector<std::string>& names) {
    std::printf("  Length      Date    Time    Name\n---------  ---------- -----   ----\n");
    uint64_t total = 0, count = 0;
    for (const TArchiveEntry& e : reader.Entries()) {
        if (!selected(names, e.name)) continue;
        const uint32_t d = e.dosDateTime;
        std::printf("%9llu  %04u-%02u-%02u %02u:%02u   %s\n", static_cast<unsigned long long>(e.uncompressedSize),
                    ((d >> 25) & 0x7F) + 1980, (d >> 21) & 0x0F, (d >> 16) & 0x1F, (d >> 11) & 0x1F, (d >> 5) & 0x3F,
                    e.name.c_str());
        total += e.uncompressedSize;
        ++count;
    }
    std::printf("---------                     -------\n%9llu                     %llu %s\n",
                static_cast<unsigned long long>(total), static_cast<unsigned long long>(count),
                count == 1 ? "file" : "files");
}

int run(int argc, char** argv) {
    Options o;
    try {
        o = parse(argc, argv);
        if (o.help) return std::fputs(kHelp, stdout), kExitOk;
        if (o.version) return std::fputs(buildinfo::VersionText("folvio-unzip").c_str(), stdout), kExitOk;
        if (o.positional.empty()) throw UsageError("an archive is needed");
        if (o.askPassword) o.password = askPassword(), o.hasPassword = true;
        if (o.hasPassword && o.password.empty()) throw UsageError("an empty password opens nothing");
    } catch (const UsageError& e) {
        std::fprintf(stderr, "folvio-unzip: %s\nTry 'folvio-unzip --help'.\n", e.what());
        return kExitUsage;
    }
    const std::string archive = o.positional[0];
    const std::vector<std::string> names(o.positional.begin() + 1, o.positional.end());

    std::unique_ptr<TBufferedFileStream> stream;
    std::unique_ptr<TArchiveReader> reader;
    try {
        stream = std::make_unique<TBufferedFileStream>(archive, TFileMode::fmOpenRead);
        reader = std::make_unique<TArchiveReader>(*stream);
    } catch (const EIncompleteZip& e) {
        std::fprintf(stderr, "folvio-unzip: %s: %s (%s)\n", archive.c_str(), e.what(), e.Detail().c_str());
        return kExitFailed;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "folvio-unzip: %s\n", e.what());
        return kExitFailed;
    }
    if (o.mode == Mode::List) {
        list(*reader, names);
        return kExitOk;
    }
    if (o.mode == Mode::Extract) {
        if (mkdir(o.dir.c_str(), 0777) != 0 && errno != EEXIST) {
            std::fprintf(stderr, "folvio-unzip: the folder %s cannot be made: %s\n", o.dir.c_str(), reason(errno).c_str());
            return kExitFailed;
        }
    }
    reader->OnChunk = [](uint64_t) {
        if (interrupted) throw Cancelled();
    };

    Extractor extractor(o, *reader);
    int bad = 0, refused = 0, done = 0;
    std::vector<std::string> parts;
    for (const TArchiveEntry& entry : reader->Entries()) {
        if (!selected(names, entry.name)) continue;
        try {
            if (o.mode == Mode::Test) {
                reader->Test(entry, o.password);
                if (!o.quiet) std::printf("    testing: %-40s OK\n", entry.name.c_str());
            } else {
                std::string why;
                if (!safeParts(entry, parts, why)) throw Extractor::Refused(why);
                const bool written = extractor.extract(entry, parts);
                if (!o.quiet) std::printf("%s %s\n", !written ? "     keeping:" : entry.IsFolder() ? "    creating:" : "  extracting:", entry.name.c_str());
            }
            ++done;
        } catch (const Cancelled&) {
            std::fflush(stdout);
            std::fputs("folvio-unzip: cancelled\n", stderr);
            return kExitCancelled;
        } catch (const Extractor::Refused& e) {
            std::fflush(stdout);
            std::fprintf(stderr, "folvio-unzip: refused \"%s\": %s\n", entry.name.c_str(), e.what());
            ++refused;
        } catch (const EArchiveFault& e) {
            std::fflush(stdout);
            std::fprintf(stderr, "folvio-unzip: %s\n", e.what());
            ++bad;
        } catch (const ExtractError& e) {
            std::fflush(stdout);
            std::fprintf(stderr, "folvio-unzip: %s\n", e.what());
            ++bad;
        }
    }
    if (o.mode == Mode::Extract) extractor.finishFolders();
    std::fflush(stdout);
    if (o.mode == Mode::Test && !o.quiet) {
        if (bad) std::printf("%d of %d tested entries of %s are bad.\n", bad, bad + done, archive.c_str());
        else std::printf("No errors detected in %s (%d %s).\n", archive.c_str(), done, done == 1 ? "entry" : "entries");
    }
    if (bad) return kExitFailed;
    return refused ? kExitWarning : kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    platform::CatchInterrupts(interrupted);
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "folvio-unzip: %s\n", e.what());
        return kExitFailed;
    }
}
