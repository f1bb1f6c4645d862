// Pins the writer's archives byte for byte: fixed files with fixed times must keep packing to the
// same bytes at every level and with a password, whatever is reworked inside the writer.
#include <ctime>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <vector>

#include "deflateinputs.h"
#include "platform/securerandom.h"
#include "testsupport.h"
#include "zip/zipwriter.h"

// The random bytes of the encryption headers from a fixed stream, so that encrypted archives can
// be pinned too; this executable's definition takes the place of the system's random source.
namespace platform {
void SecureRandomBytes(uint8_t* buffer, size_t count) {
    static uint8_t next = 7;
    for (size_t i = 0; i < count; ++i) buffer[i] = next = static_cast<uint8_t>(next * 37 + 11);
}
}  // namespace platform

namespace {

namespace fs = std::filesystem;
using deflateinputs::Bytes;
using testsupport::TempDir;

std::string sha256Hex(const Bytes& data) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EXPECT_EQ(EVP_Digest(data.data(), data.size(), digest, &length, EVP_sha256(), nullptr), 1);
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (unsigned int i = 0; i < length; ++i) {
        out += hex[digest[i] >> 4];
        out += hex[digest[i] & 15];
    }
    return out;
}

// Text, records, a long run, incompressible bytes, an empty file and a read-only one in a subfolder,
// all dated 2024-03-05 12:34:56 UTC, named one by one so that no folder order comes in.
std::vector<std::string> writeInputs(const fs::path& root) {
    const std::vector<std::pair<std::string, Bytes>> files = {
        {"text.txt", deflateinputs::text(70000, 1)},
        {"logs/app.log", deflateinputs::logLines(50000, 2)},
        {"run.bin", Bytes(40000, 'a')},
        {"noise.bin", testsupport::randomBytes(30000, 3)},
        {"empty", {}},
        {"logs/samples.dat", deflateinputs::samples(60000, 4)},
    };
    std::vector<std::string> paths;
    for (const auto& [name, data] : files) {
        const fs::path path = root / name;
        testsupport::writeBytes(path, data);
        EXPECT_EQ(::chmod(path.c_str(), name == "logs/samples.dat" ? 0444 : 0644), 0);
        const timespec times[2] = {{1709642096, 0}, {1709642096, 0}};
        EXPECT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
        paths.push_back(path.string());
    }
    return paths;
}

struct PinnedCase {
    std::string name;
    int level;
    std::string password;
    std::string sha256;
};

TEST(ZipPinned, FixedFilesPackToTheSameBytesAtEveryLevel) {
    // DOS times are local times: the same zone on every machine.
    testsupport::ScopedEnv zone("TZ", "UTC");
    ::tzset();
    TempDir dir;
    const std::vector<std::string> paths = writeInputs(dir / "data");
    const std::vector<PinnedCase> cases = {
        {"stored", 0, "", "2acb3af288a0b3d6fb1d906de7d5212babc1ff50d92eed26e3b4842828319ce0"},
        {"level_1", 1, "", "6b8ebcfbf3c5026d023ba5c65bd6770aae6790c7f6cd43059d0de2041f4e9641"},
        {"level_6", 6, "", "7e711ddda4dc9e792ecbce91042da6a0fd4fc76316be76c329eb0cfd20e79ef0"},
        {"level_9", 9, "", "cb57471bb86a08a50911de5937c6c1119ed8398edd6a3edded572f49ebedfb21"},
        {"stored_encrypted", 0, "secret", "748488e509dc57031dd01fb10d79c8e4cd75b30f45b1d059d526db0d208659c9"},
        {"level_6_encrypted", 6, "secret", "731f59ed456ddde920da7c8207d1c5a308721db2a5f7e5972058f07c49b42f21"},
    };
    for (const PinnedCase& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path archive = dir / (c.name + ".zip");
        TZipWriter w;
        w.SetZipName(archive.string());
        w.ZipAction = TZipAction::zaReplace;
        w.SetStorePaths(true);
        w.SetRelativePaths(true);
        w.SetRootDir((dir / "data").string());
        w.SetPackLevel(c.level);
        w.Password = c.password;
        w.FilesList = paths;
        ASSERT_EQ(w.Zip(), static_cast<int>(paths.size()));
        EXPECT_EQ(sha256Hex(testsupport::readBytes(archive)), c.sha256);
    }
}

}  // namespace
