#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/XMLAttributes.h"
#include "config/XMLContentHandler.h"
#include "config/XMLElement.h"
#include "config/XMLEntities.h"
#include "config/XMLSAXParser.h"
#include "config/XMLSAXReader.h"
#include "tests/support/FileBytes.h"
#include "tests/support/TempFolder.h"

namespace {

// Writes every callback as one readable event.
class Recorder : public XML::ContentHandler {
  public:
    std::vector<std::string> events;

    void characters(const char* bytes, size_t length) override {
        events.push_back("text:" + std::string(bytes, length));
    }
    void endDocument() override { events.push_back("endDocument"); }
    void endElement(const char* first, const char* name, const char* third) override {
        EXPECT_EQ(first, nullptr);
        EXPECT_EQ(third, nullptr);
        events.push_back("end:" + std::string(name));
    }
    void ignorableWhitespace(const char*, size_t) override { events.push_back("unexpected"); }
    void processingInstruction(const char*, const char*) override {
        events.push_back("unexpected");
    }
    void startDocument() override { events.push_back("startDocument"); }
    void startElement(const char* first, const char* name, const char* third,
                      const XML::Attributes& attributes) override {
        EXPECT_EQ(first, nullptr);
        EXPECT_EQ(third, nullptr);
        std::string event = "start:" + std::string(name);
        for (int i = 0; i < attributes.count(); ++i) {
            event += std::string(" ") + attributes.nameAt(i) + "=" + attributes.valueAt(i);
        }
        events.push_back(event);
    }
    void startPrefixMapping(const char*, const char*) override { events.push_back("unexpected"); }
    void endPrefixMapping(const char*) override { events.push_back("unexpected"); }
};

struct ParseResult {
    bool ok;
    std::vector<std::string> events;
    int code;
    std::string message;
};

ParseResult parse(const std::string& text) {
    Recorder recorder;
    XML::SAXParser parser;
    parser.setContentHandler(&recorder);
    bool ok = parser.parseString(text);
    return {ok, recorder.events, parser.lastErrorCode(), parser.lastErrorMessage()};
}

using Events = std::vector<std::string>;

}  // namespace

TEST(XMLParser, ReportsConstructsInDocumentOrder) {
    auto r = parse(
        "<?xml version=\"1.0\"?>\r\n<config>\r\n  <port> 80 \r\n</port>\r\n"
        "  <acl host=\"a\" enabled_get=\"1\"/>\r\n</config>");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.events,
              (Events{"startDocument", "start:config", "start:port", "text:80", "end:port",
                      "start:acl host=a enabled_get=1", "end:acl", "end:config", "endDocument"}));
}

TEST(XMLParser, EmptyOrBlankDocumentFailsWithoutCallbacks) {
    for (const char* text : {"", " \t\r\n\v\f"}) {
        auto r = parse(text);
        EXPECT_FALSE(r.ok);
        EXPECT_TRUE(r.events.empty());
    }
}

TEST(XMLParser, NoHandlerFails) {
    XML::SAXParser parser;
    EXPECT_FALSE(parser.parseString("<a/>"));
}

TEST(XMLParser, UnclosedRootIsAccepted) {
    auto r = parse("<config><port>1</port>");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.events.back(), "endDocument");
}

TEST(XMLParser, MismatchedEndTagStoresMessage) {
    auto r = parse("<config><port>1</portx></config>");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.code, -1);
    EXPECT_EQ(r.message, "End tag 'portx'does not match the start tag 'port'.");
    EXPECT_EQ(r.events.back(), "text:1");  // callbacks already made stay made

    auto blank = parse("<a>x</a >");
    EXPECT_FALSE(blank.ok);
    EXPECT_EQ(blank.message, "End tag 'a 'does not match the start tag 'a'.");
}

TEST(XMLParser, ErrorStateIsResetByTheNextParse) {
    Recorder recorder;
    XML::SAXParser parser;
    parser.setContentHandler(&recorder);
    EXPECT_FALSE(parser.parseString("<a></b>"));
    EXPECT_EQ(parser.lastErrorCode(), -1);
    EXPECT_TRUE(parser.parseString("<a></a>"));
    EXPECT_EQ(parser.lastErrorCode(), 0);
    EXPECT_EQ(parser.lastErrorMessage(), "");
}

