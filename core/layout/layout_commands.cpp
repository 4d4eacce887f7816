// The layout commands of the main window (see layout_commands.h).
#include "core/layout/layout_commands.h"

#include "common/file_commit.h"
#include "common/text_coding.h"
#include "core/command_registry.h"
#include "core/config_exchange.h"
#include "core/document.h"
#include "core/layout/layout_transfer.h"
#include "core/layout/view_settings.h"
#include "core/views/set_display_grid.h"
#include "platform/dialogs.h"
#include "platform/home.h"
#include "transport/protocol.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>

#include <algorithm>

namespace layout {

namespace {

constexpr int kNameCountOffset = 16;
constexpr int kMaxClipName = 512;

QString t(const CvelunaDoc& doc, const char* en, const char* zh)
{
    return platform::pickText(doc.language(), en, zh);
}

bool ask(const CvelunaDoc& doc, const char* en, const char* zh)
{
    return platform::messageBox(t(doc, en, zh), QString(), platform::MsgButtons::YesNo, platform::MsgIcon::Question) ==
           platform::MsgResult::Yes;
}

void refresh(CvelunaDoc& doc)
{
    if (doc.layoutViewsChanged)
        doc.layoutViewsChanged();
}

void setPane(CvelunaDoc& doc, int pane, const QString& text)
{
    if (doc.setStatusPaneText)
        doc.setStatusPaneText(pane, text);
}

// Every editing command ends here: modified, redrawn, sent.
void endEdit(CvelunaDoc& doc)
{
    doc.setLayoutDirty(true);
    refresh(doc);
    doc.PushCurrentLayout();
}

void putI32(QByteArray& b, int at, int32_t v)
{
    proto::putU32(reinterpret_cast<uint8_t*>(b.data()) + at, uint32_t(v));
}

int32_t getI32(const QByteArray& b, int at)
{
    return int32_t(proto::getU32(reinterpret_cast<const uint8_t*>(b.constData()) + at));
}

uint16_t getU16(const QByteArray& b, int at)
{
    return proto::getU16(reinterpret_cast<const uint8_t*>(b.constData()) + at);
}

void putU16(QByteArray& b, int at, uint16_t v)
{
    proto::putU16(reinterpret_cast<uint8_t*>(b.data()) + at, v);
}

QString askLayoutPath(CvelunaDoc& doc, bool saveAs)
{
    platform::FileDialogCall call;
    call.kind = platform::FileDialogKind::Save;
    call.caption = saveAs ? t(doc, "Save As Layout file", "另存布局文件") : t(doc, "Save Layout file", "保存布局文件");
    call.fileName = t(doc, "Layout", "布局");
    call.defaultSuffix = QStringLiteral("GFD");
    call.filter = t(doc, "Layout file(*.GFD)|*.GFD||", "布局文件(*.GFD)|*.GFD||");
    return platform::fileDialog(call, QApplication::activeWindow());
}

}  // namespace

QByteArray PackWindowClip(const WindowClip& clip)
{
    QByteArray block(kClipBlockSize, '\0');
    putI32(block, 0, clip.rect.left);
    putI32(block, 4, clip.rect.top);
    putI32(block, 8, clip.rect.right);
    putI32(block, 12, clip.rect.bottom);
    const QByteArray name = clip.name.toUtf8();
    putI32(block, kNameCountOffset, int32_t(name.size()));
    putU16(block, 20, clip.screen);
    putU16(block, 22, clip.kind);
    putU16(block, 24, clip.number);
    putU16(block, 26, clip.selected);
    block[28] = char(clip.option1);
    block[29] = char(clip.option2);
    return block + name;
}

bool UnpackWindowClip(const QByteArray& block, WindowClip& clip)
{
    if (block.size() < kClipBlockSize)
        return false;
    const int32_t count = getI32(block, kNameCountOffset);
    if (count < 0 || count > kMaxClipName || count > block.size() - kClipBlockSize)
        return false;
    WindowClip c;
    c.rect = {getI32(block, 0), getI32(block, 4), getI32(block, 8), getI32(block, 12)};
    c.screen = getU16(block, 20);
    c.kind = getU16(block, 22);
    c.number = getU16(block, 24);
    c.selected = getU16(block, 26);
    c.option1 = uint8_t(block[28]);
    c.option2 = uint8_t(block[29]);
    c.name = QString::fromUtf8(block.mid(kClipBlockSize, count));
    if (c.kind == kPictureChannel && !IsPlainFileName(c.name))
        return false;
    clip = c;
    return true;
}

bool ClipOfSelection(const CImageManage& model, WindowClip& clip)
{
    uint16_t channel = 0;
    int position = 0;
    if (!model.FindSelected(channel, position))
        return false;
    clip = WindowClip();
    if (channel != kPictureChannel)
        return true;
    const PictureWindow& w = model.window(position);
    clip.rect = w.rect;
    clip.name = w.name;
    clip.screen = w.viewIndex;
    clip.kind = w.channel;
    clip.number = w.index;
    clip.selected = uint16_t(position);
    clip.option1 = w.wag;
    clip.option2 = w.videoImageSync;
    return true;
}

bool PasteClip(CImageManage& model, const WindowClip& clip)
{
    if (clip.kind != kPictureChannel || clip.screen >= kScreenCount)
        return false;
    model.ClearSelection();
    PictureWindow w;
    const LayoutRect area = model.screen(clip.screen).area;
    // A block from the clipboard may hold any corners: the size is taken in
    // 64 bits, so that no pair of them can overflow, and held to the model
    // space (a reversed side gives one pixel, which drawing widens to the
    // smallest window, as it does for such a window read from a file).
    const auto side = [](int32_t from, int32_t to, int64_t most) {
        return int32_t(std::clamp<int64_t>(int64_t(to) - from, 1, most));
    };
    const int32_t width = side(clip.rect.left, clip.rect.right, kModelWidth);
    const int32_t height = side(clip.rect.top, clip.rect.bottom, kModelHeight);
    w.rect = {area.left, area.top, area.left + width, area.top + height};
    w.name = clip.name;
    w.viewIndex = clip.screen;
    w.channel = kPictureChannel;
    w.index = clip.number;
    // As a dropped picture: the frame colour of its library slot; a slot
    // left empty on this page still stands for a library picture.
    w.frameColor = clip.number < kSlotCount ? model.slot(clip.number).frameColor : 0;
    if (w.frameColor == 0)
        w.frameColor = kSlotFrameColor;
    w.wag = clip.option1;
    w.videoImageSync = clip.option2;
    return model.AddWindowRecord(w);
}

void NewLayout(CvelunaDoc& doc)
{
    if (doc.IsLayoutDirty() && ask(doc, "Do you want to save the changes to the layout?", "布局已经修改，是否要保存？"))
        SaveLayoutFile(doc, false);
    doc.setLayoutDirty(false);
    doc.setCurrentLayoutPath(QString());
    setPane(doc, kLayoutPathPane, t(doc, "New Layout", "新建布局"));
    doc.imageManage().ClearWindows();
    refresh(doc);
}

void OpenLayout(CvelunaDoc& doc)
{
    if (doc.IsLayoutDirty() && ask(doc, "Do you want to save the changes to the layout ?", "布局已经修改，是否要保存？"))
        SaveLayoutFile(doc, false);
    platform::FileDialogCall call;
    call.kind = platform::FileDialogKind::Open;
    call.caption = t(doc, "Open Layout file", "打开布局文件");
    call.defaultSuffix = QStringLiteral("GFD");
    call.filter = t(doc, "Layout Flie(*.GFD)|*.GFD||", "布局文件(*.GFD)|*.GFD||");
    const QString path = platform::fileDialog(call, QApplication::activeWindow());
    if (path.isEmpty())
        return;
    LayoutReadReport report;
    // A file that is not a layout leaves the open layout and its path alone.
    if (ReadWholeFile(path, doc.imageManage(), &report) && report.loaded) {
        doc.setLayoutDirty(false);
        doc.setCurrentLayoutPath(path);
        setPane(doc, kLayoutPathPane, path);
        const QString leftOut = report.leftOutMessage(doc.language());
        if (!leftOut.isEmpty())
            platform::messageBox(leftOut, QString(), platform::MsgButtons::Ok, platform::MsgIcon::Warning);
    } else {
        platform::messageBox(NotStandardMessage(doc.language()), QString(), platform::MsgButtons::Ok,
                             platform::MsgIcon::Question);
    }
    refresh(doc);
    setPane(doc, kProgressPane, QStringLiteral(" "));
}

bool SaveLayoutFile(CvelunaDoc& doc, bool saveAs)
{
    QString path = saveAs ? QString() : doc.currentLayoutPath();
    const bool asked = path.isEmpty();
    if (asked) {
        path = askLayoutPath(doc, saveAs);
        if (path.isEmpty())
            return false;
    }
    QString error;
    if (!doc.imageManage().SaveLayout(path, &error)) {
        filecommit::showCannotWrite(doc.language(), path, error);
        return false;
    }
    if (asked) {
        doc.setCurrentLayoutPath(path);
        setPane(doc, kLayoutPathPane, path);
    }
    doc.setLayoutDirty(false);
    return true;
}

bool CopyWindow(CvelunaDoc& doc, bool cut)
{
    if (cut && doc.layoutBusy())
        return false;
    WindowClip clip;
    if (!ClipOfSelection(doc.imageManage(), clip))
        return false;
    // A window that cannot be pasted back is not cut away.
    if (cut && clip.kind != kPictureChannel)
        return false;
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        return false;
    auto* data = new QMimeData;
    data->setData(QString::fromLatin1(kClipFormat), PackWindowClip(clip));
    clipboard->setMimeData(data);
    doc.setClipboardHoldsWindow(true);
    if (cut) {
        uint16_t channel = 0;
        int position = 0;
        if (doc.imageManage().FindSelected(channel, position))
            doc.imageManage().RemovePictureWindow(channel, position);
        endEdit(doc);
    }
    return true;
}

bool PasteWindow(CvelunaDoc& doc)
{
    if (doc.layoutBusy())
        return false;
    QClipboard* clipboard = QGuiApplication::clipboard();
    const QMimeData* data = clipboard ? clipboard->mimeData() : nullptr;
    WindowClip clip;
    if (!data || !data->hasFormat(QString::fromLatin1(kClipFormat)) ||
        !UnpackWindowClip(data->data(QString::fromLatin1(kClipFormat)), clip)) {
        doc.setClipboardHoldsWindow(false);
        return false;
    }
    PasteClip(doc.imageManage(), clip);
    endEdit(doc);
    return true;
}

void DeleteSelectedLayout(CvelunaDoc& doc)
{
    if (doc.viewSettings().locked)
        return;
    LayoutTransfer& transfer = doc.layoutTransfer();
    if (transfer.names().size() == 1) {
        platform::messageBox(t(doc, "A layout must be preserved", "必须保留一个布局"));
        return;
    }
    if (!transfer.selectedName.isEmpty())
        transfer.DeleteLayout(transfer.selectedName);
}

bool PushGridSettings(CvelunaDoc& doc)
{
    const QString path = cfgx::configFilePath(doc.playerFolder(), cfgx::kGridFile);
    if (path.isEmpty())
        return false;
    QString error;
    if (!WriteGridFile(path, doc.viewSettings(), &error)) {
        // The old file stays and nothing is sent: the player keeps what the
        // file on disk says.
        filecommit::showCannotWrite(doc.language(), path, error);
        return false;
    }
    return doc.configExchange().UploadConfigFile(cfgx::kGridFile);
}

bool ReadGridFile(CvelunaDoc& doc, const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    ViewSettings s = doc.viewSettings();
    if (!ReadGridSettings(f.readAll(), s))
        return false;
    doc.viewSettings() = s;
    for (int v = 0; v < 2; ++v)
        doc.imageManage().SplitScreen(v, s.columns[std::size_t(v)], s.rows[std::size_t(v)]);
    if (doc.viewSettingsChanged)
        doc.viewSettingsChanged();
    refresh(doc);
    return true;
}

namespace {

void zoom(CvelunaDoc& doc, bool in)
{
    const uint16_t v = doc.activeScreen();
    if (v >= 2)
        return;
    double& z = doc.viewSettings().zoom[v];
    z = in ? ZoomIn(z) : ZoomOut(z);
    if (doc.viewSettingsChanged)
        doc.viewSettingsChanged();
    refresh(doc);
    PushGridSettings(doc);
}

void gridSettings(CvelunaDoc& doc)
{
    const uint16_t screen = doc.activeScreen();
    LayoutRect area;
    uint16_t columns = 1, rows = 1;
    doc.imageManage().GetScreenGrid(screen, area, columns, rows);
    CSetDisplayGrid dialog(doc.language(), QApplication::activeWindow());
    dialog.columns = uint8_t(std::clamp<int>(columns, kMinGrid, kMaxGrid));
    dialog.rows = uint8_t(std::clamp<int>(rows, kMinGrid, kMaxGrid));
    if (dialog.exec() != QDialog::Accepted)
        return;
    doc.imageManage().SplitScreen(screen, dialog.columns, dialog.rows);
    if (screen < 2) {
        doc.viewSettings().columns[screen] = dialog.columns;
        doc.viewSettings().rows[screen] = dialog.rows;
    }
    PushGridSettings(doc);
    refresh(doc);
}

void importLayouts(CvelunaDoc& doc)
{
    platform::FileDialogCall call;
    call.kind = platform::FileDialogKind::Open;
    call.caption = t(doc, "Open Layout file", "打开布局文件");
    call.defaultSuffix = QStringLiteral("GFD");
    call.filter = t(doc, "Layout Flie(*.GFD)|*.GFD||", "布局文件(*.GFD)|*.GFD||");
    const QStringList paths = platform::fileDialogMulti(call, QApplication::activeWindow());
    for (const QString& p : paths) {
        if (QFileInfo(p).fileName().size() > kNameFieldSize) {
            platform::messageBox(p + t(doc, "File name is too long", "文件名太长"));
            return;
        }
    }
    if (!paths.isEmpty() && doc.layoutTransfer().UploadLayouts(paths))
        setPane(doc, kProgressPane, QStringLiteral("0%"));
}

}  // namespace

void InstallLayoutCommands()
{
    // Their enable rules are the command table's.
    using core::registerCommand;
    registerCommand(57600, {nullptr, [](CvelunaDoc& d) { NewLayout(d); }});
    registerCommand(57601, {nullptr, [](CvelunaDoc& d) { OpenLayout(d); }});
    registerCommand(57603, {nullptr, [](CvelunaDoc& d) { SaveLayoutFile(d, false); }});
    registerCommand(32770, {nullptr, [](CvelunaDoc& d) { SaveLayoutFile(d, true); }});
    registerCommand(57635, {nullptr, [](CvelunaDoc& d) { CopyWindow(d, true); }});
    registerCommand(57634, {nullptr, [](CvelunaDoc& d) { CopyWindow(d, false); }});
    registerCommand(57637, {nullptr, [](CvelunaDoc& d) { PasteWindow(d); }});
    registerCommand(32771, {nullptr,
                            [](CvelunaDoc& d) {
                                if (ask(d, "Are you sure you want to close it?", "确定要删除吗？"))
                                    d.RemoveSelectedWindow();
                            }});
    registerCommand(32772, {nullptr, [](CvelunaDoc& d) {
                                if (!ask(d, "Are you sure you want to close all?", "确定要删除所有蒙版吗？"))
                                    return;
                                d.imageManage().ClearWindows();
                                endEdit(d);
                            }});
    registerCommand(32773, {nullptr, [](CvelunaDoc& d) {
                                d.imageManage().BringForward();
                                endEdit(d);
                            }});
    registerCommand(32774, {nullptr, [](CvelunaDoc& d) {
                                d.imageManage().SendBackward();
                                endEdit(d);
                            }});
    registerCommand(32782, {nullptr, [](CvelunaDoc& d) { zoom(d, false); }});
    registerCommand(32783, {nullptr, [](CvelunaDoc& d) { zoom(d, true); }});
    registerCommand(32784, {nullptr, [](CvelunaDoc& d) { gridSettings(d); }});
    registerCommand(32804, {nullptr,
                            [](CvelunaDoc& d) {
                                d.viewSettings().locked = !d.viewSettings().locked;
                                if (d.viewSettingsChanged)
                                    d.viewSettingsChanged();
                                refresh(d);
                                PushGridSettings(d);
                            },
                            [](const CvelunaDoc& d) { return d.viewSettings().locked; }});
    registerCommand(32797, {nullptr, [](CvelunaDoc& d) { importLayouts(d); }});
    registerCommand(32798, {nullptr, [](CvelunaDoc& d) { DeleteSelectedLayout(d); }});
    registerCommand(32799, {nullptr, [](CvelunaDoc& d) { d.layoutTransfer().RequestLayoutList(); }});
}

}  // namespace layout
