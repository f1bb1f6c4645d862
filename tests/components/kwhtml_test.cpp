#include "components/kwhtml.h"
#include "components/kwhtmlfile.h"

#include "testsupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Strings = std::vector<std::string>;

std::string fixture(const std::string& name) { return FOLVIO_TEST_DATA_DIR "/html/" + name; }

// A browser that holds the given body markup.
class MarkupBrowser : public kwhtml::Browser {
public:
    explicit MarkupBrowser(std::string html) : html_(std::move(html)) {}
    std::string Title() const override { return "title"; }
    std::string BodyText() const override { return "text"; }
    std::string BodyHtml() const override { return html_; }
    void Navigate(const std::string& address) override { navigated.push_back(address); }
    Strings navigated;

private:
    std::string html_;
};

struct Scan {
    Strings list;
    bool result;
};

// Runs one scan over the markup.
template <class Operation>
Scan scan(const std::string& html, Operation operation) {
    MarkupBrowser browser(html);
    TKwHTML page;
    page.Browser = &browser;
    Scan s;
    s.result = operation(page, s.list);
    return s;
}

Scan links(const std::string& html) {
    return scan(html, [](TKwHTML& page, Strings& list) { return page.GetAllLinks(list); });
}

Scan images(const std::string& html) {
    return scan(html, [](TKwHTML& page, Strings& list) { return page.GetAllImages(list); });
}

Scan vars(const std::string& html, const std::string& a, const std::string& b, const std::string& c) {
    return scan(html, [&](TKwHTML& page, Strings& list) { return page.GetAllVar(list, a, b, c); });
}

struct ScanCase {
    const char* name;
    const char* html;
    Strings list;
    bool result;
};

void expectScans(std::initializer_list<ScanCase> cases, Scan (*run)(const std::string&)) {
    for (const auto& c : cases) {
        const Scan s = run(c.html);
        EXPECT_EQ(s.list, c.list) << c.name;
        EXPECT_EQ(s.result, c.result) << c.name;
    }
}

TEST(KwHtmlScan, LinksAreFoundByTheirExactMarker) {
    expectScans({
        {"two links in order", R"(<A href="a.html">a</A> <A href="b.html">b</A>)", {"a.html", "b.html"}, false},
        {"lower case tag", R"(<a href="a.html">a</a>)", {}, false},
        {"lower case attribute", R"(<A HREF="a.html">a</A>)", {}, false},
        {"single quotes", R"(<A href='a.html'>a</A>)", {}, false},
        {"empty target", R"(<A href="">x</A>)", {""}, false},
        {"left open at the end", R"(<A href="a.html">a</A><A href="open)", {"a.html"}, true},
        {"marker with nothing after it", R"(x<A href=")", {}, false},
        {"marker at the very start", R"(<A href="first">)", {"first"}, false},
        {"empty markup", "", {}, false},
    }, links);
}

TEST(KwHtmlScan, ImagesTakeTheNextSourceMarkerAfterAnImageTag) {
    expectScans({
        {"source right after the tag name", R"(<IMG src="a.png"> <IMG src="b.png"> end)", {"a.png", "b.png"}, true},
        {"source after other attributes", R"(<IMG alt="x" src="a.png"> end)", {"a.png"}, true},
        {"tag without source takes a later one", R"(<IMG alt="x"><P>p</P><SCRIPT src="s.js"></SCRIPT> end)", {"s.js"}, true},
        {"source without an image tag", R"(<SCRIPT src="s.js"></SCRIPT> end)", {}, false},
        {"lower case", R"(<img src="a.png"> end)", {}, false},
        {"source left open", R"(<IMG src="open and more text)", {}, true},
        {"too close to the end", R"(<IMG src="a.png")", {}, false},
    }, images);
}

