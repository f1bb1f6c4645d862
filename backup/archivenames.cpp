#include "backup/archivenames.h"

#include "platform/codepage.h"
#include "platform/findfile.h"
#include "platform/filesystem.h"

#include <ctime>

std::string ZeroPad(long long k, int width) {
    std::string text = std::to_string(k);
    if (width > 0 && text.size() < static_cast<size_t>(width)) text.insert(0, static_cast<size_t>(width) - text.size(), '0');
    return text;
}

std::string PlainArchiveName(const std::string& folder) {
    // From the second-to-last character toward the first, up to the nearest "/".
    size_t begin = folder.size() < 2 ? 0 : folder.size() - 1;
    while (begin > 0 && folder[begin - 1] != '/') --begin;
    std::string base = folder.size() < 2 ? std::string() : folder.substr(begin, folder.size() - 1 - begin);
    // The root folder has no last part: ".zip" would be a hidden name without a base.
    if (base.empty()) base = "root";
    return platform::AnsiLowerCase(base + ".zip");
}

std::string DatedArchiveName(const std::string& folder, const std::string& destination, const std::string& today) {
    std::string dir = destination;
    if (dir.empty() || dir.back() != '/') dir += '/';
    const std::string plain = PlainArchiveName(folder);
    const std::string base = plain.substr(0, plain.size() - 4);
    std::string candidate = today + "_" + base + ".zip";
    for (long long k = 2; platform::FileExists(dir + candidate); ++k)
        candidate = today + "_" + base + "_" + ZeroPad(k, 2) + ".zip";
    return candidate;
}

namespace {

bool allDigits(const std::string& text, size_t from, size_t count) {
    if (from + count > text.size() || count == 0) return false;
    for (size_t i = from; i < from + count; ++i)
        if (text[i] < '0' || text[i] > '9') return false;
    return true;
}

// The number of a dated name of that base: 1 for "yyyy_mm_dd_base.zip", k for "..._base_0k.zip";
// 0 for a name of another form.
long long datedNumber(const std::string& name, const std::string& base) {
    constexpr size_t kDate = 11;  // "yyyy_mm_dd_"
    if (!allDigits(name, 0, 4) || name[4] != '_' || !allDigits(name, 5, 2) || name[7] != '_' || !allDigits(name, 8, 2) ||
        name[10] != '_' || name.compare(kDate, base.size(), base) != 0)
        return 0;
    const std::string rest = name.substr(kDate + base.size());
    if (rest == ".zip") return 1;
    if (rest.size() < 6 || rest[0] != '_' || rest.compare(rest.size() - 4, 4, ".zip") != 0 || !allDigits(rest, 1, rest.size() - 5))
        return 0;
    return rest.size() > 20 ? 0 : std::stoll(rest.substr(1, rest.size() - 5));
}

}  // namespace

std::string NewestDatedArchive(const std::string& folder, const std::string& destination) {
    const std::string plain = PlainArchiveName(folder);
    const std::string base = plain.substr(0, plain.size() - 4);
    platform::DirectoryListing listing(destination);
    std::string newest;
    long long newestNumber = 0;
    platform::FindRecord rec;
    for (int end = listing.error() ? 1 : listing.First(rec); end == 0; end = listing.Next(rec)) {
        if (rec.kind != platform::FileKind::Regular) continue;
        const long long number = datedNumber(rec.name, base);
        if (number == 0) continue;
        const int date = rec.name.compare(0, 10, newest, 0, 10);
        if (newest.empty() || date > 0 || (date == 0 && number > newestNumber)) {
            newest = rec.name;
            newestNumber = number;
        }
    }
    return newest;
}

std::string FreeArchiveName(const std::string& name, const std::set<std::string>& taken) {
    const std::string base = name.substr(0, name.size() - 4);  // without ".zip"
    std::string candidate = name;
    for (long long k = 2; taken.count(candidate); ++k) candidate = base + "_" + ZeroPad(k, 2) + ".zip";
    return candidate;
}

std::string TodayText() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[16];
    std::strftime(text, sizeof text, "%Y_%m_%d", &local);
    return text;
}
