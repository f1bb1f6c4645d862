#include "components/kwhtml.h"

#include <string_view>

namespace {

// The scans number characters from 1; position 0 holds the empty text.
std::string_view textAt(std::string_view s, size_t p, size_t length) {
    if (p == 0 || p > s.size()) return {};
    return s.substr(p - 1, length);
}

char charAt(std::string_view s, size_t p) { return (p == 0 || p > s.size()) ? '\0' : s[p - 1]; }

}  // namespace

void TKwHTML::serve() {
    if (ProcessMessages) ProcessMessages();
}

std::string TKwHTML::GetTitel() const { return Browser ? Browser->Title() : std::string(); }

std::string TKwHTML::GetBodyText() const { return Browser ? Browser->BodyText() : std::string(); }

std::string TKwHTML::GetBodyHtml() const { return Browser ? Browser->BodyHtml() : std::string(); }

bool TKwHTML::GetAllLinks(std::vector<std::string>& list) {
    static constexpr std::string_view marker = "<A href=\"";
    const std::string html = GetBodyHtml();
    bool inLink = false;
    std::string current;
    for (size_t p = 0; p < html.size(); ++p) {
        serve();
        if (marker.size() + p < html.size() && textAt(html, p, marker.size()) == marker) {
            p += marker.size();
            inLink = true;
            current.clear();
        }
        if (inLink) {
            const char ch = charAt(html, p);
            if (ch != '"') {
                current += ch;
            } else {
                list.push_back(current);
                current.clear();
                inLink = false;
            }
        }
    }
    return inLink;
}

bool TKwHTML::GetAllImages(std::vector<std::string>& list) {
    return scanValues(list, "<IMG ", "src=\"", "\"", false);
}

bool TKwHTML::GetAllVar(std::vector<std::string>& list, const std::string& startMarker,
                        const std::string& valueMarker, const std::string& endMarker) {
    // An empty marker matches everywhere: the walk would never move on.
    if (startMarker.empty() || valueMarker.empty() || endMarker.empty()) return false;
    return scanValues(list, startMarker, valueMarker, endMarker, true);
}

bool TKwHTML::scanValues(std::vector<std::string>& list, std::string_view startMarker, std::string_view valueMarker,
                         std::string_view endMarker, bool startEndsValue) {
    const std::string html = GetBodyHtml();
    bool inStart = false, collecting = false, found = false;
    std::string current;
    for (size_t p = 0; p < html.size(); ++p) {
        serve();
        if (startMarker.size() + p + valueMarker.size() < html.size()) {
            // Both texts are taken before p moves.
            const std::string_view atStart = textAt(html, p, startMarker.size());
            const std::string_view atValue = textAt(html, p, valueMarker.size());
            if (atStart == startMarker) {
                p += startMarker.size() - 1;  // the step's own increment adds the one
                inStart = true;
                if (startEndsValue) collecting = false;
                else current.clear();
            }
            if (inStart && atValue == valueMarker) {
                p += valueMarker.size();
                collecting = true;
                current.clear();
            }
        }
        if (collecting) {
            found = true;
            if (textAt(html, p, endMarker.size()) != endMarker) {
                current += charAt(html, p);
            } else {
                list.push_back(current);
                current.clear();
                p += endMarker.size() - 1;  // the next start marker may follow at once
                inStart = collecting = false;
            }
        }
    }
    return found;
}

void TKwHTML::GetActiveImage(int, int) {}

void TKwHTML::BrowseTo(const std::string& address) {
    if (Browser) Browser->Navigate(address);
}