TEST(KwHtmlScan, ValuesStandBetweenTheCallersMarkers) {
    struct Case {
        const char* name;
        const char* html;
        const char *a, *b, *c;
        Strings list;
        bool result;
    } cases[] = {
        {"input values", R"(<INPUT name="u" value="anna"><INPUT type="checkbox"><INPUT value="">and more text)", "<INPUT ",
         "value=\"", "\"", {"anna", ""}, true},
        {"adjacent records", "[a=1][b=2][c=3] ", "[", "=", "]", {"1", "2", "3"}, true},
        {"multi-character end marker", "<<k:one>><<k:two>>   ", "<<", "k:", ">>", {"one", "two"}, true},
        {"value marker without start marker", R"(<P value="x">)", "<INPUT ", "value=\"", "\"", {}, false},
        {"value left open", R"(<INPUT value="open and more)", "<INPUT ", "value=\"", "\"", {}, true},
        {"empty start marker", "[a=1]", "", "=", "]", {}, false},
        {"empty value marker", "[a=1]", "[", "", "]", {}, false},
        {"empty end marker", "[a=1]", "[", "=", "", {}, false},
    };
    for (const auto& c : cases) {
        const Scan s = vars(c.html, c.a, c.b, c.c);
        EXPECT_EQ(s.list, c.list) << c.name;
        EXPECT_EQ(s.result, c.result) << c.name;
    }
}

TEST(KwHtmlScan, ListsAreAppendedToAndTheHostIsServedOncePerCharacter) {
    MarkupBrowser browser(R"(<A href="x.html">x</A>..........)");
    TKwHTML page;
    page.Browser = &browser;
    int served = 0;
    page.ProcessMessages = [&] { ++served; };
    Strings list{"kept"};
    page.GetAllLinks(list);
    EXPECT_EQ(list, (Strings{"kept", "x.html"}));
    EXPECT_EQ(served, static_cast<int>(browser.BodyHtml().size()) - 9) << "the marker's characters are skipped";
}

TEST(KwHtmlScan, ScanReadsTheMarkupOnceEvenWhenTheHostNavigatesDuringIt) {
    kwhtml::FileBrowser browser;
    browser.LoadHtml(R"(<body><A href="one">1</A> <A href="two">2</A> text text</body>)");
    TKwHTML page;
    page.Browser = &browser;
    page.ProcessMessages = [&] { page.BrowseTo(fixture("lowercase.html")); };
    Strings list;
    page.GetAllLinks(list);
    EXPECT_EQ(list, (Strings{"one", "two"}));
    EXPECT_EQ(page.GetTitel(), "Lower case");
}

TEST(KwHtml, WithoutBrowserOrDocumentEverythingIsEmpty) {
    kwhtml::FileBrowser empty;
    for (kwhtml::Browser* browser : {static_cast<kwhtml::Browser*>(nullptr), static_cast<kwhtml::Browser*>(&empty)}) {
        TKwHTML page;
        page.Browser = browser;
        Strings list;
        EXPECT_EQ(page.GetTitel(), "");
        EXPECT_EQ(page.GetBodyText(), "");
        EXPECT_EQ(page.GetBodyHtml(), "");
        EXPECT_FALSE(page.GetAllLinks(list));
        EXPECT_FALSE(page.GetAllImages(list));
        EXPECT_FALSE(page.GetAllVar(list, "<INPUT ", "value=\"", "\""));
        EXPECT_TRUE(list.empty());
        page.GetActiveImage(1, 2);
        page.BrowseTo("nowhere.html");
    }
}

TEST(KwHtml, BrowseToHandsTheAddressToTheBrowser) {
    MarkupBrowser browser("");
    TKwHTML page;
    page.Browser = &browser;
    page.BrowseTo("http://example.invalid/");
    EXPECT_EQ(browser.navigated, (Strings{"http://example.invalid/"}));
}

// The fixtures under tests/data/html, read through the file browser.
class KwHtmlPage : public testing::Test {
protected:
    void open(const std::string& name) {
        page.Browser = &browser;
        page.BrowseTo(fixture(name));
        ASSERT_TRUE(browser.HasDocument()) << name;
    }
    kwhtml::FileBrowser browser;
    TKwHTML page;
    Strings list;
};

TEST_F(KwHtmlPage, TitleTextAndMarkupOfAPage) {
    open("links.html");
    EXPECT_EQ(page.GetTitel(), "Marvane Links");
    const std::string source = testsupport::readFile(fixture("links.html"));
    const size_t from = source.find("<body>") + 6;
    EXPECT_EQ(page.GetBodyHtml(), source.substr(from, source.find("</body>") - from)) << "the body as written";
    const std::string text = page.GetBodyText();
    EXPECT_NE(text.find("Links & more"), std::string::npos) << text;
    EXPECT_NE(text.find("First one, then\ntwo."), std::string::npos) << text;
    EXPECT_NE(text.find("Line\nbreak"), std::string::npos) << text;
    EXPECT_EQ(text.find("hidden"), std::string::npos) << "script is not text";
    EXPECT_EQ(text.find('<'), std::string::npos) << text;
}

