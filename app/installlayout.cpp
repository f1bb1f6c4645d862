#include "app/installlayout.h"

#include "buildinfo.h"
#include "platform/filesystem.h"

#include <filesystem>

namespace fs = std::filesystem;

namespace installlayout {

std::string DataDir(const std::string& programDir) {
    if (programDir.empty()) return {};
    const fs::path share = (fs::path(programDir) / buildinfo::kBinToDataDir).lexically_normal();
    const fs::path entry = share / "applications" / (std::string(buildinfo::kAppId) + ".desktop");
    if (!platform::FileExists(entry.string())) return {};
    std::string text = share.string();
    if (text.back() != '/') text += '/';
    return text;
}

std::string DocFile(const std::string& programDir, const std::string& name) {
    const std::string share = DataDir(programDir);
    if (share.empty()) return {};
    return (fs::path(share) / buildinfo::kDocDir / name).string();
}

}  // namespace installlayout
