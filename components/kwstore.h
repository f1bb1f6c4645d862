// What the two settings stores share: the program key path, the check box, flag and radio-button families, and the environment helpers.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>

// Qt's widgets, for the overloads that take them (defined in folvio_components_qt).
class QCheckBox;
class QRadioButton;

namespace kwstore {

// "Software\<firm>\<program>", or "Software\<program>" when the company name is empty.
std::string KeyPath(const std::string& firm, const std::string& program);
// The text a flag or button group is stored as: "0", or the number of the highest set member.
std::string ChoiceText(std::span<const bool> members);
// The member (1..count) a stored text selects. Only "1" to the decimal text of count select one;
// any other text selects the default when it lies in 1..count, and none (0) otherwise.
int ChoiceNumber(const std::string& text, int count, int defaultNumber);

// 2 to 10 members, each convertible to Member.
template <class Member, class... Args>
inline constexpr bool kMembers = sizeof...(Args) >= 2 && sizeof...(Args) <= 10 && (std::is_convertible_v<Args, Member> && ...);

// 2 to 10 members followed by the default number.
template <class Member, class... Args>
consteval bool membersThenNumber() {
    constexpr size_t n = sizeof...(Args);
    if constexpr (n < 3 || n > 11) {
        return false;
    } else {
        using All = std::tuple<Args...>;
        return []<size_t... I>(std::index_sequence<I...>) {
            return (std::is_convertible_v<std::tuple_element_t<I, All>, Member> && ...) &&
                   std::is_integral_v<std::tuple_element_t<n - 1, All>>;
        }(std::make_index_sequence<n - 1>{});
    }
}

// Splits "members..., default number" into the members and the number.
template <class Member, class... Args>
std::pair<std::array<Member, sizeof...(Args) - 1>, int> splitMembers(Args... args) {
    constexpr size_t n = sizeof...(Args) - 1;
    auto all = std::make_tuple(args...);
    return [&]<size_t... I>(std::index_sequence<I...>) {
        return std::pair{std::array<Member, n>{static_cast<Member>(std::get<I>(all))...},
                         static_cast<int>(std::get<n>(all))};
    }(std::make_index_sequence<n>{});
}

// The families and helpers over a store that keeps named texts (Push and Pop of the stores).
class Base {
public:
    virtual ~Base() = default;

    // Stores "1" for a checked box, "0" otherwise.
    void PushCheckBox(const std::string& name, bool checked);
    void PushCheckBox(const std::string& name, const QCheckBox* box);
    // True exactly when the stored text is "1"; the flag does not change the result.
    bool PopCheckBox(const std::string& name, bool flag);

    // PushBool(name, &flag1, ..., &flagN), N = 2 to 10.
    template <class... Flags>
        requires kMembers<bool*, Flags...>
    void PushBool(const std::string& name, Flags... flags) {
        const std::array<bool*, sizeof...(Flags)> members{flags...};
        std::array<bool, sizeof...(Flags)> set{};
        for (size_t i = 0; i < members.size(); ++i) set[i] = members[i] && *members[i];
        pushChoice(name, set);
    }
    // PopBool(name, &flag1, ..., &flagN, defaultNumber), N = 2 to 10: sets the selected flag.
    template <class... Args>
        requires(membersThenNumber<bool*, Args...>())
    void PopBool(const std::string& name, Args... args) {
        auto [flags, defaultNumber] = splitMembers<bool*>(args...);
        popFlags(name, flags, defaultNumber);
    }
    // PushRadioButtons(name, button1, ..., buttonN), N = 2 to 10.
    template <class... Buttons>
        requires kMembers<const QRadioButton*, Buttons...>
    void PushRadioButtons(const std::string& name, Buttons... buttons) {
        const std::array<const QRadioButton*, sizeof...(Buttons)> members{buttons...};
        pushButtons(name, members);
    }
    // PopRadioButtons(name, button1, ..., buttonN, defaultNumber), N = 2 to 10: checks the selected button.
    template <class... Args>
        requires(membersThenNumber<QRadioButton*, Args...>())
    void PopRadioButtons(const std::string& name, Args... args) {
        auto [buttons, defaultNumber] = splitMembers<QRadioButton*>(args...);
        popButtons(name, buttons, defaultNumber);
    }

    // The folder with that shell-folder name, ending in "/", or "" (see platform::shellFolder).
    std::string GetShellFolder(const std::string& name) const;
    std::string GetDirCache() const { return GetShellFolder("Cache"); }
    std::string GetDirDesktop() const { return GetShellFolder("Desktop"); }
    std::string GetDirFavorites() const { return GetShellFolder("Favorites"); }
    std::string GetDirFonts() const { return GetShellFolder("Fonts"); }
    std::string GetDirNetHood() const { return GetShellFolder("NetHood"); }
    std::string GetDirPersonal() const { return GetShellFolder("Personal"); }
    std::string GetDirPrograms() const { return GetShellFolder("Programs"); }
    std::string GetDirSendTo() const { return GetShellFolder("SendTo"); }
    std::string GetDirStartMenu() const { return GetShellFolder("Start Menu"); }
    std::string GetDirStartup() const { return GetShellFolder("Startup"); }
    std::string GetDirAppData() const { return GetShellFolder("AppData"); }
    std::string GetDirQuickLaunch() const { return GetShellFolder("Quick Launch"); }
    // True when the first character is a decimal digit.
    static bool IsInt(const std::string& text);

protected:
    // clearFlags: PopBool sets every other flag of the group to false (otherwise leaves them).
    explicit Base(bool clearFlags) : clearFlags_(clearFlags) {}
    virtual void storeText(const std::string& name, const std::string& text) = 0;
    virtual std::string loadText(const std::string& name) = 0;

private:
    void pushChoice(const std::string& name, std::span<const bool> members);
    int popChoice(const std::string& name, size_t count, int defaultNumber);
    void popFlags(const std::string& name, std::span<bool* const> flags, int defaultNumber);
    void pushButtons(const std::string& name, std::span<const QRadioButton* const> buttons);
    void popButtons(const std::string& name, std::span<QRadioButton* const> buttons, int defaultNumber);

    bool clearFlags_;
};

}  // namespace kwstore
