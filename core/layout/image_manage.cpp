#include "core/layout/image_manage.h"

#include "platform/home.h"

#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QPainter>
#include <QPen>

#include <algorithm>
#include <stdexcept>

using layout::LayoutRect;

namespace layout {

LayoutRect LayoutRect::united(const LayoutRect& o) const
{
    if (isEmpty())
        return o;
    if (o.isEmpty())
        return *this;
    return {std::min(left, o.left), std::min(top, o.top), std::max(right, o.right), std::max(bottom, o.bottom)};
}

uint32_t colorRefToRgb(uint32_t c)
{
    return ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
}

bool LoadPictureFile(QImage& image, const QString& path)
{
    image = QImage();
    if (path.isEmpty() || !QFileInfo(path).isFile())
        return false;
    QImage loaded(path);
    if (loaded.isNull())
        return false;
    const bool withAlpha = loaded.hasAlphaChannel();
    QImage out = loaded.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < out.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            const QRgb p = line[x];
            int r = qRed(p), g = qGreen(p), b = qBlue(p);
            if (withAlpha) {
                const int a = qAlpha(p);
                r = r * a / 255;
                g = g * a / 255;
                b = b * a / 255;
            }
            // Black is the transparent colour; every other pixel is drawn whole.
            line[x] = (r | g | b) == 0 ? qRgba(0, 0, 0, 0) : qRgba(r, g, b, 255);
        }
    }
    image = out.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    return true;
}

bool IsPlainFileName(const QString& name)
{
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return false;
    if (name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')) || name.contains(QLatin1Char(':')))
        return false;
    return !name.contains(QChar(0));
}

QString FindFileCaseInsensitive(const QString& folder, const QString& name)
{
    if (!IsPlainFileName(name))
        return QString();
    const QString exact = folder + QLatin1Char('/') + name;
    if (QFileInfo(exact).isFile())
        return exact;
    const QStringList files = QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    for (const QString& f : files) {
        if (f.compare(name, Qt::CaseInsensitive) == 0)
            return folder + QLatin1Char('/') + f;
    }
    return QString();
}

void DrawPicturePair(QPainter& painter, const QImage& picture, const QImage& twin, const LayoutRect& rect)
{
    const QRect target(rect.left, rect.top, rect.width(), rect.height());
    // Plain stretching: Qt's smooth stretching hands large areas to a thread
    // pool of its own, which the thread checker cannot follow.
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    if (!picture.isNull())
        painter.drawImage(target, picture);
    if (!twin.isNull())
        painter.drawImage(target, twin);
    painter.restore();
}

QString NotStandardMessage(unsigned language)
{
    return platform::pickText(language, "Layout file is not standard. Please check it！", "布局文件不规范，请检查！");
}

}  // namespace layout

namespace {

CImageManage* g_instance = nullptr;

// The picture of a name and its twin: a.png with a.bmp, a.BMP with a.png.
void twinNames(const QString& name, QString& pictureName, QString& twinName)
{
    pictureName.clear();
    twinName.clear();
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    const QString ext = dot < 0 ? QString() : name.mid(dot).toUpper();
    if (name.size() < 4)
        return;
    const QString stem = name.left(name.size() - 4);
    if (ext == QLatin1String(".PNG")) {
        pictureName = name;
        twinName = stem + QStringLiteral(".bmp");
    } else if (ext == QLatin1String(".BMP")) {
        twinName = name;
        pictureName = stem + QStringLiteral(".png");
    }
}

}  // namespace

QString LayoutReadReport::leftOutMessage(unsigned language) const
{
    QStringList parts;
    if (droppedWindows > 0)
        parts << platform::pickText(language,
                                    QStringLiteral("The layout holds more than 9 windows: the first 9 were read, %1 "
                                                   "left out.")
                                        .arg(droppedWindows),
                                    QStringLiteral("布局中的窗口超过9个：已读入前9个，其余%1个未读入。").arg(droppedWindows));
    if (!refusedNames.isEmpty())
        parts << platform::pickText(language,
                                    QStringLiteral("Windows whose picture name is not a plain file name were left out: %1")
                                        .arg(refusedNames.join(QStringLiteral(", "))),
                                    QStringLiteral("图片名不是普通文件名的窗口未读入：%1").arg(refusedNames.join(QStringLiteral("、"))));
    return parts.join(QLatin1Char('\n'));
}

