// TKwDReg: settings held in memory as an ordered table of named texts in folders, saved to and loaded from a settings file or the user's registry.
#pragma once

#include "components/kwstore.h"

#include <cstdint>
#include <string>
#include <vector>

// The table holds at most one entry per (name, folder), both compared exactly; the folder ""
// is the root folder. Nothing reaches storage until a save runs.
//
// Settings file (IniFileDir + IniFileName, "config.ini" in the program's folder by default):
// an empty line and the root entries, then per folder an empty line, "[folder]" and its entries,
// each line "name=value" ended by CR LF. Folders are written in the order they first occur,
// each exact folder name in a section of its own, so folders differing only in letter case are
// both kept. A save writes a new file and puts it in place in one step; it refuses (false, old
// file kept) a table holding an entry the file could not give back: an empty name, a name with
// "=" or surrounding blanks, a line break or zero byte anywhere, a folder with "[" or "]", or a
// line that would read as a section header.
//
// Registry: values of HKEY_CURRENT_USER\<KeyPath()>, each folder a subkey ("a\b" nests). A save
// refuses (false, nothing written) a table that the registry's case-blind names or text values
// would merge or cut: names or folders differing only in letter case, a zero byte in a value,
// a folder that is not a valid key path. Loads read every level of subkeys back as folders.
class TKwDReg : public kwstore::Base {
public:
    struct Entry {
        std::string name;
        std::string value;
        std::string folder;
        bool operator==(const Entry&) const = default;
    };

    TKwDReg();

    std::string Programmname;
    std::string Firmenname;
    std::string IniFileName = "config.ini";
    std::string IniFileDir;  // the program's folder at creation

    std::string KeyPath() const { return kwstore::KeyPath(Firmenname, Programmname); }
    // IniFileDir, a "/" when it has none at its end, and IniFileName.
    std::string IniFilePath() const;
    const std::vector<Entry>& Entries() const { return entries_; }

    // Entry table.
    int GetIndex(const std::string& name, const std::string& folder = "") const;
    bool Exist(const std::string& name, const std::string& folder = "") const { return GetIndex(name, folder) >= 0; }
    // Replaces an entry of that name and folder; the entry moves to the end of the table.
    void Add(const std::string& name, const std::string& value, const std::string& folder);
    bool Delete(const std::string& name, const std::string& folder = "");
    void Clear() { entries_.clear(); }

    // Typed accessors on the table.
    void PushString(const std::string& name, const std::string& value, const std::string& folder = "");
    std::string PopString(const std::string& name, const std::string& defaultValue = "", const std::string& folder = "") const;
    void Push(const std::string& name, const std::string& value) { PushString(name, value); }
    std::string Pop(const std::string& name, const std::string& defaultValue = "", const std::string& folder = "") const {
        return PopString(name, defaultValue, folder);
    }
    void PushInt(const std::string& name, int32_t value, const std::string& folder = "");
    int32_t PopInt(const std::string& name, int32_t defaultValue = 0, const std::string& folder = "") const;
    void PushBool(const std::string& name, bool value, const std::string& folder = "");
    bool PopBool(const std::string& name, bool defaultValue = false, const std::string& folder = "") const;
    // The flag and radio-button families on the root folder; PopBool sets the other flags false.
    using kwstore::Base::PopBool;
    using kwstore::Base::PushBool;

    // Line and text helpers.
    static std::string GetDataKey(const std::string& line);
    static std::string GetDataValue(const std::string& line);
    static std::string BuildData(const std::string& name, const std::string& value);
    // The folder of a "[folder]" line, or "" when the line is no section header.
    static std::string ExtractFolderName(const std::string& line);
    // Decimal, or hexadecimal after "$" or "0x", with a sign and surrounding blanks; otherwise the default.
    static int32_t StrToInt(const std::string& text, int32_t defaultValue);
    // Every line break (CR LF, CR or LF) becomes the replacement.
    static std::string EncodeText(const std::string& text, const std::string& replacement);
    // Every replacement becomes CR LF; an empty replacement leaves the text as it is.
    static std::string DecodeText(const std::string& text, const std::string& replacement);

    // Settings file.
    bool RawSaveToFile();
    bool SaveToFile() { return RawSaveToFile(); }
    bool RawLoadFromFile();
    bool AppendFromFile() { return RawLoadFromFile(); }
    bool LoadFromFile();
    bool RawClearFile();
    bool ClearFile() { return RawClearFile(); }

    // Registry.
    bool RawSaveRegistryValue(const std::string& name, const std::string& value, const std::string& folder);
    bool RawSaveAllToRegistry();
    bool SaveToRegistry() { return RawSaveAllToRegistry(); }
    bool RawLoadFolderFormRegistry(const std::string& folder);
    bool RawLoadAllFoldersFromRegistry();
    bool AppendFromRegistry() { return RawLoadAllFoldersFromRegistry(); }
    bool LoadFromRegistry();
    // Deletes the folder's key (the program key for the root folder) with everything below it.
    // Refused (false) while Programmname is empty, where the key would hold other programs' settings.
    bool RawClearRegistry(const std::string& folder);
    bool ClearRegistry() { return RawClearRegistry(""); }

    // Start-up entry: "<name>.desktop" in the machine-wide autostart folder (/etc/xdg/autostart,
    // or MARVANE_AUTOSTART_DIR), starting the running program. Enabling raises
    // "Failed to set data for '<name>'" when the entry cannot be written; disabling ignores failures.
    void SetSystemStartup(bool enable, const std::string& name);
    bool GetSystemStartup(const std::string& name) const;

    // The running program's folder, always ending in "/".
    static std::string AppDir();

protected:
    void storeText(const std::string& name, const std::string& text) override { Push(name, text); }
    std::string loadText(const std::string& name) override { return Pop(name); }

private:
    std::string folderKeyPath(const std::string& folder) const;
    bool fileKeepsTable() const;
    bool registryKeepsTable() const;
    bool loadSubfolders(const std::string& folder);

    std::vector<Entry> entries_;
};
