// The configuration's XML reader. It parses without recursion (an explicit stack of open
// elements) and limits the nesting, so no document can exhaust the stack.
#include "platform/videocapture/xml_reader.h"

#include <cstdio>
#include <cstring>

namespace zelk::video {
namespace {

class Parser {
public:
    Parser(const std::string& text, std::string* error) : text_(text), error_(error) {}

    bool document(XmlElement* root) {
        if (text_.compare(0, 3, "\xEF\xBB\xBF") == 0) pos_ = 3;
        if (!misc()) return false;
        if (!at("<")) return fail("no root element");
        if (!elements(root)) return false;
        if (!misc()) return false;
        if (pos_ != text_.size()) return fail("content after the root element");
        return true;
    }

private:
    bool fail(const std::string& message) {
        int line = 1;
        for (std::size_t i = 0; i < pos_ && i < text_.size(); ++i) line += text_[i] == '\n';
        *error_ = "line " + std::to_string(line) + ": " + message;
        return false;
    }
    bool at(const char* token) const { return text_.compare(pos_, std::strlen(token), token) == 0; }
    char peek() const { return pos_ < text_.size() ? text_[pos_] : '\0'; }
    bool space() {
        const std::size_t start = pos_;
        while (pos_ < text_.size() && std::strchr(" \t\r\n", text_[pos_]) && text_[pos_] != '\0') ++pos_;
        return pos_ > start;
    }
    // Moves past the next terminator; false when the text ends first.
    bool skipPast(const char* terminator, const char* what) {
        const std::size_t end = text_.find(terminator, pos_);
        if (end == std::string::npos) return fail(std::string("unterminated ") + what);
        pos_ = end + std::strlen(terminator);
        return true;
    }
    // Comments and processing instructions (the declaration among them), and blanks.
    bool misc() {
        for (;;) {
            space();
            if (at("<!--")) {
                if (!skipPast("-->", "comment")) return false;
            } else if (at("<?")) {
                if (!skipPast("?>", "processing instruction")) return false;
            } else if (at("<!")) {
                return fail("document types are not supported");
            } else {
                return true;
            }
        }
    }

    static bool nameStart(unsigned char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' || c >= 0x80;
    }
    bool name(std::string* out) {
        const std::size_t start = pos_;
        if (!nameStart(static_cast<unsigned char>(peek()))) return fail("a name was expected");
        while (pos_ < text_.size()) {
            const unsigned char c = static_cast<unsigned char>(text_[pos_]);
            if (!nameStart(c) && !(c >= '0' && c <= '9') && c != '-' && c != '.') break;
            ++pos_;
        }
        out->assign(text_, start, pos_ - start);
        return true;
    }

