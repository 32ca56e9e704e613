// Which texts pass as a book's language tag.
#include <gtest/gtest.h>

#include "options/reading_options.h"

namespace {

TEST(LanguageTag, AcceptsWellFormedTags) {
    for (const char *tag : {"de", "en-gb", "en-US", "fr-CA", "zh-Hant-TW", "sr-Latn", "es-419", "de-CH-1996",
                            "sl-rozaj-biske", "en-a-bbb-x-ccc", "x-klingon", "zh-yue-HK", "haw", "EN"})
        EXPECT_TRUE(qm::IsLanguageTag(tag)) << tag;
}

TEST(LanguageTag, RefusesWhatWouldCorruptOrMisleadTheBook) {
    for (const char *tag : {"", "e", "en_GB", "en gb", "en-", "-en", "en--gb", "de\"", "<de>", "123", "en-gb-",
                            "toolongname", "en-a", "x", "en-x", "de-ü", "en-gb-toolongvariant"})
        EXPECT_FALSE(qm::IsLanguageTag(tag)) << tag;
    EXPECT_TRUE(qm::IsLanguageTag("en-x-abcdefgh-abcdefgh-abcdefgh"));  // 31 characters
    EXPECT_FALSE(qm::IsLanguageTag("en-x-abcdefgh-abcdefgh-abcdefgh-abcd"));  // 36: over the limit
}

} // namespace
