// The program's command-line arguments as UTF-8 text, whatever code page the system passed them in.
#pragma once

#include <string>
#include <vector>

namespace platform {

// argv[0] to argv[argc - 1] in UTF-8: as they are on Linux; from the wide command line on Windows,
// where main's argv holds the ANSI code page's bytes and loses every character outside it.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

// Holds the UTF-8 arguments and an argv array pointing into them, for a main that takes argv.
class Utf8Argv {
public:
    Utf8Argv(int argc, char** argv);
    int argc() const { return static_cast<int>(pointers_.size()) - 1; }
    char** argv() { return pointers_.data(); }

private:
    std::vector<std::string> texts_;
    std::vector<char*> pointers_;
};

}  // namespace platform
