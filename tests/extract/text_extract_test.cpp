// Text of one run: inserted spaces and line ends from the pen movement, ligature boxes, and the
// characters as they are written into XHTML.
#include <gtest/gtest.h>

#include "extract/text_extract.h"
#include "text_support.h"

using qm::IntBox;
using qmtest::SyntheticText;

namespace {

std::string Write(SyntheticText &t, bool dropHyphen = false, qm::UserPrompt *prompt = nullptr) {
    std::string out;
    qm::RunTextOutput output;
    output.file = &out;
    output.prompt = prompt;
    qm::PageItem item = t.Item();
    qm::WriteRunText(output, item, 0, dropHyphen);
    return out;
}

qm::TextSpanChain Extract(SyntheticText &t) {
    qm::TextSpanChain chain;
    fz_point pen = fz_make_point(-1, -1);
    qmtest::RecordingPrompt prompt;
    EXPECT_EQ(0, qm::ExtractTextSpans(chain, *t.command.text, 0, static_cast<int>(t.command.text->glyphs.size()),
                                      fz_identity, pen, prompt));
    return chain;
}

} // namespace

TEST(TextExtract, PenMovementInsertsSpacesAndLineEnds) {
    // Helvetica's blank is 0.278 em: forward moves from half of it (0.139 em) on part words.
    {   // Glyphs at their own advances, and a forward move of 0.1 x size (kerning): no space.
        SyntheticText t(10);
        float pen = t.Word("ab", 0);
        t.Word("cd", pen + 1);
        EXPECT_EQ("abcd", Write(t));
    }
    {   // A tight word gap of 0.15 x size on the baseline: exactly one space.
        SyntheticText t(10);
        float pen = t.Word("ab", 0);
        t.Word("cd", pen + 1.5f);
        EXPECT_EQ("ab cd", Write(t));
        qm::TextSpanChain chain = Extract(t);
        ASSERT_EQ(1u, chain.spans.size());
        EXPECT_EQ(5u, chain.spans[0].chars.size());
    }
    {   // The same gap after a blank of the text itself adds nothing.
        SyntheticText t(10);
        float pen = t.Word("ab ", 0);
        t.Word("cd", pen + 3);
        EXPECT_EQ("ab cd", Write(t));
    }
    {   // Moves back along the line (a kerned pair, an accent set over its letter) part nothing.
        SyntheticText t(10);
        float pen = t.Word("ab", 0);
        t.Word("cd", pen - 5);
        EXPECT_EQ("abcd", Write(t));
    }
    {   // A jump of more than 0.9 x size (the next baseline) ends the span; written as one space.
        SyntheticText t(10);
        t.Word("ab", 0, 100);
        t.Word("cd", 0, 88);
        qm::TextSpanChain chain = Extract(t);
        ASSERT_EQ(2u, chain.spans.size());
        EXPECT_TRUE(chain.spans[0].endsLine);
        EXPECT_EQ(2u, chain.spans[1].chars.size());
        EXPECT_EQ("ab cd", Write(t));
    }
    {   // A jump across the line, not along it, below 0.9 x size: neither space nor line end.
        SyntheticText t(10);
        float pen = t.Word("ab", 0, 100);
        t.Word("cd", pen, 95);
        EXPECT_EQ("abcd", Write(t));
    }
}

TEST(TextExtract, WordGapFollowsTheFontsOwnBlank) {
    SyntheticText helvetica(10), times(10, "Times-Roman"), courier(10, "Courier");
    EXPECT_NEAR(1.39, qm::WordGapThreshold(helvetica.Font(), 10), 0.01);
    EXPECT_NEAR(1.25, qm::WordGapThreshold(times.Font(), 10), 0.01);
    // Courier's blank of 0.6 em would ask for too much: at most 0.3 em.
    EXPECT_NEAR(3.0, qm::WordGapThreshold(courier.Font(), 10), 0.01);
    // Without a font to ask: a blank of 0.3 em.
    EXPECT_NEAR(3.0, qm::WordGapThreshold(nullptr, 20), 0.01);
    // A move of 0.2 em parts two words in Times, not in Courier.
    float pen = times.Word("ab", 0);
    times.Word("cd", pen + 2);
    EXPECT_EQ("ab cd", Write(times));
    pen = courier.Word("ab", 0);
    courier.Word("cd", pen + 2);
    EXPECT_EQ("abcd", Write(courier));
}

