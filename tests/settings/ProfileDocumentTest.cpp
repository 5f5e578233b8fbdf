#include "ProfileDocument.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tavrin::settings;

namespace {

// The NUL-separated strings of a filled buffer, up to the double NUL.
std::vector<std::string> strings(const std::vector<char>& buffer) {
    std::vector<std::string> out;
    size_t i = 0;
    while (i < buffer.size() && buffer[i] != '\0') {
        std::string s(buffer.data() + i);
        i += s.size() + 1;
        out.push_back(s);
    }
    return out;
}

const char kSample[] = "; written by hand\r\n"
                       "[Common Settings]\r\n"
                       "AUTO_SAVE = FALSE\r\n"
                       "\r\n"
                       "[PacketFilter1]\r\n"
                       "PROTOCOL=6\r\n"
                       "; a comment inside\r\n"
                       "COMMENT=x=y\r\n"
                       "NOEQUALS\r\n"
                       "[packetfilter1]\r\n"
                       "PROTOCOL=17\r\n"
                       "[]\r\n"
                       "HIDDEN=1\r\n"
                       "[PacketFilter1]\r\n"
                       "PROTOCOL=1";

} // namespace

TEST(ProfileDocument, ListsSectionsAndTheirLinesByteForByte) {
    const ProfileDocument doc = ProfileDocument::parse(kSample);
    std::vector<char> buffer(4096, 'x');
    const uint32_t n = doc.sectionNames(buffer);
    // Names are case-sensitive, unnamed sections are left out, duplicates stay.
    EXPECT_EQ(strings(buffer), (std::vector<std::string>{"Common Settings", "PacketFilter1",
                                                         "packetfilter1", "PacketFilter1"}));
    EXPECT_EQ(n, 15u + 1 + 13 + 1 + 13 + 1 + 13 + 1);
    EXPECT_EQ(buffer[n], '\0');

    // Blanks around key and value go, comments and blank lines are left out, the first
    // of two equal names is the one read.
    EXPECT_EQ(doc.sectionLines("Common Settings"), (std::vector<std::string>{"AUTO_SAVE=FALSE"}));
    EXPECT_EQ(doc.sectionLines("PacketFilter1"),
              (std::vector<std::string>{"PROTOCOL=6", "COMMENT=x=y", "NOEQUALS"}));
    EXPECT_EQ(doc.sectionLines("packetfilter1"), (std::vector<std::string>{"PROTOCOL=17"}));
    EXPECT_TRUE(doc.sectionLines("Missing").empty());
    EXPECT_EQ(doc.section("Missing", buffer), 0u);
    EXPECT_EQ(buffer[0], '\0');
}

TEST(ProfileDocument, ReportsABufferTooSmallAsSizeMinusTwoAndStaysInside) {
    ProfileDocument doc;
    ASSERT_TRUE(doc.writeString("AAAA", "K", "1"));
    ASSERT_TRUE(doc.writeString("BBBB", "K", "1"));
    // "AAAA\0BBBB\0\0" needs 11 bytes.
    for (size_t size = 0; size <= 12; ++size) {
        std::vector<char> guarded(size + 8, '#');
        const std::span<char> buffer(guarded.data() + 4, size);
        const uint32_t n = doc.sectionNames(buffer);
        for (size_t i = 0; i < 4; ++i) {
            EXPECT_EQ(guarded[i], '#') << "size " << size;
            EXPECT_EQ(guarded[4 + size + i], '#') << "size " << size;
        }
        if (size < 2) {
            EXPECT_EQ(n, 0u);
        } else if (size < 11) {
            EXPECT_EQ(n, size - 2) << "size " << size;
            EXPECT_EQ(buffer[size - 2], '\0');
            EXPECT_EQ(buffer[size - 1], '\0');
        } else {
            EXPECT_EQ(n, 10u);
            EXPECT_EQ(std::string(buffer.data(), 11), std::string("AAAA\0BBBB\0\0", 11));
        }
    }

    std::vector<char> small(8);
    ASSERT_TRUE(doc.writeString("AAAA", "LONGKEY", "value"));
    EXPECT_EQ(doc.section("AAAA", small), 6u);
    EXPECT_EQ(std::string(small.data(), 8), std::string("K=1\0LO\0\0", 8));
}

TEST(ProfileDocument, WritesAddOrReplaceAndNeverRemoveAnotherKey) {
    ProfileDocument doc = ProfileDocument::parse(kSample);
    ASSERT_TRUE(doc.writeString("Common Settings", "AUTO_SAVE", "TRUE"));
    ASSERT_TRUE(doc.writeString("Common Settings", "NOICON", "FALSE"));
    ASSERT_TRUE(doc.writeString("PacketFilter1", "PROTOCOL", "17"));
    ASSERT_TRUE(doc.writeString("DynamicFilter1", "DROP", "TRUE"));

    const ProfileDocument again = ProfileDocument::parse(doc.serialize());
    EXPECT_EQ(again.sectionLines("Common Settings"),
              (std::vector<std::string>{"AUTO_SAVE=TRUE", "NOICON=FALSE"}));
    EXPECT_EQ(again.sectionLines("PacketFilter1"),
              (std::vector<std::string>{"PROTOCOL=17", "COMMENT=x=y", "NOEQUALS"}));
    EXPECT_EQ(again.sectionLines("DynamicFilter1"), (std::vector<std::string>{"DROP=TRUE"}));
    // Untouched lines keep their bytes, comments included; new keys go before the blank
    // line that ends their section; a new section comes last.
    const std::string text = doc.serialize();
    EXPECT_EQ(text.rfind("; written by hand\n", 0), 0u);
    EXPECT_NE(text.find("AUTO_SAVE=TRUE\nNOICON=FALSE\n\n[PacketFilter1]\n"), std::string::npos);
    EXPECT_NE(text.find("; a comment inside\n"), std::string::npos);
    EXPECT_NE(text.find("[PacketFilter1]\nPROTOCOL=1\n\n[DynamicFilter1]\nDROP=TRUE\n"),
              std::string::npos);
}

