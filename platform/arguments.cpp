#include "platform/arguments.h"

namespace platform {

std::vector<std::string> Utf8Arguments(int argc, char** argv) { return std::vector<std::string>(argv, argv + argc); }

Utf8Argv::Utf8Argv(int argc, char** argv) : texts_(Utf8Arguments(argc, argv)) {
    for (std::string& text : texts_) pointers_.push_back(text.data());
    pointers_.push_back(nullptr);
}

}  // namespace platform