TEST(TextExtract, GapsBetweenRunsAreJudgedByThePen) {
    using qm::RunGap;
    auto judge = [](SyntheticText &a, SyntheticText &b) { return qm::JudgeRunGap(a.Item(), b.Item()); };
    {   // A tight word gap after an italic word, and an italic correction inside a word.
        SyntheticText a(10, "Times-Italic"), gap(10), joined(10);
        float pen = a.Word("leaf", 0);
        gap.Word("fell", pen + 1.7f);
        joined.Word("fell", pen + 0.3f);
        EXPECT_EQ(RunGap::Word, judge(a, gap));
        EXPECT_EQ(RunGap::None, judge(a, joined));
    }
    {   // A typewriter address after a tight gap: the narrower blank decides.
        SyntheticText a(10), b(10, "Courier");
        float pen = a.Word("at", 0);
        b.Word("https", pen + 1.7f);
        EXPECT_EQ(RunGap::Word, judge(a, b));
    }
    {   // A raised smaller figure right after a word, and the next word after it.
        SyntheticText word(10), mark(6), next(10);
        float pen = word.Word("note", 0, 100);
        pen = mark.Word("1", pen, 104);
        next.Word("said", pen + 2.5f, 100);
        EXPECT_EQ(RunGap::None, judge(word, mark));
        EXPECT_EQ(RunGap::Word, judge(mark, next));
    }
    {   // A run set further back on the same baseline (a right-aligned label read first) is no
        // continuation of the word; a script set back over the previous letter is.
        SyntheticText label(10), word(10), script(7);
        label.Word("[Function]", 400);
        float pen = word.Word("int", 72);
        script.Word("2", pen - 3);
        EXPECT_EQ(RunGap::Word, judge(label, word));
        EXPECT_EQ(RunGap::None, judge(word, script));
    }
    {   // The next line, whatever the ink boxes say about it.
        SyntheticText a(11), b(11);
        a.Word("system", 100, 100);
        b.Word("for", 150, 89);
        EXPECT_EQ(RunGap::Line, judge(a, b));
    }
    {   // Nothing to judge by: vertical writing, or a run of no glyph of its own.
        SyntheticText a(10), b(10);
        float pen = a.Word("ab", 0);
        b.Word("cd", pen + 3);
        b.command.text->writingMode = 1;
        EXPECT_EQ(RunGap::Unknown, judge(a, b));
        qm::PageItem empty = a.Item();
        empty.glyphCount = 0;
        EXPECT_EQ(RunGap::Unknown, qm::JudgeRunGap(empty, b.Item()));
    }
}

TEST(TextExtract, BoxesOfCharactersSharingAGlyph) {
    qm::TextSpanChain chain;
    qm::AddChar(chain, nullptr, 10, 0, 0xFB03, IntBox{0, 0, 9, 10});
    ASSERT_EQ(3u, chain.Tail().chars.size());
    EXPECT_EQ('f', chain.Tail().chars[0].unicode);
    EXPECT_EQ('f', chain.Tail().chars[1].unicode);
    EXPECT_EQ('i', chain.Tail().chars[2].unicode);
    EXPECT_EQ((IntBox{0, 0, 3, 10}), chain.Tail().chars[0].box);
    EXPECT_EQ((IntBox{3, 0, 6, 10}), chain.Tail().chars[1].box);
    EXPECT_EQ((IntBox{6, 0, 9, 10}), chain.Tail().chars[2].box);

    qm::TextSpanChain two;
    qm::AddChar(two, nullptr, 10, 0, 'f', IntBox{10, 0, 20, 10});
    qm::AddChar(two, nullptr, 10, 0, 'i', IntBox{10, 0, 20, 10});
    qm::DivideChars(two, 2, IntBox{10, 0, 20, 10});
    EXPECT_EQ((IntBox{10, 0, 15, 10}), two.Tail().chars[0].box);
    EXPECT_EQ((IntBox{15, 0, 20, 10}), two.Tail().chars[1].box);

    // Through the device: a glyph followed by a character without a glyph of its own shares its
    // box; the pen does not move for it.
    SyntheticText t(20);
    t.Put('f', 0);
    t.PutExtra('i');
    t.Put('x', t.Advance('f'));
    qm::TextSpanChain c = Extract(t);
    ASSERT_EQ(1u, c.spans.size());
    ASSERT_EQ(3u, c.spans[0].chars.size());
    const IntBox &f = c.spans[0].chars[0].box, &i = c.spans[0].chars[1].box;
    EXPECT_EQ('i', c.spans[0].chars[1].unicode);
    EXPECT_EQ(f.x1, i.x0);
    EXPECT_EQ(f.y0, i.y0);
    EXPECT_GT(f.Width(), 0);
    EXPECT_LE(std::abs(f.Width() - i.Width()), 1);
    EXPECT_EQ("fix", Write(t));
}