TEST_F(KwHtmlPage, LinksOfAPageInDocumentOrder) {
    open("links.html");
    list.push_back("kept");
    EXPECT_FALSE(page.GetAllLinks(list)) << "the last link is closed";
    EXPECT_EQ(list, (Strings{"kept", "http://one.example/start.html", "second page.html"}));
}

TEST_F(KwHtmlPage, LowerCaseTagsYieldNothing) {
    open("lowercase.html");
    EXPECT_FALSE(page.GetAllLinks(list));
    EXPECT_FALSE(page.GetAllImages(list));
    EXPECT_TRUE(list.empty());
}

TEST_F(KwHtmlPage, LinkLeftOpenAtTheEndOfThePage) {
    open("open-link.html");
    EXPECT_TRUE(page.GetAllLinks(list));
    EXPECT_EQ(list, (Strings{"closed.html"}));
}

TEST_F(KwHtmlPage, ImageWithoutSourceTakesTheNextSourceMarker) {
    open("images.html");
    EXPECT_TRUE(page.GetAllImages(list));
    EXPECT_EQ(list, (Strings{"first.png", "taken-for-the-image.js", "last.png"}));
}

TEST_F(KwHtmlPage, ValuesOfInputTags) {
    open("form.html");
    EXPECT_TRUE(page.GetAllVar(list, "<INPUT ", "value=\"", "\""));
    EXPECT_EQ(list, (Strings{"anna", "", "Send it"}));
}

TEST(KwHtmlFileBrowser, BodyMarkupIsTheSourceEvenWhereTheParserRepairsIt) {
    struct Case {
        const char* name;
        const char* source;
        const char* body;
    } cases[] = {
        {"implied body", "<title>T</title>Hello <A href=\"a\">x</A>", "Hello <A href=\"a\">x</A>"},
        {"body closed by the html end tag", "<html><body><p>a<p>b</html>", "<p>a<p>b"},
        {"attribute left open at the end", "<html><body>Hi <A href=\"foo", "Hi <A href=\"foo"},
        {"body tag with attributes", "<body class=\"x\">in</body>", "in"},
        {"no body content", "<html></html>", ""},
        {"empty source", "", ""},
    };
    for (const auto& c : cases) {
        kwhtml::FileBrowser browser;
        browser.LoadHtml(c.source);
        EXPECT_TRUE(browser.HasDocument());
        EXPECT_EQ(browser.BodyHtml(), c.body) << c.name;
    }
}

TEST(KwHtmlFileBrowser, LoadsLocalPathsAndFileAddressesOnly) {
    testsupport::TempDir dir;
    testsupport::writeFile(dir / "a page.html", "<title>Here</title><body>x</body>");
    const std::string path = (dir / "a page.html").string();
    std::string escaped = path;
    escaped.replace(escaped.find(' '), 1, "%20");
    struct Case {
        std::string address;
        bool loads;
    } cases[] = {{path, true},
                 {"file://" + escaped, true},
                 {"FILE://localhost" + escaped + "#part", true},
                 {"file:" + escaped, true},
                 {"file://elsewhere" + escaped, false},
                 {"http://example.invalid/", false},
                 {"about:blank", false},
                 {(dir / "missing.html").string(), false},
                 {dir.path().string(), false},
                 {"", false}};
    for (const auto& c : cases) {
        kwhtml::FileBrowser browser;
        browser.LoadHtml("<title>Before</title>");
        browser.Navigate(c.address);
        EXPECT_EQ(browser.HasDocument(), c.loads) << c.address;
        EXPECT_EQ(browser.Title(), c.loads ? "Here" : "") << c.address;
        EXPECT_EQ(browser.Location(), c.loads ? path : "") << c.address;
    }
}

TEST(KwHtmlFileBrowser, DeeplyNestedPagesDoNotExhaustTheStack) {
    std::string html = "<body>";
    for (int i = 0; i < 20000; ++i) html += "<span>";
    html += "deep";
    kwhtml::FileBrowser browser;
    browser.LoadHtml(html);
    EXPECT_EQ(browser.BodyText(), "deep");
}

}  // namespace