CImageManage::CImageManage(const QString& materialFolder) : materialFolder_(materialFolder)
{
    ClearWindows();
    ClearDragPicture();
    LoadImageLibrary();
    LoadImagePage();
    for (int s = 0; s < layout::kScreenCount; ++s)
        SplitScreen(s, 2, 2);
}

CImageManage& CImageManage::Instance()
{
    if (!g_instance)
        throw std::logic_error("the instance is not init, please initialize the instance first");
    return *g_instance;
}

CImageManage* CImageManage::InstanceOrNull()
{
    return g_instance;
}

void CImageManage::SetInstance(CImageManage* instance)
{
    g_instance = instance;
}

// ---------------------------------------------------------------- library

void CImageManage::LoadImageLibrary()
{
    library_.clear();
    pageStart_ = 0;
    const QDir dir(pictureFolder());
    // Linux lists a folder in no particular order: sort as a person would.
    QStringList files = dir.entryList(QDir::Files, QDir::NoSort);
    std::sort(files.begin(), files.end(),
              [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
    for (const QString& f : files) {
        if (f.endsWith(QLatin1String(".png"), Qt::CaseInsensitive))
            library_.push_back({QString(), f});
    }
    QStringList folders = dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::NoSort);
    std::sort(folders.begin(), folders.end(),
              [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
    for (const QString& d : folders) {
        const QString found = layout::FindFileCaseInsensitive(dir.filePath(d), d + QStringLiteral(".PNG"));
        if (!found.isEmpty())
            library_.push_back({d, QFileInfo(found).fileName()});
    }
}

bool CImageManage::LoadImagePage()
{
    int slot = 0;
    for (std::size_t i = pageStart_; i < library_.size() && slot < layout::kSlotCount; ++i) {
        const LibraryEntry& e = library_[i];
        QString base;
        if (libraryKind_ == 1 || libraryKind_ == 2) {
            if (!e.folder.isEmpty())
                continue;
            base = pictureFolder();
        } else if (libraryKind_ == 3) {
            if (e.folder.isEmpty())
                continue;
            base = pictureFolder() + QLatin1Char('/') + e.folder;
        } else {
            base = e.folder.isEmpty() ? pictureFolder() : pictureFolder() + QLatin1Char('/') + e.folder;
        }
        const int dot = e.file.lastIndexOf(QLatin1Char('.'));
        if (dot < 0 || e.file.mid(dot).toUpper() != QLatin1String(".PNG"))
            continue;
        LibrarySlot& s = slots_[std::size_t(slot)];
        s.name = e.file;
        s.frameColor = layout::kSlotFrameColor;
        layout::LoadPictureFile(s.picture, layout::FindFileCaseInsensitive(base, e.file));
        layout::LoadPictureFile(s.twin,
                                layout::FindFileCaseInsensitive(base, e.file.left(e.file.size() - 4) + QStringLiteral(".bmp")));
        ++slot;
    }
    return true;
}

void CImageManage::ShowNextPage()
{
    const int64_t count = int64_t(library_.size());
    if (count <= layout::kSlotCount)
        return;
    // Forward only: the last page is the last sixteen entries.
    pageStart_ = uint32_t(std::max<int64_t>(0, std::min<int64_t>(int64_t(pageStart_) + 16, count - 16)));
    FreePageImages();
    LoadImagePage();
}

void CImageManage::ShowPreviousPage()
{
    if (library_.size() <= std::size_t(layout::kSlotCount))
        return;
    pageStart_ = pageStart_ < 16 ? 0 : pageStart_ - 16;
    FreePageImages();
    LoadImagePage();
}

void CImageManage::ShowFirstPage()
{
    if (library_.size() <= std::size_t(layout::kSlotCount))
        return;
    pageStart_ = 0;
    FreePageImages();
    LoadImagePage();
}

void CImageManage::ShowLastPage()
{
    if (library_.size() <= std::size_t(layout::kSlotCount))
        return;
    pageStart_ = uint32_t(library_.size() - 16);
    FreePageImages();
    LoadImagePage();
}

void CImageManage::FreePageImages()
{
    for (LibrarySlot& s : slots_) {
        s.picture = QImage();
        s.twin = QImage();
        s.name.clear();
        s.frameColor = 0;
    }
}

bool CImageManage::DrawLibrarySlot(QPainter& painter, int slot, const LayoutRect& rect) const
{
    if (slot < 0 || slot >= layout::kSlotCount || rect.isEmpty())
        return false;
    const LibrarySlot& s = slots_[std::size_t(slot)];
    layout::DrawPicturePair(painter, s.picture, s.twin, rect);
    return true;
}

// ---------------------------------------------------------------- windows

void CImageManage::ResetRecord(PictureWindow& w, uint16_t channel)
{
    w.rect = LayoutRect();
    w.picture = QImage();
    w.twin = QImage();
    w.name.clear();
    w.frameColor = 0;
    w.channel = channel;
    w.index = 0;
    w.wag = 0;
    w.videoImageSync = 1;
    w.selected = 0;
}

bool CImageManage::AddPictureWindow(uint16_t view, uint16_t channel, int slot, const LayoutRect& rect)
{
    if (slot < 0 || slot >= layout::kSlotCount || channel != layout::kPictureChannel || windowCount_ >= layout::kMaxWindows)
        return false;
    const LibrarySlot& s = slots_[std::size_t(slot)];
    PictureWindow& w = windows_[std::size_t(windowCount_)];
    if (!s.picture.isNull())
        w.picture = s.picture.copy();
    if (!s.twin.isNull())
        w.twin = s.twin.copy();
    w.rect = rect;
    w.name = s.name;
    w.channel = layout::kPictureChannel;
    w.index = uint16_t(slot);
    w.frameColor = s.frameColor;
    w.viewIndex = view;
    ++windowCount_;
    return true;
}

bool CImageManage::AddWindowRecord(const PictureWindow& w)
{
    if (windowCount_ >= layout::kMaxWindows || !layout::IsPlainFileName(w.name))
        return false;
    PictureWindow& added = windows_[std::size_t(windowCount_)];
    added = w;
    added.picture = QImage();
    added.twin = QImage();
    LoadWindowPictures(added);
    ++windowCount_;
    Select(windowCount_ - 1);
    return true;
}

bool CImageManage::RemovePictureWindow(uint16_t channel, int position)
{
    if (channel != layout::kPictureChannel || position < 0 || position >= windowCount_) {
        ClearSelection();
        return channel != layout::kPictureChannel;
    }
    for (int i = position; i + 1 < windowCount_; ++i) {
        const uint8_t keepSelected = windows_[std::size_t(i)].selected;
        windows_[std::size_t(i)] = windows_[std::size_t(i + 1)];
        windows_[std::size_t(i)].selected = keepSelected;
    }
    --windowCount_;
    PictureWindow& last = windows_[std::size_t(windowCount_)];
    const uint16_t view = last.viewIndex;
    ResetRecord(last, 0);
    last.viewIndex = view;
    ClearSelection();
    return true;
}

bool CImageManage::BringForward()
{
    uint16_t channel = 0;
    int pos = 0;
    if (!FindSelected(channel, pos) || channel != layout::kPictureChannel)
        return false;
    if (pos + 1 < windowCount_) {
        std::swap(windows_[std::size_t(pos)], windows_[std::size_t(pos + 1)]);
        Select(pos + 1);
    }
    return true;
}

bool CImageManage::SendBackward()
{
    uint16_t channel = 0;
    int pos = 0;
    if (!FindSelected(channel, pos))
        return false;
    if (pos == 0)
        return true;
    if (channel != layout::kPictureChannel)
        return false;
    std::swap(windows_[std::size_t(pos)], windows_[std::size_t(pos - 1)]);
    Select(pos - 1);
    return true;
}

bool CImageManage::FindSelected(uint16_t& channel, int& position) const
{
    for (int i = 0; i < layout::kMaxWindows; ++i) {
        if (windows_[std::size_t(i)].selected) {
            channel = windows_[std::size_t(i)].channel;
            position = i;
            return true;
        }
    }
    return false;
}

bool CImageManage::HasSelectionOnScreen(uint16_t view) const
{
    for (const PictureWindow& w : windows_) {
        if (w.selected && w.viewIndex == view)
            return true;
    }
    return false;
}

bool CImageManage::GetSelectedRect(uint16_t view, LayoutRect& out) const
{
    uint32_t color = 0;
    return GetSelectedRectAndColor(view, out, color);
}

bool CImageManage::GetSelectedRectAndColor(uint16_t view, LayoutRect& out, uint32_t& frameColor) const
{
    out = LayoutRect();
    frameColor = 0;
    uint16_t channel = 0;
    int pos = 0;
    if (view >= layout::kScreenCount || !FindSelected(channel, pos))
        return false;
    const PictureWindow& w = windows_[std::size_t(pos)];
    if (w.channel != layout::kPictureChannel || w.viewIndex != view)
        return false;
    const LayoutRect& area = screens_[view].area;
    // Screen 0 is used as stored; the others are screen-relative.
    out = view == 0 ? w.rect : w.rect.translated(-area.left, -area.top);
    frameColor = w.frameColor;
    return true;
}

void CImageManage::SetSelectedRect(uint16_t view, const LayoutRect& rect)
{
    uint16_t channel = 0;
    int pos = 0;
    if (view >= layout::kScreenCount || !FindSelected(channel, pos))
        return;
    PictureWindow& w = windows_[std::size_t(pos)];
    if (w.channel != layout::kPictureChannel || w.viewIndex != view)
        return;
    const LayoutRect& area = screens_[view].area;
    w.rect = view == 0 ? rect : rect.translated(area.left, area.top);
}

void CImageManage::GetScreenRect(uint16_t view, LayoutRect& out) const
{
    if (view >= layout::kScreenCount) {
        out = LayoutRect();
        return;
    }
    const LayoutRect& a = screens_[view].area;
    out = view == 0 ? a : LayoutRect{0, 0, a.width(), a.height()};
}

void CImageManage::GetScreenGrid(uint16_t view, LayoutRect& out, uint16_t& columns, uint16_t& rows) const
{
    GetScreenRect(view, out);
    columns = view < layout::kScreenCount ? screens_[view].columns : 1;
    rows = view < layout::kScreenCount ? screens_[view].rows : 1;
}

void CImageManage::SplitScreen(int screen, int columns, int rows)
{
    if (screen < 0 || screen >= layout::kScreenCount)
        return;
    columns = columns <= 0 ? 1 : std::min(columns, 8);
    rows = rows <= 0 ? 1 : std::min(rows, 8);
    ScreenArea& s = screens_[std::size_t(screen)];
    s.columns = uint16_t(columns);
    s.rows = uint16_t(rows);
    CellGrid& g = grids_[std::size_t(screen)];
    g.cellCount = uint16_t(columns * rows);
    const int32_t w = s.area.width() > 0 ? s.area.width() : 0;
    const int32_t h = s.area.height() > 0 ? s.area.height() : 0;
    g.extent = {0, 0, w, h};
    const int32_t cw = w / columns;
    const int32_t ch = h / rows;
    g.cells.fill(LayoutRect());
    for (int c = 0; c < columns; ++c) {
        for (int r = 0; r < rows; ++r) {
            LayoutRect cell{c * cw, r * ch, (c + 1) * cw, (r + 1) * ch};
            if (c == columns - 1)
                cell.right = w;
            if (r == rows - 1)
                cell.bottom = h;
            g.cells[std::size_t(c * rows + r)] = cell;
        }
    }
}

void CImageManage::SetScreenArea(int screen, const LayoutRect& area)
{
    if (screen < 0 || screen >= layout::kScreenCount)
        return;
    screens_[std::size_t(screen)].area = area;
    SplitScreen(screen, screens_[std::size_t(screen)].columns, screens_[std::size_t(screen)].rows);
}

void CImageManage::ClearWindows()
{
    for (PictureWindow& w : windows_) {
        ResetRecord(w, 0);
        w.viewIndex = 0;
        w.videoImageSync = 0;
    }
    windowCount_ = 0;
    pickX = 0;
    pickY = 0;
}

void CImageManage::ClearSelection()
{
    for (PictureWindow& w : windows_)
        w.selected = 0;
}

void CImageManage::Select(int position)
{
    ClearSelection();
    if (position >= 0 && position < layout::kMaxWindows)
        windows_[std::size_t(position)].selected = 1;
}

// ---------------------------------------------------------------- placing

bool CImageManage::BeginPlacing(int slot, uint16_t view)
{
    if (slot < 0 || slot >= layout::kSlotCount || view >= layout::kScreenCount)
        return false;
    const LibrarySlot& s = slots_[std::size_t(slot)];
    ClearDragPicture();
    placing_.rect = {0, 0, layout::kMinSide, layout::kMinSide};
    placing_.viewIndex = view;
    placing_.channel = layout::kPictureChannel;
    placing_.index = uint16_t(slot);
    placing_.frameColor = s.frameColor;
    placing_.name = s.name;
    placing_.picture = s.picture;
    placing_.twin = s.twin;
    placingActive_ = 1;
    return true;
}

LayoutRect CImageManage::SnapToCells(uint16_t view, const LayoutRect& modelRect) const
{
    if (view >= layout::kScreenCount)
        return LayoutRect();
    const LayoutRect& area = screens_[view].area;
    const LayoutRect rel = modelRect.translated(-area.left, -area.top);
    const CellGrid& g = grids_[view];
    LayoutRect u;
    for (const LayoutRect& cell : g.cells) {
        if (cell.intersects(rel))
            u = u.united(cell);
    }
    return u.isEmpty() ? u : u.translated(area.left, area.top);
}

bool CImageManage::DropDragPicture(uint16_t view, uint16_t& channel, uint16_t& index)
{
    if (!placingActive_ || view >= layout::kScreenCount)
        return false;
    const LayoutRect& area = screens_[view].area;
    LayoutRect r = SnapToCells(view, placing_.rect);
    if (r.isEmpty())
        r = {area.left, area.top, area.left, area.top};
    if (r.width() < layout::kMinSide) {
        if (r.left != area.left)
            r.left = r.right - layout::kMinSide;
        else
            r.right = r.left + layout::kMinSide;
    }
    if (r.height() < layout::kMinSide) {
        if (r.top != area.top)
            r.top = r.bottom - layout::kMinSide;
        else
            r.bottom = r.top + layout::kMinSide;
    }
    // The placed picture keeps its own images even when the page changed.
    const PictureWindow placed = placing_;
    const bool added = AddPictureWindow(placed.viewIndex, placed.channel, placed.index, r);
    if (added) {
        PictureWindow& w = windows_[std::size_t(windowCount_ - 1)];
        w.picture = placed.picture;
        w.twin = placed.twin;
        w.name = placed.name;
        w.frameColor = placed.frameColor;
    }
    channel = placed.channel;
    index = placed.index;
    ClearSelection();
    if (channel == layout::kPictureChannel && windowCount_ > 0)
        windows_[std::size_t(windowCount_ - 1)].selected = 1;
    ClearDragPicture();
    return added;
}

void CImageManage::ClearDragPicture()
{
    placingActive_ = 0;
    ResetRecord(placing_, 0);
}

// ---------------------------------------------------------------- drawing

bool CImageManage::KeepInsideScreen(LayoutRect& r, uint16_t view) const
{
    const LayoutRect before = r;
    const LayoutRect& a = screens_[view].area;
    if (r.left < a.left)
        r = r.translated(a.left - r.left, 0);
    if (r.top < a.top)
        r = r.translated(0, a.top - r.top);
    if (r.right > a.right)
        r = r.translated(a.right - r.right, 0);
    if (r.bottom > a.bottom)
        r = r.translated(0, a.bottom - r.bottom);
    if (r.width() < layout::kMinSide)
        r.right = r.left + layout::kMinSide;
    if (r.height() < layout::kMinSide)
        r.bottom = r.top + layout::kMinSide;
    return !(before == r);
}

void CImageManage::DrawWindows(QPainter& painter, uint16_t view)
{
    if (view >= layout::kScreenCount)
        return;
    const LayoutRect& area = screens_[view].area;
    for (int i = 0; i < windowCount_; ++i) {
        PictureWindow& w = windows_[std::size_t(i)];
        if (w.rect.isEmpty())
            break;  // the first vacant record ends the layout
        if (w.viewIndex != view)
            continue;
        KeepInsideScreen(w.rect, view);
        const LayoutRect rel = w.rect.translated(-area.left, -area.top);
        if (w.hasImage()) {
            layout::DrawPicturePair(painter, w.picture, w.twin, rel);
        } else {
            // A picture that is missing on this computer: show where the window is.
            painter.save();
            QPen framePen(QColor::fromRgb(layout::colorRefToRgb(w.frameColor)), 3);
            framePen.setCosmetic(true);
            painter.setPen(framePen);
            painter.setBrush(Qt::NoBrush);
            painter.drawRect(QRect(rel.left, rel.top, rel.width() - 1, rel.height() - 1));
            painter.drawLine(rel.left, rel.top, rel.right - 1, rel.bottom - 1);
            painter.drawLine(rel.right - 1, rel.top, rel.left, rel.bottom - 1);
            painter.restore();
        }
        if (w.selected) {
            painter.save();
            painter.setPen(QColor::fromRgb(layout::colorRefToRgb(0x00FF0000)));
            // The label keeps a readable size on screen at every zoom.
            const qreal scale = painter.transform().m11() > 0 ? painter.transform().m11() : 1.0;
            const int px = std::max(1, int(13 / scale));
            QFont font = painter.font();
            font.setPixelSize(px);
            painter.setFont(font);
            painter.drawText(QPoint(rel.left + std::max(12, int(18 / scale)), rel.top + std::max(12, int(18 / scale)) + px),
                             QStringLiteral("L:%1,T:%2,W:%3,H:%4")
                                 .arg(w.rect.left)
                                 .arg(w.rect.top)
                                 .arg(w.rect.width())
                                 .arg(w.rect.height()));
            painter.restore();
        }
    }
}

bool CImageManage::DrawDragPicture(QPainter& painter, uint16_t view)
{
    if (!placingActive_ || placing_.rect.isEmpty() || !placing_.hasImage() || view >= layout::kScreenCount)
        return false;
    KeepInsideScreen(placing_.rect, view);
    const LayoutRect& area = screens_[view].area;
    const LayoutRect rel = placing_.rect.translated(-area.left, -area.top);
    layout::DrawPicturePair(painter, placing_.picture, placing_.twin, rel);
    painter.save();
    QPen dashed(QColor::fromRgb(layout::colorRefToRgb(placing_.frameColor)), 1, Qt::DashLine);
    dashed.setCosmetic(true);
    painter.setPen(dashed);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRect(rel.left, rel.top, rel.width() - 1, rel.height() - 1));
    painter.restore();
    return true;
}

void CImageManage::LoadWindowPictures(PictureWindow& w) const
{
    QString pictureName, twinName;
    twinNames(w.name, pictureName, twinName);
    if (!pictureName.isEmpty())
        layout::LoadPictureFile(w.picture, layout::FindFileCaseInsensitive(pictureFolder(), pictureName));
    if (!twinName.isEmpty())
        layout::LoadPictureFile(w.twin, layout::FindFileCaseInsensitive(pictureFolder(), twinName));
}

namespace layout {

void OwnedImageManage::create(const QString& materialFolder)
{
    reset();
    model_ = new CImageManage(materialFolder);
    CImageManage::SetInstance(model_);
}

void OwnedImageManage::reset()
{
    if (!model_)
        return;
    if (CImageManage::InstanceOrNull() == model_)
        CImageManage::SetInstance(nullptr);
    delete model_;
    model_ = nullptr;
}

}  // namespace layout
