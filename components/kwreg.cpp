#include "components/kwreg.h"

#include "platform/environment.h"
#include "platform/registry.h"

using platform::RegistryError;

namespace {

// A damaged hive is no missing key: settings read as empty would run a backup without its
// destination and its password. The error names the hive and the way to repair it.
[[noreturn]] void throwDamaged(const RegistryError& e) {
    throw RegistryError(RegistryError::Code::Damaged, std::string("The settings cannot be read: ") + e.what(), e.detail());
}

}  // namespace

void TKwReg::Push(const std::string& name, const std::string& value) {
    try {
        platform::RegKey key = platform::RegKey::create(platform::Hive::CurrentUser, KeyPath());
        key.writeText(name, value);
    } catch (const RegistryError& e) {
        const bool damaged = e.code() == RegistryError::Code::Damaged;
        throw RegistryError(damaged ? e.code() : RegistryError::Code::Failed,
                            "Failed to set data for '" + name + "'" + (damaged ? std::string(": ") + e.what() : ""),
                            e.detail());
    }
}

std::string TKwReg::Pop(const std::string& name) {
    std::optional<platform::RegKey> key;
    try {
        key = platform::RegKey::open(platform::Hive::CurrentUser, KeyPath());
    } catch (const RegistryError& e) {
        if (e.code() == RegistryError::Code::Damaged) throwDamaged(e);
        return "";  // a key that cannot be opened reads like a missing one
    }
    if (!key) return "";
    std::optional<platform::RegValue> value;
    try {
        value = key->read(name);
    } catch (const RegistryError& e) {
        if (e.code() == RegistryError::Code::Damaged) throwDamaged(e);
        if (e.code() != RegistryError::Code::InvalidName) throw;
        return "";  // a name the registry cannot hold is never there
    }
    if (!value) return "";
    if (!value->isText()) throw RegistryError(RegistryError::Code::InvalidType, "Invalid data type for '" + name + "'");
    return value->text();
}

std::string TKwReg::AppDir() {
    const std::string path = platform::executablePath();
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}
