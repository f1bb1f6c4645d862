// TKwReg: a program's settings as named texts in the user's registry, read and written on every call.
#pragma once

#include "components/kwstore.h"

#include <string>

// Values live under HKEY_CURRENT_USER\Software\<Firmenname>\<Programmname> (without the company
// part when Firmenname is empty). Nothing is cached: each call opens the key, reads or writes one
// value and closes it again, so values written elsewhere are seen by the next call.
// Errors: writing raises "Failed to set data for '<name>'"; reading a value that is not a string
// raises "Invalid data type for '<name>'" (platform::RegistryError, a std::runtime_error). A
// damaged hive is an error for reading too ("The settings cannot be read: ..."), naming the hive.
class TKwReg : public kwstore::Base {
public:
    TKwReg() : kwstore::Base(false) {}
    // Firmenname first, as in the key path: TKwReg{"Marvane", "Folvio"}.
    TKwReg(std::string firmenname, std::string programmname)
        : kwstore::Base(false), Programmname(std::move(programmname)), Firmenname(std::move(firmenname)) {}

    std::string Programmname;
    std::string Firmenname;

    // The settings key below HKEY_CURRENT_USER.
    std::string KeyPath() const { return kwstore::KeyPath(Firmenname, Programmname); }

    // Writes the text as a string value, creating the key when missing.
    void Push(const std::string& name, const std::string& value);
    // The stored text (up to its first zero byte); "" when the value or the key is missing.
    std::string Pop(const std::string& name);

    // The running program's folder ending in "/", or "" when it cannot be found.
    static std::string AppDir();

protected:
    void storeText(const std::string& name, const std::string& text) override { Push(name, text); }
    std::string loadText(const std::string& name) override { return Pop(name); }
};
