// yield-gap: the longest stretch of packing between two turns of the host's process-messages step.
// The program's Cancel takes effect at the next turn the event loop gets, which comes at most every
// 20 ms (the throttle) after such a stretch; the goal is stretch + 20 ms <= 100 ms at level 9.
// Usage: yield-gap [FILE...]   (default: a zero file, a random file and two-letter-word text,
// made under bench/out/gap/, and the largest files of the corpus when it exists)
#include "zip/zipwriter.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

void makeInputs(const fs::path& dir, std::vector<std::string>& files) {
    fs::create_directories(dir);
    std::mt19937 rng(1);
    auto make = [&](const char* name, size_t size, auto byteAt) {
        const fs::path p = dir / name;
        if (!fs::exists(p) || fs::file_size(p) != size) {
            std::ofstream out(p, std::ios::binary);
            std::vector<char> block(1 << 20);
            for (size_t done = 0; done < size; done += block.size()) {
                for (size_t i = 0; i < block.size(); ++i) block[i] = byteAt(done + i);
                out.write(block.data(), std::streamsize(std::min(block.size(), size - done)));
            }
        }
        files.push_back(p.string());
    };
    make("zeros", 256u << 20, [](size_t) { return char(0); });
    make("random", 64u << 20, [&](size_t) { return char(rng()); });
    // Words of eight letters a and b: long hash chains full of near matches, the slowest input for level 9.
    std::vector<std::string> words(50);
    for (std::string& w : words)
        for (int i = 0; i < 8; ++i) w += char('a' + rng() % 2);
    std::string text;
    make("ab-words", 16u << 20, [&](size_t i) {
        if (i % 8 == 0) text = words[rng() % words.size()];
        return text[i % 8];
    });
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> files(argv + 1, argv + argc);
    if (files.empty()) {
        makeInputs(fs::path(FOLVIO_SOURCE_DIR) / "bench/out/gap", files);
        const fs::path corpus = fs::path(FOLVIO_SOURCE_DIR) / "bench/corpus";
        if (fs::is_directory(corpus)) {
            std::vector<fs::path> all;
            for (const auto& e : fs::recursive_directory_iterator(corpus))
                if (e.is_regular_file() && !e.is_symlink()) all.push_back(e.path());
            std::sort(all.begin(), all.end(), [](const fs::path& a, const fs::path& b) {
                return fs::file_size(a) > fs::file_size(b);
            });
            for (size_t i = 0; i < std::min<size_t>(3, all.size()); ++i) files.push_back(all[i].string());
        }
    }
    const fs::path archive = fs::temp_directory_path() / "yield-gap.zip";
    double worst = 0;
    for (const std::string& file : files) {
        fs::remove(archive);
        TZipWriter writer;
        Clock::time_point last = Clock::now();
        double longest = 0;
        long turns = 0;
        writer.ProcessMessages = [&] {
            const Clock::time_point now = Clock::now();
            longest = std::max(longest, std::chrono::duration<double, std::milli>(now - last).count());
            last = now;
            ++turns;
        };
        writer.SetZipName(archive.string());
        writer.FilesList.push_back(file);
        writer.SetPackLevel(9);
        const Clock::time_point start = Clock::now();
        writer.Zip();
        const double total = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        std::printf("%-60s %9.1f MB %8.0f ms %8ld turns  longest stretch %6.1f ms\n", file.c_str(),
                    double(fs::file_size(file)) / 1e6, total, turns, longest);
        worst = std::max(worst, longest);
    }
    fs::remove(archive);
    std::printf("longest stretch %.1f ms + 20 ms throttle = %.1f ms (goal <= 100 ms)\n", worst, worst + 20);
    return worst + 20 <= 100 ? 0 : 1;
}
