// Fuzzes the page access: any markup must load through the HTML5 parser and go through every
// scan without crashing or hanging. The first line, split at its tabs, gives GetAllVar's markers.
#include "components/kwhtml.h"
#include "components/kwhtmlfile.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t lineBreak = input.find('\n');
    const std::string markers = lineBreak == std::string::npos ? "" : input.substr(0, lineBreak);
    const std::string html = lineBreak == std::string::npos ? input : input.substr(lineBreak + 1);
    std::vector<std::string> marker{"", "", ""};
    for (size_t i = 0, field = 0; i < markers.size(); ++i) {
        if (markers[i] == '\t') field = (field + 1) % 3;
        else marker[field] += markers[i];
    }

    kwhtml::FileBrowser browser;
    browser.LoadHtml(html);
    TKwHTML page;
    page.Browser = &browser;
    std::vector<std::string> list;
    page.GetTitel();
    page.GetBodyText();
    page.GetAllLinks(list);
    page.GetAllImages(list);
    page.GetAllVar(list, marker[0], marker[1], marker[2]);
    page.GetAllVar(list, "<INPUT ", "value=\"", "\"");
    return 0;
}
