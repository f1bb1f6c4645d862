// 65,535 entries against 65,536: the classic records, then the 64-bit end record, each archive
// checked by readers no one here wrote.
#include <filesystem>
#include <gtest/gtest.h>

#include "testsupport.h"
#include "zip/zipwriter.h"
#include "zipreaders.h"

namespace {

namespace fs = std::filesystem;
using testsupport::TempDir;
using testsupport::expectReadersAccept;

// 65,535 entries keep the classic records (the end record's count field is full, and no 64-bit
// end record comes before it); one more entry brings the 64-bit end record.
TEST(Zip64Count, AtTheLimitClassicOneMoreWith64BitRecords) {
    TempDir dir(testsupport::fastTemp("folvio-zip64count-"));
    const fs::path root = dir / "flat";
    fs::create_directories(root);
    for (size_t i = 0; i < 65535; ++i) {
        std::string name = "f";
        name += std::to_string(i);
        testsupport::writeFile(root / name, "");
    }
    for (size_t count : {size_t(65535), size_t(65536)}) {
        SCOPED_TRACE(count);
        if (count == 65536) testsupport::writeFile(root / "one more", "1");
        const fs::path archive = dir / (std::to_string(count) + ".zip");
        TZipWriter w;
        w.SetZipName(archive.string());
        w.SetPackLevel(0);
        w.SetRootDir(root.string());
        w.FilesList = {root.string() + "/*.*"};
        EXPECT_EQ(size_t(w.Zip()), count);
        expectReadersAccept(archive, count, 0, count > 65535, root);
    }
}

}  // namespace
