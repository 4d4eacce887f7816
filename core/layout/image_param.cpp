#include "core/layout/image_param.h"

#include "platform/home.h"

#include <cstdint>

namespace layout {

int CheckImageParam(const ImageParamValues& v, const ImageParamLimits& l)
{
    // 64-bit sums: the edits take seven digits each.
    const int64_t right = int64_t(v.left) + v.width;
    const int64_t bottom = int64_t(v.top) + v.height;
    if (v.width < kMinSide) return 1;
    if (v.width > l.maxWidth) return 2;
    if (right > kModelWidth) return 3;
    if (v.height < kMinSide) return 4;
    if (v.height > l.maxHeight) return 5;
    if (bottom > kModelHeight) return 6;
    if (v.left < l.bounds.left) return 7;
    if (v.top < l.bounds.top) return 8;
    if (right > l.bounds.right) return 9;
    if (bottom > l.bounds.bottom) return 10;
    return 0;
}

QString ImageParamMessage(int check, unsigned language)
{
    static const char* const texts[][2] = {
        {"The width setting is too small!", "宽度设置值太小！"},
        {"The width setting is too big!", "宽度设置值太大！"},
        {"The starting or width setting is too big!", "起点或宽度设置值太大！"},
        {"The height setting is too small!", "高度设置值太小！"},
        {"The height setting is too big!", "高度设置值太大！"},
        {"The starting or Height setting is too big!", "起点或高度设置值太大！"},
        {"Set value error on the left start!", "左边起点设置值错误！"},
        {"Set value error on the top start!", "上边起点设置值错误！"},
        {"Error of width setting value!", "宽度设置值错误！"},
        {"Error of height setting value!", "高度设置值错误！"},
    };
    if (check < 1 || check > 10)
        return QString();
    return platform::pickText(language, texts[check - 1][0], texts[check - 1][1]);
}

}  // namespace layout
