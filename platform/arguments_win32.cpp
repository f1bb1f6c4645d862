// The arguments on Windows: the wide command line split by CommandLineToArgvW and turned into UTF-8.
#include "platform/arguments.h"

#include "platform/widepath_win32.h"

#include "platform/winapi_win32.h"
#include <shellapi.h>

namespace platform {

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide || count != argc) {  // not this process's command line (a test's own argv): keep it
        if (wide) LocalFree(wide);
        return std::vector<std::string>(argv, argv + argc);
    }
    std::vector<std::string> args;
    for (int i = 0; i < count; ++i) args.push_back(win32::Utf8(wide[i]));
    LocalFree(wide);
    return args;
}

Utf8Argv::Utf8Argv(int argc, char** argv) : texts_(Utf8Arguments(argc, argv)) {
    for (std::string& text : texts_) pointers_.push_back(text.data());
    pointers_.push_back(nullptr);
}

}  // namespace platform
