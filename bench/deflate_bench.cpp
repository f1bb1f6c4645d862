// Benchmark of the Deflate compressor against zlib's deflate (raw, same level, memLevel 8): the
// same files, one by one from memory, in one process; prints total sizes and times as ratios.
// Times are the thread's CPU time, so that other work on a shared machine disturbs them less.
// Usage: deflate-bench [--level N] [--no-verify] [CORPUS_DIR]   (default bench/corpus)
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <time.h>

#include "rawinflate.h"
#include "zip/deflate.h"

namespace fs = std::filesystem;

namespace {

double cpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Serves one file from memory and keeps what the compressor writes.
class MemoryHost : public TDeflateHost {
public:
    MemoryHost(const std::vector<uint8_t>& input, std::vector<uint8_t>& output) : input_(input), output_(output) {}

    uint16_t file_read(uint8_t* buffer, uint16_t count) override {
        const size_t n = std::min<size_t>(count, input_.size() - pos_);
        if (n != 0) std::memcpy(buffer, input_.data() + pos_, n);
        pos_ += n;
        return static_cast<uint16_t>(n);
    }

    size_t zfwrite(uint8_t* buffer, size_t size, size_t count) override {
        output_.insert(output_.end(), buffer, buffer + size * count);
        return size * count;
    }

private:
    const std::vector<uint8_t>& input_;
    std::vector<uint8_t>& output_;
    size_t pos_ = 0;
};

struct Totals {
    size_t files = 0;
    uint64_t input = 0, ours = 0, zlib = 0;
    double oursSeconds = 0, zlibSeconds = 0;

    void add(const Totals& t) {
        files += t.files;
        input += t.input;
        ours += t.ours;
        zlib += t.zlib;
        oursSeconds += t.oursSeconds;
        zlibSeconds += t.zlibSeconds;
    }
};

void print(const std::string& name, const Totals& t) {
    std::printf("%-10s %6zu files %9.1f MB | ours %10llu B %7.2f s | zlib %10llu B %7.2f s | size %+.3f%% | speed %.2fx\n",
                name.c_str(), t.files, t.input / 1e6, static_cast<unsigned long long>(t.ours), t.oursSeconds,
                static_cast<unsigned long long>(t.zlib), t.zlibSeconds,
                t.zlib ? 100.0 * (static_cast<double>(t.ours) / static_cast<double>(t.zlib) - 1.0) : 0.0,
                t.oursSeconds > 0 ? t.zlibSeconds / t.oursSeconds : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
    int level = 9;
    bool verify = true;
    fs::path corpus = fs::path(FOLVIO_SOURCE_DIR) / "bench" / "corpus";
    for (int i = 1; i < argc; i++) {
        const std::string arg = argv[i];
        if (arg == "--level" && i + 1 < argc) level = std::atoi(argv[++i]);
        else if (arg == "--no-verify") verify = false;
        else corpus = arg;
    }
    if (!fs::is_directory(corpus)) {
        std::fprintf(stderr, "no corpus at %s (run bench/make-corpus.sh)\n", corpus.c_str());
        return 2;
    }

    std::vector<fs::path> files;
    for (const auto& e : fs::recursive_directory_iterator(corpus)) {
        if (e.is_regular_file() && !e.is_symlink()) files.push_back(e.path());
    }
    std::sort(files.begin(), files.end());

    auto work = std::make_unique<TDeflateBuffers>();
    TDeflater deflater;
    z_stream zs{};
    if (deflateInit2(&zs, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return 2;

    std::map<std::string, Totals> groups;  // by first folder below the corpus
    std::vector<uint8_t> ours, theirs;
    size_t failures = 0;
    for (const fs::path& file : files) {
        std::ifstream in(file, std::ios::binary);
        const std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), {});
        Totals t;
        t.files = 1;
        t.input = data.size();

        ours.clear();
        ours.reserve(data.size() + data.size() / 64 + 64);
        MemoryHost host(data, ours);
        uint16_t flag = 0, attributes = 2, method = 8;
        double start = cpuSeconds();
        t.ours = static_cast<uint64_t>(deflater.Deflate(*work, level, host, {flag, attributes, method}));
        t.oursSeconds = cpuSeconds() - start;

        theirs.resize(deflateBound(&zs, data.size()) + 64);
        start = cpuSeconds();
        deflateReset(&zs);
        zs.next_in = const_cast<Bytef*>(data.data());
        zs.avail_in = static_cast<uInt>(data.size());
        zs.next_out = theirs.data();
        zs.avail_out = static_cast<uInt>(theirs.size());
        if (deflate(&zs, Z_FINISH) != Z_STREAM_END) return 2;
        t.zlib = zs.total_out;
        t.zlibSeconds = cpuSeconds() - start;

        if (verify && !(method == 0 ? ours == data : testsupport::inflateRaw(ours.data(), ours.size()) == data)) {
            std::fprintf(stderr, "round trip failed: %s\n", file.c_str());
            failures++;
        }
        groups[fs::relative(file, corpus).begin()->string()].add(t);
    }
    deflateEnd(&zs);

    std::printf("Deflate level %d, %s\n", level, corpus.c_str());
    Totals all;
    for (const auto& [name, t] : groups) {
        print(name, t);
        all.add(t);
    }
    print("all", all);
    if (verify) std::printf("round trips through zlib's inflate: %zu failed\n", failures);
    return failures == 0 ? 0 : 1;
}