TEST(XMLParser, SyntaxErrorsFailWithoutMessage) {
    for (const char* text : {
             "</a>",                // end tag with nothing open
             "<a>x",                // text not followed by '<'
             "<a><!-- open",        // comment never closed
             "<a><? never closed",  // processing instruction never closed
             "<a",                  // tag never closed
             "<a></a",              // end tag never closed
             "<a x='1'></a>",       // single quotes
             "<a x=\"1></a>",       // one quote only
             "<a x></a>",           // attribute without value
             "<a \"1\"></a>",       // attribute without '='
             "<a>1 < 2</a>",        // '<' before a blank
             "<",                   // lone '<'
         }) {
        auto r = parse(text);
        EXPECT_FALSE(r.ok) << text;
        EXPECT_EQ(r.code, 0) << text;
        EXPECT_EQ(r.message, "") << text;
    }
}

TEST(XMLParser, LessThanBeforeDigitFailsInsteadOfLooping) {
    EXPECT_FALSE(parse("<a>1<2</a>").ok);
    EXPECT_FALSE(parse("<a><1></a>").ok);
    EXPECT_FALSE(parse("<9").ok);
}

TEST(XMLParser, DoctypeAndCdataAreRejected) {
    EXPECT_FALSE(parse("<!DOCTYPE config><config/>").ok);
    EXPECT_FALSE(parse("<a><![CDATA[x]]></a>").ok);
}

TEST(XMLParser, CommentsJoinCharacterData) {
    auto r = parse("<a>  one <!-- c1 -->two<!--c2--> three  \n</a>");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.events[2], "text:onetwo three");
    // Comments between elements make no callback at all.
    auto between = parse("<!-- head --><a><!-- x --></a><!-- tail -->");
    EXPECT_TRUE(between.ok);
    EXPECT_EQ(between.events, (Events{"startDocument", "start:a", "end:a", "endDocument"}));
}

TEST(XMLParser, CommentAtEndOfUnclosedDocument) {
    EXPECT_TRUE(parse("<a>x<!-- c -->  \n").ok);
    EXPECT_FALSE(parse("<a>x<!-- c --> y").ok);
}

TEST(XMLParser, EntitiesDecodedInAttributesOnly) {
    auto r = parse("<a n&amp;m=\"&lt;&quot;&gt;&amp;\">&amp;&lt;</a>");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.events[1], "start:a n&m=<\">&");
    EXPECT_EQ(r.events[2], "text:&amp;&lt;");
}

TEST(XMLParser, EmptyElementTagGivesStartAndEnd) {
    auto r = parse("<a><b x=\"1\" /><c/></a>");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.events, (Events{"startDocument", "start:a", "start:b x=1", "end:b", "start:c",
                                "end:c", "end:a", "endDocument"}));
}

TEST(XMLParser, BlankBeforeTagEndIsNoAttribute) {
    auto r = parse("<a ><b x=\"1\" ></b></a>");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.events[1], "start:a");
    EXPECT_EQ(r.events[2], "start:b x=1");
}

TEST(XMLParser, GreaterThanInValueEndsTheTag) {
    // The tag ends at the first '>', so the value's quote is missing inside it.
    EXPECT_FALSE(parse("<a x=\"1>2\"></a>").ok);
}

TEST(XMLParser, AttributeQuotesAreNotSearchedBeyondTheTag) {
    // A bare word in one tag must not pair with quotes of a later tag.
    EXPECT_FALSE(parse("<a word><b x=\"1\"/></a>").ok);
}

TEST(XMLParser, DuplicateAttributesAllReportedFirstWinsInElement) {
    XML::Attributes attributes;
    attributes.add("x", "first");
    attributes.add("x", "second");
    attributes.add("empty", "");
    EXPECT_EQ(attributes.count(), 3);
    EXPECT_STREQ(attributes.valueAt(1), "second");
    EXPECT_EQ(attributes.nameAt(3), nullptr);
    EXPECT_EQ(attributes.valueAt(-1), nullptr);

    XML::Element element("e", attributes);
    std::string value;
    EXPECT_TRUE(element.attribute("x", value));
    EXPECT_EQ(value, "first");
    EXPECT_FALSE(element.attribute("empty", value));
    EXPECT_EQ(value, "");
    value = "stale";
    EXPECT_FALSE(element.attribute("missing", value));
    EXPECT_EQ(value, "");
}

TEST(XMLEntities, DecodingOrderAndRescan) {
    EXPECT_EQ(XML::decodeEntities("&amp;amp;"), "&");
    EXPECT_EQ(XML::decodeEntities("&amp;amp;amp;x"), "&x");
    // "&lt;" is replaced before "&amp;", so this stays an entity text.
    EXPECT_EQ(XML::decodeEntities("&amp;lt;"), "&lt;");
    EXPECT_EQ(XML::decodeEntities("&apos;&#65;&"), "&apos;&#65;&");
    EXPECT_EQ(XML::decodeEntities("a&quot;b&quot;"), "a\"b\"");
}