    static void appendUtf8(unsigned long code, std::string* out) {
        if (code < 0x80) {
            out->push_back(static_cast<char>(code));
        } else if (code < 0x800) {
            out->push_back(static_cast<char>(0xC0 | (code >> 6)));
            out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            out->push_back(static_cast<char>(0xE0 | (code >> 12)));
            out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            out->push_back(static_cast<char>(0xF0 | (code >> 18)));
            out->push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
            out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
    }
    // An entity or character reference at '&', appended decoded.
    bool reference(std::string* out) {
        static const char* const NAMES[][2] = {
            {"&lt;", "<"}, {"&gt;", ">"}, {"&amp;", "&"}, {"&quot;", "\""}, {"&apos;", "'"}};
        for (const auto& entity : NAMES)
            if (at(entity[0])) {
                *out += entity[1];
                pos_ += std::strlen(entity[0]);
                return true;
            }
        if (!at("&#")) return fail("unknown entity");
        pos_ += 2;
        const bool hex = peek() == 'x';
        if (hex) ++pos_;
        unsigned long code = 0;
        int digits = 0;
        for (;; ++pos_, ++digits) {
            const char c = peek();
            int value;
            if (c >= '0' && c <= '9')
                value = c - '0';
            else if (hex && c >= 'a' && c <= 'f')
                value = c - 'a' + 10;
            else if (hex && c >= 'A' && c <= 'F')
                value = c - 'A' + 10;
            else
                break;
            code = code * (hex ? 16 : 10) + static_cast<unsigned long>(value);
            if (code > 0x10FFFF) return fail("character reference out of range");
        }
        if (digits == 0 || peek() != ';') return fail("malformed character reference");
        ++pos_;
        if (code == 0 || (code >= 0xD800 && code <= 0xDFFF)) return fail("character reference out of range");
        appendUtf8(code, out);
        return true;
    }

    // The attributes of a start tag up to its '>' or "/>"; empty is set for "/>".
    bool attributes(XmlElement* element, bool* empty) {
        for (;;) {
            const bool spaced = space();
            if (at("/>") || at(">")) {
                *empty = at("/>");
                pos_ += *empty ? 2 : 1;
                return true;
            }
            if (pos_ >= text_.size()) return fail("unterminated start tag <" + element->name + ">");
            if (!spaced) return fail("blank expected before an attribute");
            XmlAttribute attribute;
            if (!name(&attribute.name)) return false;
            if (element->attribute(attribute.name.c_str())) return fail("attribute " + attribute.name + " given twice");
            space();
            if (peek() != '=') return fail("'=' expected after " + attribute.name);
            ++pos_;
            space();
            const char quote = peek();
            if (quote != '"' && quote != '\'') return fail("quoted value expected for " + attribute.name);
            ++pos_;
            for (;;) {
                if (pos_ >= text_.size()) return fail("unterminated value of " + attribute.name);
                const char c = text_[pos_];
                if (c == quote) break;
                if (c == '<') return fail("'<' in the value of " + attribute.name);
                if (c == '&') {
                    if (!reference(&attribute.value)) return false;
                } else {
                    attribute.value.push_back(c);
                    ++pos_;
                }
            }
            ++pos_;
            element->attributes.push_back(std::move(attribute));
        }
    }

    // The root element at '<' and everything inside it, up to its end tag.
    bool elements(XmlElement* root) {
        std::vector<XmlElement*> open;
        XmlElement* element = root;
        for (;;) {
            // at '<' of a start tag
            ++pos_;
            if (!name(&element->name)) return false;
            bool empty = false;
            if (!attributes(element, &empty)) return false;
            if (!empty) {
                if (static_cast<int>(open.size()) >= XML_MAX_DEPTH) return fail("elements nested too deeply");
                open.push_back(element);
            }
            // content up to the next start tag, or up to the end of the document element
            for (;;) {
                if (open.empty()) return true;
                const std::size_t next = text_.find('<', pos_);
                if (next == std::string::npos) {
                    pos_ = text_.size();
                    return fail("<" + open.back()->name + "> is not closed");
                }
                pos_ = next;
                if (at("<!--")) {
                    if (!skipPast("-->", "comment")) return false;
                } else if (at("<![CDATA[")) {
                    if (!skipPast("]]>", "CDATA section")) return false;
                } else if (at("<?")) {
                    if (!skipPast("?>", "processing instruction")) return false;
                } else if (at("</")) {
                    pos_ += 2;
                    std::string closing;
                    if (!name(&closing)) return false;
                    if (closing != open.back()->name)
                        return fail("</" + closing + "> closes <" + open.back()->name + ">");
                    space();
                    if (peek() != '>') return fail("'>' expected after </" + closing);
                    ++pos_;
                    open.pop_back();
                } else if (at("<!")) {
                    return fail("markup declarations are not supported");
                } else {
                    open.back()->children.emplace_back();
                    element = &open.back()->children.back();
                    break;
                }
            }
        }
    }

    const std::string& text_;
    std::string* error_;
    std::size_t pos_ = 0;
};

}  // namespace

const char* XmlElement::attribute(const char* wanted) const {
    for (const XmlAttribute& a : attributes)
        if (a.name == wanted) return a.value.c_str();
    return nullptr;
}

bool parseXml(const std::string& text, XmlElement* root, std::string* error) {
    *root = XmlElement();
    return Parser(text, error).document(root);
}

bool readXmlFile(const std::string& path, XmlElement* root, std::string* error) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        *error = "cannot open the file";
        return false;
    }
    std::string text;
    char buffer[4096];
    for (std::size_t n; text.size() <= XML_MAX_FILE && (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
        text.append(buffer, n);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed || text.size() > XML_MAX_FILE) {
        *error = failed ? "cannot read the file" : "the file is larger than 1 MiB";
        return false;
    }
    return parseXml(text, root, error);
}

}  // namespace zelk::video
