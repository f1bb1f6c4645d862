#include "components/kwstore.h"

#include "platform/environment.h"

namespace kwstore {

std::string KeyPath(const std::string& firm, const std::string& program) {
    return "Software\\" + (firm.empty() ? program : firm + "\\" + program);
}

std::string ChoiceText(std::span<const bool> members) {
    std::string text = "0";
    for (size_t k = 1; k <= members.size(); ++k)
        if (members[k - 1]) text = std::to_string(k);
    return text;
}

int ChoiceNumber(const std::string& text, int count, int defaultNumber) {
    for (int k = 1; k <= count; ++k)
        if (text == std::to_string(k)) return k;
    return defaultNumber >= 1 && defaultNumber <= count ? defaultNumber : 0;
}

void Base::PushCheckBox(const std::string& name, bool checked) { storeText(name, checked ? "1" : "0"); }

bool Base::PopCheckBox(const std::string& name, [[maybe_unused]] bool flag) { return loadText(name) == "1"; }

void Base::pushChoice(const std::string& name, std::span<const bool> members) { storeText(name, ChoiceText(members)); }

int Base::popChoice(const std::string& name, size_t count, int defaultNumber) {
    return ChoiceNumber(loadText(name), static_cast<int>(count), defaultNumber);
}

void Base::popFlags(const std::string& name, std::span<bool* const> flags, int defaultNumber) {
    const int k = popChoice(name, flags.size(), defaultNumber);
    if (clearFlags_)
        for (bool* flag : flags)
            if (flag) *flag = false;
    if (k > 0 && flags[static_cast<size_t>(k) - 1]) *flags[static_cast<size_t>(k) - 1] = true;
}

std::string Base::GetShellFolder(const std::string& name) const { return platform::shellFolder(name); }

bool Base::IsInt(const std::string& text) { return !text.empty() && text[0] >= '0' && text[0] <= '9'; }

}  // namespace kwstore