TEST(ProfileDocument, AWrittenKeyReadsBackAsWrittenEvenWithDuplicates) {
    ProfileDocument doc = ProfileDocument::parse("[S]\nA=1\nB=2\nA=3\nA=4\n");
    ASSERT_TRUE(doc.writeString("S", "A", "9"));
    EXPECT_EQ(doc.sectionLines("S"), (std::vector<std::string>{"A=9", "B=2"}));
}

TEST(ProfileDocument, RefusesWritesThatWouldNotReadBack) {
    ProfileDocument doc;
    EXPECT_FALSE(doc.writeString("S", "K", "a\nb"));
    EXPECT_FALSE(doc.writeString("S", "K", "a\r[X]"));
    EXPECT_FALSE(doc.writeString("S", "K", std::string_view("a\0b", 3)));
    EXPECT_FALSE(doc.writeString("S", "K=V", "x"));
    EXPECT_FALSE(doc.writeString("S", "[K]", "x"));
    EXPECT_FALSE(doc.writeString("S", ";K", "x"));
    EXPECT_FALSE(doc.writeString("S", " K", "x"));
    EXPECT_FALSE(doc.writeString("S", "", "x"));
    EXPECT_FALSE(doc.writeString("S]", "K", "x"));
    EXPECT_FALSE(doc.writeString("", "K", "x"));
    EXPECT_FALSE(doc.writeString("S\n", "K", "x"));
    EXPECT_TRUE(doc.empty());
    // "=" and "," in a value are fine for the profile layer.
    EXPECT_TRUE(doc.writeString("S", "K", "x=y,z"));
    EXPECT_EQ(ProfileDocument::parse(doc.serialize()).sectionLines("S"),
              (std::vector<std::string>{"K=x=y,z"}));
}

TEST(ProfileDocument, HandlesOddLayouts) {
    // An unterminated header is no section, a header's name runs to the first "]".
    const ProfileDocument doc = ProfileDocument::parse("[Open\nA=1\n  [Named] trailing\nB=2\n"
                                                       "[x]y]\nC=3");
    std::vector<char> buffer(64);
    doc.sectionNames(buffer);
    EXPECT_EQ(strings(buffer), (std::vector<std::string>{"Named", "x"}));
    EXPECT_EQ(doc.sectionLines("Named"), (std::vector<std::string>{"B=2"}));
    EXPECT_EQ(doc.sectionLines("x"), (std::vector<std::string>{"C=3"}));
    // A NUL ends its line's text: what follows is no further line.
    const ProfileDocument nul = ProfileDocument::parse(std::string("[S]\nA=x \0B=y\nC=z\n", 17));
    EXPECT_EQ(nul.sectionLines("S"), (std::vector<std::string>{"A=x", "C=z"}));
    EXPECT_TRUE(ProfileDocument::parse("").empty());
    EXPECT_EQ(ProfileDocument::parse("\n\n").serialize(), "\n\n");
}

TEST(ProfileDocument, LinesThatWereNotUtf8KeepTheirBytesUntilReplaced) {
    // A file read line by line: its second, fourth and fifth lines were CP932.
    DecodedText decoded = decodeFileText("[S]\n"
                                         "A=\x83\x74\x83\x42\n"
                                         "B=ok\n"
                                         "[\x8A\xBF]\n"
                                         "C=\xFF\n"
                                         "D=日本\n");
    ASSERT_EQ(decoded.firstUncleanLine, 2u);
    ProfileDocument doc = ProfileDocument::parse(std::move(decoded));
    // Reading sees the converted text.
    EXPECT_EQ(doc.sectionLines("S"), (std::vector<std::string>{"A=フィ", "B=ok"}));
    EXPECT_EQ(doc.sectionLines("漢"), (std::vector<std::string>{"C=?", "D=日本"}));
    EXPECT_EQ(doc.serialize(), "[S]\nA=\x83\x74\x83\x42\nB=ok\n[\x8A\xBF]\nC=\xFF\nD=日本\n");

    ASSERT_TRUE(doc.writeString("S", "B", "new"));
    ASSERT_TRUE(doc.writeString("漢", "C", "直した"));
    EXPECT_EQ(doc.serialize(), "[S]\nA=\x83\x74\x83\x42\nB=new\n[\x8A\xBF]\nC=直した\nD=日本\n");
}

TEST(ProfileDocument, FindsEachOfManySectionsByName) {
    std::string text;
    for (int i = 0; i < 5000; ++i)
        text += "[Section" + std::to_string(i) + "]\nK=" + std::to_string(i) + "\n";
    ProfileDocument doc = ProfileDocument::parse(text);
    for (int i : {0, 1, 2499, 4999})
        EXPECT_EQ(doc.sectionLines("Section" + std::to_string(i)),
                  (std::vector<std::string>{"K=" + std::to_string(i)}));
    EXPECT_TRUE(doc.sectionLines("Section5000").empty());
    // Sections added by writes are found as well, and a copy finds them too.
    for (int i = 5000; i < 5100; ++i)
        ASSERT_TRUE(doc.writeString("Section" + std::to_string(i), "K", "w"));
    const ProfileDocument copy = doc;
    EXPECT_EQ(copy.sectionLines("Section5099"), (std::vector<std::string>{"K=w"}));
    EXPECT_EQ(copy.sectionLines("Section17"), (std::vector<std::string>{"K=17"}));
    EXPECT_EQ(copy.sectionNameList().size(), 5100u);
}
