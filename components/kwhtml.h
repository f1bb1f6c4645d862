// Web page access: reads the page a browser holds and scans its markup for links, images and marked values.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kwhtml {

// The page source TKwHTML works on: the current document's title, body text and body markup
// (8-bit texts, UTF-8), and navigation. Without a document every text is empty.
class Browser {
public:
    virtual ~Browser() = default;
    virtual std::string Title() const = 0;
    // The body's text without markup.
    virtual std::string BodyText() const = 0;
    // The body's content as written in the page.
    virtual std::string BodyHtml() const = 0;
    virtual void Navigate(const std::string& address) = 0;
};

}  // namespace kwhtml

// Works on the document of Browser, which the holder sets and keeps alive. Without a browser
// every operation returns the empty text or false. The scans walk the body markup once per
// call, compare their markers exactly (upper-case tag names, double-quoted values) and run
// ProcessMessages before every character.
class TKwHTML {
public:
    kwhtml::Browser* Browser = nullptr;
    // The host's step that serves pending GUI events during a scan; may be empty.
    std::function<void()> ProcessMessages;

    std::string GetTitel() const;
    std::string GetBodyText() const;
    std::string GetBodyHtml() const;
    // Appends the target of every <A href="..."> to list; true only when the markup ends inside
    // a link target that has no closing quote.
    bool GetAllLinks(std::vector<std::string>& list);
    // Appends the src of every <IMG ...> to list; true when a source was started.
    bool GetAllImages(std::vector<std::string>& list);
    // Appends every value that stands between a value marker (after a start marker) and an end
    // marker; true when a value was started. Empty markers find nothing.
    bool GetAllVar(std::vector<std::string>& list, const std::string& startMarker,
                   const std::string& valueMarker, const std::string& endMarker);
    // Has no effect.
    void GetActiveImage(int x, int y);
    // Tells the browser to load the address.
    void BrowseTo(const std::string& address);
    // Opens the address with the desktop's default handler (the user's web browser for a web
    // address); reports nothing when it cannot. Needs no browser; lives in folvio_components_qt.
    void CallExternUrl(const std::string& address) const;

private:
    void serve();
    // The walk of GetAllImages and GetAllVar; startEndsValue: a start marker ends a value being read.
    bool scanValues(std::vector<std::string>& list, std::string_view startMarker, std::string_view valueMarker,
                    std::string_view endMarker, bool startEndsValue);
};
