#include "components/kwhtmlfile.h"

#include "platform/atomicfile.h"

#include <gumbo.h>

#include <cctype>
#include <optional>
#include <utility>
#include <vector>

namespace kwhtml {

namespace {

bool startsWithNoCase(const std::string& s, std::string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(s[i])) != prefix[i]) return false;
    return true;
}

// True when the text begins with a URL scheme such as "http:" or "about:".
bool hasScheme(const std::string& s) {
    if (s.empty() || !std::isalpha(static_cast<unsigned char>(s[0]))) return false;
    for (size_t i = 1; i < s.size(); ++i) {
        const unsigned char ch = static_cast<unsigned char>(s[i]);
        if (ch == ':') return true;
        if (!std::isalnum(ch) && ch != '+' && ch != '-' && ch != '.') return false;
    }
    return false;
}

int hexValue(char ch) {
    if (ch >= '0' && ch <= '9') return ch - '0';
    if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
    if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
    return -1;
}

std::string percentDecode(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && hexValue(s[i + 1]) >= 0 && hexValue(s[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(s[i + 1]) * 16 + hexValue(s[i + 2]));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

// Visits the node and everything below it in document order without recursion, so that deeply
// nested pages cannot exhaust the stack. visit returns false to skip a node's children.
template <class Visit>
void walk(const GumboNode* top, Visit visit) {
    std::vector<const GumboNode*> stack{top};
    while (!stack.empty()) {
        const GumboNode* node = stack.back();
        stack.pop_back();
        if (!visit(node)) continue;
        if (node->type != GUMBO_NODE_ELEMENT && node->type != GUMBO_NODE_DOCUMENT) continue;
        const GumboVector& children =
            node->type == GUMBO_NODE_ELEMENT ? node->v.element.children : node->v.document.children;
        for (unsigned i = children.length; i-- > 0;) stack.push_back(static_cast<const GumboNode*>(children.data[i]));
    }
}

bool isTextNode(const GumboNode* n) {
    return n->type == GUMBO_NODE_TEXT || n->type == GUMBO_NODE_WHITESPACE || n->type == GUMBO_NODE_CDATA;
}

bool isElement(const GumboNode* n, GumboTag tag) { return n->type == GUMBO_NODE_ELEMENT && n->v.element.tag == tag; }

// The body's text without markup: text nodes in order, <br> as a line break, no script or style.
std::string textOf(const GumboNode* body) {
    std::string text;
    walk(body, [&](const GumboNode* n) {
        if (isTextNode(n)) text += n->v.text.text;
        if (isElement(n, GUMBO_TAG_BR)) text += '\n';
        return !(isElement(n, GUMBO_TAG_SCRIPT) || isElement(n, GUMBO_TAG_STYLE) || isElement(n, GUMBO_TAG_TEMPLATE));
    });
    return text;
}

// The first title's text with runs of white space collapsed and the ends trimmed, as pages show it.
std::string titleOf(const GumboNode* root) {
    const GumboNode* title = nullptr;
    walk(root, [&](const GumboNode* n) {
        if (!title && isElement(n, GUMBO_TAG_TITLE)) title = n;
        return title == nullptr;
    });
    if (!title) return "";
    std::string raw;
    const GumboVector& children = title->v.element.children;
    for (unsigned i = 0; i < children.length; ++i) {
        const auto* child = static_cast<const GumboNode*>(children.data[i]);
        if (isTextNode(child)) raw += child->v.text.text;
    }
    std::string out;
    bool space = false;
    for (char ch : raw) {
        if (ch == ' ' || ch == '\t' || ch == '\n' || ch == '\r' || ch == '\f') {
            space = !out.empty();
        } else {
            if (space) out += ' ';
            space = false;
            out += ch;
        }
    }
    return out;
}

// The body's content as written in the source: from the end of the body's start tag (or its
// first content when the tag is implied) to its end tag, or else the html end tag or the end of
// the source, so that markup left open at the end of the page stays part of it.
std::string bodySource(const GumboNode* html, const GumboNode* body, const std::string& source) {
    const GumboElement& b = body->v.element;
    const char* base = source.data();
    size_t start;
    if (b.original_tag.length > 0) start = static_cast<size_t>(b.original_tag.data - base) + b.original_tag.length;
    else if (b.children.length > 0) start = b.start_pos.offset;
    else return "";
    size_t end = source.size();
    if (b.original_end_tag.length > 0) {
        end = static_cast<size_t>(b.original_end_tag.data - base);
    } else if (html && html->v.element.original_end_tag.length > 0) {
        const size_t htmlEnd = static_cast<size_t>(html->v.element.original_end_tag.data - base);
        if (htmlEnd >= start) end = htmlEnd;
    }
    if (start > end || end > source.size()) return "";
    return source.substr(start, end - start);
}

}  // namespace

std::string FileBrowser::LocalPath(const std::string& address) {
    if (address.empty()) return "";
    if (!hasScheme(address)) return address;
    if (!startsWithNoCase(address, "file:")) return "";
    std::string rest = address.substr(5);
    rest = rest.substr(0, rest.find_first_of("?#"));
    if (rest.rfind("//", 0) == 0) {
        const size_t slash = rest.find('/', 2);
        const std::string host = rest.substr(2, slash == std::string::npos ? std::string::npos : slash - 2);
        if (!host.empty() && !(host.size() == 9 && startsWithNoCase(host, "localhost"))) return "";
        if (slash == std::string::npos) return "";
        rest = rest.substr(slash);
    }
    if (rest.empty() || rest[0] != '/') return "";
    return percentDecode(rest);
}

void FileBrowser::Navigate(const std::string& address) {
    Clear();
    const std::string path = LocalPath(address);
    if (path.empty()) return;
    const std::optional<std::string> source = platform::readFileContent(path);  // no folders or devices
    if (!source) return;
    LoadHtml(*source);
    location_ = path;
}

void FileBrowser::LoadHtml(const std::string& source) {
    Clear();
    GumboOptions options = kGumboDefaultOptions;
    options.max_errors = 0;  // the parse errors are not needed
    GumboOutput* output = gumbo_parse_with_options(&options, source.data(), source.size());
    if (!output) return;
    const GumboNode* html = output->root;
    const GumboNode* body = nullptr;
    if (html && html->type == GUMBO_NODE_ELEMENT) {
        const GumboVector& children = html->v.element.children;
        for (unsigned i = 0; i < children.length && !body; ++i) {
            const auto* child = static_cast<const GumboNode*>(children.data[i]);
            if (isElement(child, GUMBO_TAG_BODY)) body = child;
        }
    }
    title_ = titleOf(output->document);
    if (body) {
        text_ = textOf(body);
        html_ = bodySource(html, body, source);
    }
    hasDocument_ = true;
    gumbo_destroy_output(&options, output);
}

void FileBrowser::Clear() {
    hasDocument_ = false;
    location_.clear();
    title_.clear();
    text_.clear();
    html_.clear();
}

}  // namespace kwhtml
