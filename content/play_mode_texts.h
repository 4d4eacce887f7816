#pragma once
// Every text of the play-mode editors and of the mobile-app settings, in
// English and Chinese (language code 4): a table of text::Bilingual.

#include "common/bilingual_text.h"

namespace playmode::texts {

using Message = text::Bilingual;

// Play-mode editors.
inline constexpr Message kPictureCaption{"Picture Play Control", "图片播放控制"};
inline constexpr Message kVideoCaption{"Video Play Control", "视频播放控制"};
inline constexpr Message kSave{"Save", "保存"};
inline constexpr Message kExit{"Exit", "退出"};
inline constexpr Message kVideoSave{"Save", "确定"};
inline constexpr Message kVideoExit{"Exit", "取消"};
inline constexpr Message kPlayModeGroup{"Play Mode", "播放方式"};
inline constexpr Message kAdd{"Add", "增加"};
inline constexpr Message kDel{"Del", "删除"};
inline constexpr Message kModeRow{"(play mode)", "(播放方式)"};
inline constexpr Message kSettingGroup{"setting", "设置"};
inline constexpr Message kPicTypeGroup{"pic type", "图片类型"};
inline constexpr Message kGridName{"Property", "Property"};
inline constexpr Message kGridValue{"Value", "Value"};
inline constexpr Message kEnoughModes{"There are enough play mode to add!", "添加的播放方式够多了吧！"};
inline constexpr Message kConfirmDelete{"Do you really want to delete it?", "【真的要删除吗?】"};
inline constexpr Message kInputError{"input error", "输入错误"};
inline constexpr Message kSaved{"Saved", "保存完成"};
inline constexpr Message kTooLarge{"The document is too large to send to the player in one packet!",
                                   "文档太大，无法用一个数据包发送到播放器！"};
inline constexpr Message kWriteFailed{"The document could not be written: ", "无法写入文档: "};

// Mobile-app settings.
inline constexpr Message kMobileCaption{"Cloud Settings", "手机端设置"};
inline constexpr Message kCancel{"Cancel", "退出"};
inline constexpr Message kModulesGroup{"Modules", "功能控制"};
inline constexpr Message kModulesColumn{"Modules", "功能"};
inline constexpr Message kWordsGroup{"Words", "常用语"};
inline constexpr Message kEmojiGroup{"Emoji", "支持特效"};
inline constexpr Message kImport{"Import", "导入"};
inline constexpr Message kExport{"Export", "导出"};
inline constexpr Message kNew{"New", "新建"};
inline constexpr Message kRemove{"Remove", "删除"};
inline constexpr Message kUp{"Up", "上移"};
inline constexpr Message kDown{"Down", "下移"};
inline constexpr Message kWordsFilter{"Words Flie(*.GFDW)|*.GFDW||", "常用语文件(*.GFDW)|*.GFDW||"};
inline constexpr Message kOpenWords{"Open Words file", "打开常用语文件"};
inline constexpr Message kSaveWords{"Save Words file", "保存常用语文件"};
inline constexpr Message kWordsName{"Words", "常用语"};
inline constexpr Message kFileError{"file error. Please check it！", "文件错误，请检查！"};
inline constexpr Message kPhrasesSaved{"saved！", "保存完成！"};
inline constexpr Message kConfirmExit{"Do you really want to exit?", "【真的要退出吗?】"};
inline constexpr Message kPhraseUnencodable{
    "The phrase \"%1\" holds characters a phrase file cannot store. Please change it and try again!",
    "常用语“%1”含有常用语文件无法保存的字符，请修改后再试！"};

}  // namespace playmode::texts
