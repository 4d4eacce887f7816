// The texts' tables pick by language code, with UTF-8 on both sides.
#include "common/bilingual_text.h"

#include <gtest/gtest.h>

namespace {

TEST(BilingualText, PicksChineseOnlyForLanguageFour)
{
    constexpr text::Bilingual kSave{"Save", "保存"};
    const struct { unsigned language; const char* expected; } cases[] = {
        {4, "保存"}, {9, "Save"}, {0, "Save"}, {5, "Save"}, {0xFFFFFFFFu, "Save"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(text::Pick(kSave, c.language), QString::fromUtf8(c.expected)) << c.language;
}

}  // namespace
