#include "zip/bufferedstream.h"

#include <gtest/gtest.h>

#include "faultyfilesystem.h"
#include "testsupport.h"

namespace {

using Bytes = std::vector<uint8_t>;
using testsupport::TempDir;

// Random writes and seeks back (as the header patches do) give the same bytes as a model in memory.
TEST(BufferedFileStream, WritesAndPatchesLandWhereTheyBelong) {
    for (uint32_t seed = 1; seed <= 20; ++seed) {
        TempDir dir;
        std::string path = (dir / "out").string();
        Bytes model;
        {
            TBufferedFileStream out(path, TFileMode::fmCreate);
            Bytes noise = testsupport::randomBytes(40000, seed);
            uint32_t x = seed * 2654435761u;
            auto next = [&] { return x = x * 1664525u + 1013904223u; };
            size_t at = 0;
            for (int step = 0; step < 60; ++step) {
                size_t sizes[] = {1, 30, 46, 8191, 8192, 8193, 32768};
                size_t n = sizes[next() % 7];
                size_t pos = out.Position();
                if (model.size() < pos + n) model.resize(pos + n);
                std::copy(noise.begin() + at % 7000, noise.begin() + at % 7000 + n, model.begin() + pos);
                ASSERT_EQ(out.Write(noise.data() + at % 7000, n), n);
                at += n;
                if (next() % 3 == 0) {
                    // Patch a few bytes earlier on, then go back to the end.
                    size_t back = next() % model.size();
                    size_t len = std::min<size_t>(30, model.size() - back);
                    ASSERT_EQ(out.Seek(back, TSeekOrigin::soBeginning), int64_t(back));
                    Bytes patch(len, uint8_t(step));
                    std::copy(patch.begin(), patch.end(), model.begin() + back);
                    ASSERT_EQ(out.Write(patch.data(), len), len);
                    out.Seek(0, TSeekOrigin::soEnd);
                }
            }
            EXPECT_EQ(out.Size(), int64_t(model.size()));
            ASSERT_TRUE(out.Close());
        }
        ASSERT_EQ(testsupport::readBytes(path), model) << "seed " << seed;
    }
}

TEST(BufferedFileStream, ReadsInAnyChunkSizeAndAfterSeeks) {
    TempDir dir;
    Bytes data = testsupport::randomBytes(100000, 7);
    testsupport::writeBytes(dir / "in", data);
    TBufferedFileStream in((dir / "in").string(), TFileMode::fmOpenRead);
    EXPECT_EQ(in.Size(), int64_t(data.size()));
    Bytes got;
    size_t sizes[] = {1, 100, 8192, 32768, 5000, 65535};
    for (size_t i = 0;; ++i) {
        Bytes chunk(sizes[i % 6]);
        size_t n = in.Read(chunk.data(), chunk.size());
        if (n == 0) break;
        got.insert(got.end(), chunk.begin(), chunk.begin() + n);
    }
    EXPECT_EQ(got, data);
    in.Seek(99990, TSeekOrigin::soBeginning);
    Bytes tail(20);
    EXPECT_EQ(in.Read(tail.data(), tail.size()), 10u);
    in.Seek(3, TSeekOrigin::soBeginning);
    EXPECT_EQ(in.Read(tail.data(), 2), 2u);
    EXPECT_EQ(tail[0], data[3]);
    EXPECT_EQ(in.LastError(), 0);
}

TEST(BufferedFileStream, OpenFailuresNameTheFile) {
    TempDir dir;
    std::string missing = (dir / "no/such.zip").string();
    try {
        TBufferedFileStream s(missing, TFileMode::fmCreate);
        FAIL();
    } catch (const platform::EFileError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot create file \"" + missing + "\". No such file or directory");
    }
    try {
        TBufferedFileStream s(missing, TFileMode::fmOpenRead);
        FAIL();
    } catch (const platform::EFileError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Cannot open file \"", 0), 0u);
    }
    testsupport::writeFile(dir / "exists", "keep");
    EXPECT_THROW(TBufferedFileStream((dir / "exists").string(), TFileMode::fmCreateNew), platform::EFileError);
    EXPECT_EQ(testsupport::readFile(dir / "exists"), "keep");
}

// However the disk fills up, the failure shows in a Write result, Flush or Close.
TEST(BufferedFileStream, AFullDiskIsNeverMissed) {
    for (uint64_t budget : {0, 1, 100, 8191, 8192, 20000, 38000, 38029}) {
        TempDir dir;
        testsupport::FaultyFileSystem faulty;
        faulty.writeBudget = budget;
        platform::ScopedFileSystem use(faulty);
        TBufferedFileStream out((dir / "out").string(), TFileMode::fmCreate);
        Bytes block(3000, 1), big(20000, 2);
        bool failed = false;
        for (int i = 0; i < 6 && !failed; ++i) failed = out.Write(block.data(), block.size()) != block.size();
        if (!failed) failed = out.Write(big.data(), big.size()) != big.size();
        out.Seek(10, TSeekOrigin::soBeginning);
        if (!failed) failed = out.Write(block.data(), 30) != 30;
        if (!failed) failed = !out.Close();
        EXPECT_TRUE(failed) << "budget " << budget;
        EXPECT_EQ(out.LastError(), -ENOSPC) << "budget " << budget;
    }
}

TEST(BufferedFileStream, ErrorsOfCloseAndReadAreReported) {
    TempDir dir;
    std::string out = (dir / "out").string(), in = (dir / "in").string();
    testsupport::writeBytes(in, Bytes(50000, 3));
    testsupport::FaultyFileSystem faulty;
    faulty.closeErrors.insert(out);
    faulty.readErrorAfter[in] = 20000;
    platform::ScopedFileSystem use(faulty);
    TBufferedFileStream w(out, TFileMode::fmCreate);
    w.Write("x", 1);
    EXPECT_FALSE(w.Close());
    TBufferedFileStream r(in, TFileMode::fmOpenRead);
    Bytes buf(32768);
    EXPECT_EQ(r.Read(buf.data(), buf.size()), 20000u);
    EXPECT_EQ(r.LastError(), -EIO);
}

TEST(MemoryStream, OverwritesAndExtends) {
    TMemoryStream s;
    s.Write("abcdef", 6);
    s.Seek(2, TSeekOrigin::soBeginning);
    s.Write("XYZWV", 5);
    EXPECT_EQ(std::string(s.Data().begin(), s.Data().end()), "abXYZWV");
    EXPECT_EQ(s.Seek(-1, TSeekOrigin::soBeginning), -1);
}

}  // namespace