TEST(TextExtract, SpansSplitByFontAndSize) {
    SyntheticText a(10), b(12, "Times-Roman");
    qm::TextSpanChain chain;
    qm::AddChar(chain, a.Font(), 10, 0, 'a', IntBox{});
    qm::AddChar(chain, a.Font(), 10, 0, ' ', IntBox{});
    qm::AddChar(chain, a.Font(), 12, 0, 'b', IntBox{});
    qm::AddChar(chain, b.Font(), 12, 0, 'c', IntBox{});
    qm::AddChar(chain, b.Font(), 12, 1, 'd', IntBox{});
    ASSERT_EQ(4u, chain.spans.size());
    EXPECT_EQ(2u, chain.spans[0].chars.size());
    // The array grows to 80 entries at once, then by half.
    EXPECT_GE(chain.spans[0].chars.capacity(), 80u);
}

TEST(TextExtract, WrittenCharacters) {
    {
        SyntheticText t(10);
        float pen = t.Word("a<b&\"c\">", 0);
        t.Put(0xE9, pen);
        t.Put(7, pen + 5);  // a control character: dropped
        std::string out = Write(t);
        EXPECT_EQ("a&lt;b&amp;&quot;c&quot;&gt;\xC3\xA9", out);
    }
    {   // Hyphens: only the one ending the run is dropped, and only when asked.
        SyntheticText t(10);
        t.Word("co-op-", 0);
        EXPECT_EQ("co-op", Write(t, true));
        EXPECT_EQ("co-op-", Write(t, false));
    }
    {   // Characters beyond the Basic Multilingual Plane, and code points XML cannot hold.
        std::string out;
        qm::AppendXhtmlChar(out, 0x1D11E);
        qm::AppendXhtmlChar(out, 0x3B1);
        qm::AppendXhtmlChar(out, 0xD800);
        qm::AppendXhtmlChar(out, 0xFFFF);
        qm::AppendXhtmlChar(out, 0x110000);
        EXPECT_EQ("\xF0\x9D\x84\x9E\xCE\xB1", out);
    }
}

TEST(TextExtract, RangeBeyondTheCommandIsReportedAndWritesNothing) {
    SyntheticText t(10);
    t.Word("abc", 0);
    qm::PageItem item = t.Item();
    item.firstGlyph = 2;
    item.glyphCount = 2;
    qmtest::RecordingPrompt prompt;
    std::string out;
    qm::RunTextOutput output;
    output.file = &out;
    output.prompt = &prompt;
    qm::WriteRunText(output, item, 0, false);
    EXPECT_EQ("", out);
    ASSERT_EQ(1u, prompt.messages.size());
    EXPECT_EQ("fz_textextractspan - t_st + t_len > text->len", prompt.messages[0]);

    item.firstGlyph = 1;
    item.glyphCount = 2;
    qm::WriteRunText(output, item, 0, false);
    EXPECT_EQ("bc", out);
}
