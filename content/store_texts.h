#pragma once
// Every text of the video store pages and of the parameter backup, in
// English and Chinese (language code 4): a table of text::Bilingual.

#include "common/bilingual_text.h"
#include "content/video_store_model.h"

namespace store::texts {

using Message = text::Bilingual;

// Captions and labels.
inline constexpr Message kStoreCaption{"Video Source Settings", "视频源设置"};
inline constexpr Message kFirstScreen{"First Screen", "第一屏"};
inline constexpr Message kSecondScreen{"Second Screen", "第二屏"};
inline constexpr Message kRefresh{"Refresh(F5)", "刷新(F5)"};
inline constexpr Message kSendFolder{"Send video folder(F3)", "发送视频文件夹(F3)"};
inline constexpr Message kDelete{"Delete(Del)", "删除(Del)"};
inline constexpr Message kPlay{"Play video on screen(F6)", "在屏幕上播放视频(F6)"};
inline constexpr Message kRename{"Rename(F2)", "重命名(F2)"};
inline constexpr Message kVolume{"Volume", "音量"};
inline constexpr Message kExportList{"Export File List Param", "导出文件列表参数"};
inline constexpr Message kNewFolder{"New Folder", "新建文件夹"};
inline constexpr Message kSendFile{"Send video file", "发送视频文件"};
inline constexpr Message kPlayTimeGroup{"Play time(minutes)", "播放时间(分钟)"};
inline constexpr Message kPlayTimeHint{"0:Video default time", "0:视频默认时长"};
inline constexpr Message kSet{"Set", "设置"};
inline constexpr Message kNameLabel{"Name:", "名称:"};
inline constexpr Message kSpace{"Total space:%1MB Free space:%2MB", "总空间:%1MB 剩余空间:%2MB"};

// Store page messages.
inline constexpr Message kLocked{"The layout is locked, please unlock it first!", "布局已锁定,请先解锁!"};
inline constexpr Message kSelectFolderFirst{"Please select the folder in the list first", "请先在列表中选择文件夹"};
inline constexpr Message kConfirmDelete{"Do you really want to delete it?", "确定要删除吗?"};
inline constexpr Message kConfirmDeleteAll{"Delete all, do you really want to continue ?", "将全部删除,确定要继续吗?"};
inline constexpr Message kOnlyOneToPlay{"Only one Video file or Type can be selected", "只能选择一个视频文件或类型"};
inline constexpr Message kFolderQuestionMark{"The folder name cannot have a '?' Reinput",
                                             "文件夹名称不能包含'?',请重新输入"};
inline constexpr Message kFolderColon{"The folder name cannot have a ':' Reinput", "文件夹名称不能包含':',请重新输入"};
inline constexpr Message kFolderExists{"The folder name already exists", "文件夹名称已存在"};
inline constexpr Message kFolderTooLong{"The folder name is too long", "文件夹名称太长"};
inline constexpr Message kFolderNotEntered{"The folder name not entered", "未输入文件夹名称"};
inline constexpr Message kRenameSelectFirst{"Please select the video or folder name of the file in the list",
                                            "请在列表中选择视频或文件夹"};
inline constexpr Message kRenameOnlyOne{"Only one video or folder name can be selected", "只能选择一个视频或文件夹"};
inline constexpr Message kRenameQuestionMark{"video or folder name of the file can't have a '?' Reinput",
                                             "视频或文件夹名称不能包含'?',请重新输入"};
inline constexpr Message kRenameColon{"video or folder name of the file can't have a ':' Reinput",
                                      "视频或文件夹名称不能包含':',请重新输入"};
inline constexpr Message kRenameTooLong{"Video or folder name is too long", "视频或文件夹名称太长"};
inline constexpr Message kRenameNotEntered{"Video or folder name not entered", "未输入视频或文件夹名称"};
inline constexpr Message kRenameQuestion{"Rename <%1> to <%2>?", "将<%1>重命名为<%2>?"};
inline constexpr Message kPlayTimeTooLarge{"Play time must be less than 35791394.0!", "播放时间必须小于35791394.0!"};
inline constexpr Message kPlayTimeNegative{"Play time must be greater than 0!", "播放时间必须大于0!"};
inline constexpr Message kExportTitle{"Save the File List parameter", "保存文件列表参数"};
inline constexpr Message kExportFilter{"File list parameter(*.DAT)|*.DAT||", "文件列表参数(*.DAT)|*.DAT||"};
inline constexpr Message kExportDone{"File list parameter export completed!", "文件列表参数导出完成!"};
inline constexpr Message kNothingToExport{"No file list has been received yet", "尚未收到文件列表"};

// Uploads.
inline constexpr Message kSelectVideoTitle{"Select the Video file", "选择视频文件"};
inline constexpr Message kVideoFilter{"Video File(*.MP4)|*.MP4||", "视频文件(*.MP4)|*.MP4||"};
inline constexpr Message kSelectFolderTitle{"Select the video folder", "选择视频文件夹"};
inline constexpr Message kFileNameTooLong{"File name is too long", "文件名太长"};
inline constexpr Message kFolderNameTooLong{"The folder is too long", "文件夹名称太长"};
inline constexpr Message kNameSeparator{" cannot be sent: a name may not hold '?' or ':'",
                                        " 无法发送:名称不能包含'?'或':'"};
inline constexpr Message kNoStorage{"There is not enough storage space for the player, please reduce the send file",
                                    "播放器存储空间不足,请减少发送的文件"};
inline constexpr Message kNoContent{"The selected files have no content", "所选文件没有内容"};
inline constexpr Message kNoTypeSpace{"There is not enough type space for the player", "播放器类型空间不足"};
inline constexpr Message kNothingToSend{"No video files or duplicate video files for the selected category",
                                        "所选类型没有视频文件或视频文件重复"};

// Parameter backup and restore.
inline constexpr Message kParamCaption{"Parameter Import and Export", "参数备份、恢复"};
inline constexpr Message kRecovery{"Parameter recovery", "参数恢复"};
inline constexpr Message kBackup{"Parameter backup", "参数备份"};
inline constexpr Message kCancel{"Cancel", "取消"};
inline constexpr Message kZipFilterSave{"zip file(*.zip)|*.zip||", "zip文件(*.zip)|*.zip||"};
inline constexpr Message kZipFilterOpen{"zipFlie(*.zip)|*.zip||", "zip文件(*.zip)|*.zip||"};
inline constexpr Message kSaveZip{"Save zip file", "保存zip文件"};
inline constexpr Message kOpenZip{"Open zip file", "打开zip文件"};
inline constexpr Message kExportCompleted{"Parameter export completed!", "参数导出完成!"};
inline constexpr Message kImportCompleted{"Parameter import completed!", "参数导入完成!"};
inline constexpr Message kExportFailed{"Parameter export failed: cannot write ", "参数导出失败,无法写入"};

}  // namespace store::texts