TEST(XMLEntities, EscapedTextDecodesBack) {
    for (const std::string text :
         {"plain", "a\"b&c<d>e", "&", "\"\"", "<<>>", "&lt;", "&quot;x", "x&amp", ""}) {
        EXPECT_EQ(XML::decodeEntities(XML::escapeAttribute(text)), text) << text;
    }
    EXPECT_EQ(XML::escapeAttribute("a\"b&c<d>e"), "a&quot;b&amp;c&lt;d&gt;e");
}

TEST(XMLParser, ParseFileReadsWholeFile) {
    TempFolder folder;
    std::string path = folder.file("doc.xml");
    std::string longText(5000, 'x');
    writeBytes(path, "<a>\n" + longText + "\n</a>");
    Recorder recorder;
    XML::SAXParser parser;
    parser.setContentHandler(&recorder);
    EXPECT_TRUE(parser.parseFile(path));
    EXPECT_EQ(recorder.events[2], "text:" + longText);
    EXPECT_FALSE(parser.parseFile(folder.file("missing.xml")));
    EXPECT_FALSE(parser.parseFile(""));
}

namespace {

// Collects the hooks of the element level.
class HookRecorder : public XML::SAXReader {
  public:
    std::vector<std::string> hooks;
    XML::ContentHandler* delegateFor = nullptr;

    void onElementStart(const XML::Element& element) override {
        hooks.push_back("start:" + element.name());
        if (delegateFor != nullptr && element.name() == "sub")
            delegateTo(delegateFor, element);
    }
    void onElementText(const XML::Element& element) override {
        hooks.push_back("text:" + element.name() + "=" + text());
    }
    void onChildDone(const XML::Element& element) override {
        hooks.push_back("done:" + element.name());
    }
};

}  // namespace

TEST(XMLReader, ElementWithoutContentDoesNotInheritEarlierText) {
    HookRecorder reader;
    XML::SAXParser parser;
    parser.setContentHandler(&reader);
    EXPECT_TRUE(parser.parseString("<r><a>5</a><b></b><c/></r>"));
    EXPECT_EQ(reader.hooks, (Events{"start:r", "start:a", "text:a=5", "start:b",
                                    "text:b=", "start:c", "text:c=", "text:r="}));
}

TEST(XMLReader, DelegatesSubTreeAndComesBack) {
    Recorder inner;
    HookRecorder reader;
    reader.delegateFor = &inner;
    XML::SAXParser parser;
    parser.setContentHandler(&reader);
    EXPECT_TRUE(parser.parseString("<r><sub k=\"v\"><x>1</x></sub><y>2</y></r>"));
    EXPECT_EQ(inner.events, (Events{"start:sub k=v", "start:x", "text:1", "end:x", "end:sub"}));
    EXPECT_EQ(reader.hooks,
              (Events{"start:r", "start:sub", "done:sub", "start:y", "text:y=2", "text:r=2"}));
}

TEST(XMLParser, MutatedDocumentsNeverCrashOrHang) {
    const std::string seed =
        "<?xml version=\"1.0\"?>\r\n<config>\r\n  <port>17080</port><!-- c -->\r\n"
        "  <default_acl enabled_get=\"1\" enabled_post=\"0\"/>\r\n  <access_list>\r\n"
        "\t\t<acl host=\"a&amp;b\" enabled_get=\"1\" enabled_post=\"1\"/>\r\n"
        "  </access_list>\r\n</config>";
    const std::string alphabet = "<>/\"=!-?&; \t\r\n0123456789axq";
    uint32_t state = 12345;
    auto next = [&state] {
        state = state * 1103515245u + 12345u;
        return state >> 8;
    };
    for (int round = 0; round < 3000; ++round) {
        std::string text = seed;
        int edits = 1 + static_cast<int>(next() % 6);
        for (int e = 0; e < edits && !text.empty(); ++e) {
            size_t at = next() % text.size();
            char c = alphabet[next() % alphabet.size()];
            switch (next() % 3) {
                case 0:
                    text.erase(at, 1 + next() % 8);
                    break;
                case 1:
                    text.insert(at, 1, c);
                    break;
                default:
                    text[at] = c;
                    break;
            }
        }
        HookRecorder reader;
        XML::SAXParser parser;
        parser.setContentHandler(&reader);
        parser.parseString(text);
        Recorder recorder;
        parser.setContentHandler(&recorder);
        if (parser.parseString(text)) {
            EXPECT_EQ(recorder.events.back(), "endDocument");
        }
    }
}
