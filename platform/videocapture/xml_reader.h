// A small reader for the video configuration's XML: elements and their attributes.
//
// It takes well-formed XML 1.0 without a document type: an optional declaration,
// comments and processing instructions, elements, attributes in single or double quotes,
// the five named entities and numeric character references. Text and CDATA between
// elements are passed over. Anything else is refused with a message naming the line.
// It is our own so that every build (Linux, i386, Windows) reads configurations alike.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

namespace zelk::video {

struct XmlAttribute {
    std::string name;
    std::string value;  // entities replaced
};

struct XmlElement {
    std::string name;
    std::vector<XmlAttribute> attributes;  // in document order, names unique
    std::vector<XmlElement> children;      // child elements in document order

    // The value of the named attribute, or null when the element has none.
    const char* attribute(const char* name) const;
};

// Elements may nest this deep; deeper documents are refused.
constexpr int XML_MAX_DEPTH = 64;
// Files larger than this (bytes) are refused unread.
constexpr std::size_t XML_MAX_FILE = 1 << 20;

// Parses a whole document into its root element. False with a message when it is not well-formed.
bool parseXml(const std::string& text, XmlElement* root, std::string* error);
// Reads a file and parses it. False with a message when it cannot be read or parsed.
bool readXmlFile(const std::string& path, XmlElement* root, std::string* error);

}  // namespace zelk::video
