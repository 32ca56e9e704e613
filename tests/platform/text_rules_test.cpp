// UTF-8 and XML text: the rules every writer of book markup shares.
#include <gtest/gtest.h>

#include "platform/utf8.h"
#include "platform/xml_text.h"

TEST(Utf8, DecodesOnlyWellFormedScalars) {
    uint32_t cp = 0;
    EXPECT_EQ(1u, qm::DecodeUtf8("A", 0, cp));
    EXPECT_EQ(0x41u, cp);
    EXPECT_EQ(2u, qm::DecodeUtf8("\xC3\xA9", 0, cp));
    EXPECT_EQ(0xE9u, cp);
    EXPECT_EQ(4u, qm::DecodeUtf8("x\xF0\x9D\x84\x9E", 1, cp));
    EXPECT_EQ(0x1D11Eu, cp);
    // A stray continuation byte, an overlong form, a surrogate, a value beyond U+10FFFF, and a
    // sequence cut off by the end of the text.
    for (const char *bad : {"\x80", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE2\x82"})
        EXPECT_EQ(0u, qm::DecodeUtf8(bad, 0, cp)) << bad;
    EXPECT_TRUE(qm::IsUtf8(""));
    EXPECT_TRUE(qm::IsUtf8("caf\xC3\xA9 \xF0\x9D\x84\x9E"));
    EXPECT_FALSE(qm::IsUtf8("caf\xE9"));
    EXPECT_FALSE(qm::IsUtf8("\xC3"));
}

TEST(Utf8, EncodesEveryScalarAndReplacesTheRest) {
    std::string out;
    for (uint32_t cp : {0x24u, 0xA2u, 0x20ACu, 0x10348u, 0x10FFFFu}) qm::AppendUtf8(out, cp);
    EXPECT_EQ("\x24\xC2\xA2\xE2\x82\xAC\xF0\x90\x8D\x88\xF4\x8F\xBF\xBF", out);
    // Every encoded scalar decodes back to itself.
    for (uint32_t cp : {0x7Fu, 0x80u, 0x7FFu, 0x800u, 0xFFFFu, 0x10000u}) {
        std::string one;
        qm::AppendUtf8(one, cp);
        uint32_t back = 0;
        EXPECT_EQ(one.size(), qm::DecodeUtf8(one, 0, back)) << cp;
        EXPECT_EQ(cp, back);
    }
    out.clear();
    qm::AppendUtf8(out, 0xD800);
    qm::AppendUtf8(out, 0x110000);
    EXPECT_EQ("\xEF\xBF\xBD\xEF\xBF\xBD", out);
}

TEST(XmlText, EscapingKeepsTextWellFormed) {
    EXPECT_EQ("A &amp;amp; &lt;b&gt; &quot;q&quot; '", qm::XmlEscape("A &amp; <b> \"q\" '"));
    // Control characters XML cannot hold are dropped; bytes that are not UTF-8 become U+FFFD.
    EXPECT_EQ("a\tb\nc", qm::XmlEscape(std::string("a\tb\n\x01\x1F") + "c"));
    EXPECT_EQ("x\xEF\xBF\xBDy \xC3\xA9", qm::XmlEscape("x\xFFy \xC3\xA9"));
    EXPECT_EQ("\xEF\xBF\xBD", qm::XmlEscape("\xC3"));
    EXPECT_EQ("\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD", qm::XmlEscape("\xED\xA0\x80"));  // a surrogate
    EXPECT_EQ("ab", qm::XmlEscape("a\xEF\xBF\xBE" "b"));                                // U+FFFE
    // XmlChars is the same text unescaped, and leaves XML-clean UTF-8 exactly as it is.
    EXPECT_EQ("<a> & \xEF\xBF\xBD", qm::XmlChars("<a> &\x02 \xFF"));
    const std::string clean = "Caf\xC3\xA9 \xF0\x9D\x84\x9E\r\n";
    EXPECT_EQ(clean, qm::XmlChars(clean));
}

TEST(XmlText, OneCharacterAtATime) {
    std::string out;
    for (uint32_t cp : {0x26u, 0x3Cu, 0x3Eu, 0x22u, 0x27u, 0x9u, 0x1u, 0xDC00u, 0xFFFFu, 0x110000u, 0x3B1u})
        qm::AppendXmlChar(out, cp);
    EXPECT_EQ("&amp;&lt;&gt;&quot;'\t\xCE\xB1", out);
    EXPECT_TRUE(qm::IsXmlChar('\r'));
    EXPECT_FALSE(qm::IsXmlChar(0));
    EXPECT_TRUE(qm::IsXmlChar(0xFFFD));
    EXPECT_TRUE(qm::IsXmlChar(0x10FFFF));
}
