#pragma once
// A text of the user interface in both languages. A feature keeps its texts
// as one table of these constants, one line a text:
//   inline constexpr text::Bilingual kSave{"Save", "保存"};
// and shows one through Pick with the language code (4 = Chinese, any other
// code English; see platform/app_identity.h).

#include "platform/home.h"

#include <QString>

namespace text {

struct Bilingual {
    const char* english;  // UTF-8
    const char* chinese;  // UTF-8
};

inline QString Pick(Bilingual t, unsigned language)
{
    return platform::pickText(language, t.english, t.chinese);
}

}  // namespace text
