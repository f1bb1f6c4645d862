// A browser for TKwHTML that loads local HTML files and reads them with an HTML5 parser.
#pragma once

#include "components/kwhtml.h"

#include <string>

namespace kwhtml {

// Navigate loads a local file path or a file:// address (file:///path or file://localhost/path,
// percent escapes decoded); any other address, or a file that cannot be read, leaves no
// document. Pages are read as UTF-8.
class FileBrowser : public Browser {
public:
    std::string Title() const override { return title_; }
    std::string BodyText() const override { return text_; }
    std::string BodyHtml() const override { return html_; }
    void Navigate(const std::string& address) override;

    // Takes markup directly, as if a page holding it had been loaded.
    void LoadHtml(const std::string& source);
    // Forgets the document.
    void Clear();
    bool HasDocument() const { return hasDocument_; }
    // The file last loaded, empty when the document came from LoadHtml or there is none.
    const std::string& Location() const { return location_; }

    // The local path a file address or plain path stands for; empty for other addresses.
    static std::string LocalPath(const std::string& address);

private:
    bool hasDocument_ = false;
    std::string location_, title_, text_, html_;
};

}  // namespace kwhtml
