#include "backup/archivenames.h"

#include "platform/codepage.h"
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
