// Step 1 of the warp wizard: screens, channels, band widths and guide
// colours, checked by the ordered rules and stored as Warp.QVE.
#include "calibration/warp_main.h"
#include "common/controls/dialog_keys.h"
#include "common/file_commit.h"

#include "platform/app_identity.h"
#include "platform/dialogs.h"
#include "platform/messages.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace calib {

namespace {

QString tr2(int language, const char* english, const char* chinese)
{
    return QString::fromUtf8(language == 4 ? chinese : english);
}

template <class W>
W* named(W* w, int id)
{
    w->setObjectName(QString::number(id));
    return w;
}

constexpr int kGridTop = 150;       // grid areas below the controls row
// Nine cells each way, each holding its four 7-point widths in the usual
// sans fonts; a font too large for a cell loses numbers, never overlaps.
constexpr int kGridWidth = 600;
constexpr int kGridHeight = 290;

}  // namespace

void ApplyBandEdit(ScreenLayout& L, int row, int column, int type, int side, uint16_t width)
{
    const int R = std::clamp<int>(L.rows, 1, 9), C = std::clamp<int>(L.columns, 1, 9);
    if (row < 0 || column < 0 || row >= R || column >= C)
        return;
    switch (type) {
    case 0:
        for (int r = 0; r < R; ++r) {
            L.band(r, 0).left = 0;
            L.band(r, C - 1).right = 0;
        }
        for (int c = 0; c < C; ++c) {
            L.band(0, c).top = 0;
            L.band(R - 1, c).bottom = 0;
        }
        break;
    case 1:
        for (int r = 0; r < R; ++r)
            for (int c = 0; c < C; ++c)
                L.band(r, c).left = L.band(r, c).right = width;
        break;
    case 2:
        for (int r = 0; r < R; ++r)
            for (int c = 0; c < C; ++c)
                L.band(r, c).top = L.band(r, c).bottom = width;
        break;
    case 3:
        if (side == 0) {
            L.band(row, column).left = width;
            if (column > 0)
                L.band(row, column - 1).right = width;
        } else if (side == 1) {
            L.band(row, column).right = width;
            if (column + 1 < C)
                L.band(row, column + 1).left = width;
        } else if (side == 2) {
            L.band(row, column).top = width;
            if (row > 0)
                L.band(row - 1, column).bottom = width;
        } else if (side == 3) {
            L.band(row, column).bottom = width;
            if (row + 1 < R)
                L.band(row + 1, column).top = width;
        }
        break;
    default:
        break;
    }
}

namespace {

// "Edge Blending Width Adjustment": the kind of edit, the side and a width
// from the offered lists.
class CWarpParam : public QDialog {
public:
    CWarpParam(int language, QWidget* parent) : QDialog(parent), language_(language)
    {
        setWindowTitle(tr2(language, "Edge Blending Width Adjustment", "融合带宽度调整"));
        auto* v = new QVBoxLayout(this);
        auto* types = new QHBoxLayout;
        // Kind and side are two choices: radios of one parent would otherwise
        // exclude each other across both rows, and checking "Left" would
        // clear "Single".
        auto* typeGroup = new QButtonGroup(this);
        auto* sideGroup = new QButtonGroup(this);
        const char* typeTexts[4][2] = {{"Clear all around", "四周清零"}, {"Row", "整行"}, {"Column", "整列"}, {"Single", "单条"}};
        for (int i = 0; i < 4; ++i) {
            type_[i] = named(new QRadioButton(tr2(language, typeTexts[i][0], typeTexts[i][1])), 3701 + i);
            types->addWidget(type_[i]);
            typeGroup->addButton(type_[i]);
            connect(type_[i], &QRadioButton::clicked, this, [this, i] { setType(i); });
        }
        auto* sides = new QHBoxLayout;
        const char* sideTexts[4][2] = {{"Left", "左部"}, {"Right", "右部"}, {"Top", "上部"}, {"Bottom", "下部"}};
        for (int i = 0; i < 4; ++i) {
            side_[i] = named(new QRadioButton(tr2(language, sideTexts[i][0], sideTexts[i][1])), 3706 + i);
            sides->addWidget(side_[i]);
            sideGroup->addButton(side_[i]);
            connect(side_[i], &QRadioButton::clicked, this, [this, i] {
                side = i;
                fill(i < 2);
            });
        }
        width_ = named(new QComboBox, 3705);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
        connect(buttons, &QDialogButtonBox::accepted, this, [this] {
            width = type == 0 ? 0 : width_->currentText().toInt();
            accept();
        });
        connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
        v->addLayout(types);
        v->addLayout(sides);
        v->addWidget(width_);
        v->addWidget(buttons);
        type_[3]->setChecked(true);
        setType(3);
    }
    int type = 3, side = 0, width = 0;

private:
    void setType(int t)
    {
        type = t;
        for (QRadioButton* s : side_)
            s->setEnabled(t == 3);
        width_->setEnabled(t != 0);
        if (t == 3) {
            side_[0]->setChecked(true);
            side = 0;
        }
        fill(t != 2);
    }
    void fill(bool horizontal)
    {
        width_->clear();
        if (horizontal)
            for (uint16_t w : kHorizontalBandWidths)
                width_->addItem(QString::number(w));
        else
            for (uint16_t w : kVerticalBandWidths)
                width_->addItem(QString::number(w));
        width_->setCurrentIndex(5);
    }
    int language_;
    QRadioButton* type_[4] = {};
    QRadioButton* side_[4] = {};
    QComboBox* width_ = nullptr;
};

}  // namespace

CWarpParamPage::CWarpParamPage(Inputs inputs, QWidget* parent) : QWidget(parent), in_(std::move(inputs))
{
    language_ = platform::appLanguage() == 4 ? 4 : 9;
    const int L = language_;
    auto* top = new QVBoxLayout(this);
    auto* screens = new QGridLayout;
    screenType_ = named(new QComboBox, 3101);
    screenType_->addItems({tr2(L, "One Screen", "分为一幕"), tr2(L, "Two Screens", "分为二幕")});
    screens->addWidget(screenType_, 0, 0);
    const char* rotTexts[3][2] = {{"Normal", "Normal"}, {"Rotate +90°", "Rotate +90°"}, {"Rotate -90°", "Rotate -90°"}};
    const int rotIds[2][3] = {{3136, 3137, 3138}, {3159, 3160, 3161}};
    for (int s = 0; s < 2; ++s) {
        rows_[s] = named(new QComboBox, s == 0 ? 3102 : 3104);
        columns_[s] = named(new QComboBox, s == 0 ? 3103 : 3105);
        for (int i = 1; i <= 9; ++i) {
            rows_[s]->addItem(QString::number(i));
            columns_[s]->addItem(QString::number(i));
        }
        auto* box = new QGroupBox;
        auto* h = new QHBoxLayout(box);
        h->addWidget(rows_[s]);
        h->addWidget(new QLabel(QStringLiteral("×")));
        h->addWidget(columns_[s]);
        for (int i = 0; i < 3; ++i) {
            rotation_[s][i] = named(new QRadioButton(QString::fromUtf8(rotTexts[i][0])), rotIds[s][i]);
            h->addWidget(rotation_[s][i]);
        }
        h->addStretch();
        screens->addWidget(box, 1, s);
        connect(rows_[s], &QComboBox::currentIndexChanged, this, [this] { updateChannelChecks(); update(); });
        connect(columns_[s], &QComboBox::currentIndexChanged, this, [this] { updateChannelChecks(); update(); });
    }
    connect(screenType_, &QComboBox::currentIndexChanged, this, [this] {
        const bool two = screenType_->currentIndex() == 1;
        rows_[1]->setEnabled(two);
        columns_[1]->setEnabled(two);
        for (QRadioButton* r : rotation_[1])
            r->setEnabled(two);
        updateChannelChecks();
        update();
    });
    top->addLayout(screens);
    top->addSpacing(kGridHeight + 10);
    // Both screens' grids side by side, whatever width the texts need.
    setMinimumWidth(2 * (kGridWidth + 20) + 10);

    auto* colours = new QGridLayout;
    const char* colourTexts[5][2] = {{"Cursor Color", "光标颜色"},
                                     {"Reference channel background color", "参考通道背景颜色"},
                                     {"Reference channel line color", "参考通道线条颜色"},
                                     {"Adjust the background color of the channel", "调整通道背景颜色"},
                                     {"Adjust the line color of the channel", "调整通道线条颜色"}};
    const int colourIds[5] = {3130, 3106, 3112, 3118, 3124};
    for (int c = 0; c < 5; ++c) {
        colours->addWidget(new QLabel(tr2(L, colourTexts[c][0], colourTexts[c][1])), c, 0);
        for (int k = 0; k < 3; ++k) {
            colour_[c][k] = named(new QSpinBox, colourIds[c] + 2 * k + 1);
            colour_[c][k]->setRange(0, 255);
            static const char* styles[3] = {"color: red", "color: green", "color: blue"};
            colour_[c][k]->setStyleSheet(QString::fromLatin1(styles[k]));
            colours->addWidget(colour_[c][k], c, k + 1);
            connect(colour_[c][k], &QSpinBox::valueChanged, this, [this, c] { paintSwatch(c); });
        }
        swatch_[c] = new QLabel;
        swatch_[c]->setFixedSize(48, 18);
        colours->addWidget(swatch_[c], c, 4);
    }
    top->addLayout(colours);

    auto* channels = new QGridLayout;
    for (int k = 0; k < 9; ++k) {
        channel_[k] = named(new QCheckBox(QStringLiteral("Channel%1").arg(k + 1)), 3140 + k);
        device_[k] = named(new QComboBox, 3149 + k);
        number_[k] = named(new QComboBox, 3162 + k);
        for (int i = 1; i <= 9; ++i)
            number_[k]->addItem(L == 4 ? QStringLiteral("通道%1").arg(i) : QStringLiteral("Channel%1").arg(i));
        channels->addWidget(channel_[k], k % 3 * 3 + 0, k / 3 * 3);
        channels->addWidget(device_[k], k % 3 * 3 + 1, k / 3 * 3);
        channels->addWidget(number_[k], k % 3 * 3 + 2, k / 3 * 3);
    }
    top->addLayout(channels);
    auto* flags = new QHBoxLayout;
    single_ = named(new QCheckBox(tr2(L, "Single Channel", "单通道多设备融合")), 3158);
    edit_ = named(new QCheckBox(tr2(L, "Edit Channel", "通道号编辑")), 3174);
    hcScreen_ = named(new QCheckBox(tr2(L, "HCScreen", "横向环幕")), 3172);
    vcScreen_ = named(new QCheckBox(tr2(L, "VCScreen", "纵向环幕")), 3173);
    skip_ = named(new QCheckBox(tr2(L, "Go To Gamma Correction", "直达融合带校正")), 3139);
    auto* all = named(new QPushButton(tr2(L, "All", "全选")), 3175);
    auto* invert = named(new QPushButton(tr2(L, "Invert", "反选")), 3176);
    for (QWidget* w : std::initializer_list<QWidget*>{single_, edit_, hcScreen_, vcScreen_, skip_, all, invert})
        flags->addWidget(w);
    top->addLayout(flags);
    connect(single_, &QCheckBox::toggled, this, [this] { updateChannelChecks(); });
    connect(edit_, &QCheckBox::toggled, this, [this](bool on) {
        for (QComboBox* n : number_)
            n->setEnabled(on);
    });
    connect(all, &QPushButton::clicked, this, [this] {
        for (QCheckBox* c : channel_)
            if (c->isEnabled())
                c->setChecked(true);
    });
    connect(invert, &QPushButton::clicked, this, [this] {
        for (QCheckBox* c : channel_)
            if (c->isEnabled())
                c->setChecked(!c->isChecked());
    });
    if (in_.version < 6400) {
        hcScreen_->setEnabled(false);
        vcScreen_->setEnabled(false);
    }
    LoadWarpSettings(true);
}

void CWarpParamPage::LoadWarpSettings(bool readFile)
{
    WarpLoad outcome = WarpLoad::Missing;
    settings_ = readFile ? calib::LoadWarpSettings(in_.playerFolder, &outcome) : WarpSettings();
    if (outcome == WarpLoad::Refused)
        platform::messageBox(refusedFileMessage(QStringLiteral("Warp.QVE"), language_), QString(),
                             platform::MsgButtons::Ok, platform::MsgIcon::Warning, this);
    // The device lists: every discovered player, the connected one chosen.
    for (QComboBox* d : device_) {
        d->clear();
        int chosen = 0;
        for (std::size_t i = 0; i < in_.devices.size(); ++i) {
            d->addItem(in_.devices[i].ip);
            if (in_.devices[i].ip == in_.current.ip)
                chosen = int(i);
        }
        d->setCurrentIndex(chosen);
    }
    WarpForm f = WarpForm::fromSettings(settings_);
    setForm(f);
}

void CWarpParamPage::setForm(const WarpForm& f)
{
    screenType_->setCurrentIndex(f.screenType);
    for (int s = 0; s < 2; ++s) {
        rows_[s]->setCurrentIndex(f.rows[std::size_t(s)] - 1);
        columns_[s]->setCurrentIndex(f.columns[std::size_t(s)] - 1);
        rotation_[s][std::clamp(f.rotation[std::size_t(s)], 0, 2)]->setChecked(true);
    }
    const Colour4* cs[5] = {&f.cursor, &f.referenceBackground, &f.referenceLine, &f.adjustedBackground, &f.adjustedLine};
    for (int c = 0; c < 5; ++c) {
        for (int k = 0; k < 3; ++k)
            colour_[c][k]->setValue((*cs[c])[std::size_t(k)]);
        paintSwatch(c);
    }
    single_->setChecked(f.singleChannel);
    edit_->setChecked(f.editChannel);
    hcScreen_->setChecked(f.horizontalCurved);
    vcScreen_->setChecked(f.verticalCurved);
    skip_->setChecked(f.skipGeometry);
    for (int k = 0; k < 9; ++k) {
        number_[k]->setCurrentIndex(std::min<int>(f.channelNumbers[std::size_t(k)], 8));
        number_[k]->setEnabled(f.editChannel);
        if (f.deviceChoice[std::size_t(k)] >= 0 && f.deviceChoice[std::size_t(k)] < device_[k]->count())
            device_[k]->setCurrentIndex(f.deviceChoice[std::size_t(k)]);
    }
    const bool two = f.screenType == 1;
    rows_[1]->setEnabled(two);
    columns_[1]->setEnabled(two);
    for (QRadioButton* r : rotation_[1])
        r->setEnabled(two);
    updateChannelChecks();
    for (int k = 0; k < 9; ++k)
        channel_[k]->setChecked(channel_[k]->isEnabled() && f.channelChecked[std::size_t(k)]);
    update();
}

WarpForm CWarpParamPage::form() const
{
    WarpForm f;
    f.screenType = screenType_->currentIndex();
    for (int s = 0; s < 2; ++s) {
        f.rows[std::size_t(s)] = rows_[s]->currentIndex() + 1;
        f.columns[std::size_t(s)] = columns_[s]->currentIndex() + 1;
        f.rotation[std::size_t(s)] = rotation_[s][1]->isChecked() ? 1 : rotation_[s][2]->isChecked() ? 2 : 0;
    }
    Colour4* cs[5] = {&f.cursor, &f.referenceBackground, &f.referenceLine, &f.adjustedBackground, &f.adjustedLine};
    for (int c = 0; c < 5; ++c)
        for (int k = 0; k < 3; ++k)
            (*cs[c])[std::size_t(k)] = uint8_t(colour_[c][k]->value());
    for (int k = 0; k < 9; ++k) {
        f.channelChecked[std::size_t(k)] = channel_[k]->isChecked();
        f.deviceChoice[std::size_t(k)] = device_[k]->currentIndex();
        f.channelNumbers[std::size_t(k)] = uint16_t(std::max(0, number_[k]->currentIndex()));
    }
    f.singleChannel = single_->isChecked();
    f.editChannel = edit_->isChecked();
    f.horizontalCurved = hcScreen_->isChecked();
    f.verticalCurved = vcScreen_->isChecked();
    f.skipGeometry = skip_->isChecked();
    return f;
}

void CWarpParamPage::paintSwatch(int c)
{
    if (!swatch_[c] || !colour_[c][2])
        return;
    swatch_[c]->setStyleSheet(QStringLiteral("background-color: rgb(%1, %2, %3); border: 1px solid black")
                                  .arg(colour_[c][0]->value())
                                  .arg(colour_[c][1]->value())
                                  .arg(colour_[c][2]->value()));
}

bool CWarpParamPage::skipGeometry() const { return skip_->isChecked(); }

void CWarpParamPage::updateChannelChecks()
{
    const WarpForm f = form();
    const int n = f.cellCount();
    for (int k = 0; k < 9; ++k) {
        const bool on = n >= 1 && n <= 9 && k < n;
        channel_[k]->setEnabled(on);
        if (!on)
            channel_[k]->setChecked(false);
        device_[k]->setEnabled(on && f.singleChannel);
    }
}

bool CWarpParamPage::ValidateAndSave()
{
    std::vector<WarpDevice> devices;
    for (const DeviceRecord& d : in_.devices)
        devices.push_back({d.ip, d.port, d.channelCode});
    const WarpCheck check = CheckWarpForm(settings_, form(), devices, in_.channelCount, language_);
    if (check.failedRule != 0) {
        platform::messageBox(check.message, QString(), platform::MsgButtons::Ok, platform::MsgIcon::Question, this);
        return false;
    }
    QString error;
    if (!SaveWarpSettings(in_.playerFolder, check.settings, &error)) {
        filecommit::showCannotWrite(language_, WarpSettingsPath(in_.playerFolder), error, this);
        return false;
    }
    settings_ = check.settings;
    targets_ = check.targets;
    return true;
}

void CWarpParamPage::sendToWizard(int command)
{
    platform::MessageWindow* w = platform::findWindow(in_.prefix + WarpWizardCaption(language_));
    if (auto* sheet = w ? dynamic_cast<CWarpMain*>(w) : nullptr) {
        if (command == 3003)
            sheet->OnNext();
        else
            sheet->OnQuit();
    }
}

bool CWarpParamPage::OnKey(int key, Qt::KeyboardModifiers modifiers)
{
    if (key == Qt::Key_Tab && (modifiers & Qt::ControlModifier)) {
        sendToWizard(3003);
        return true;
    }
    if (key == Qt::Key_Tab || controls::IsEnterKey(key))
        return true;
    if (key == Qt::Key_Escape) {
        sendToWizard(2);
        return true;
    }
    if (key == Qt::Key_R) {
        LoadWarpSettings(false);
        return false;
    }
    return false;
}

QRect CWarpParamPage::gridArea(int screen) const
{
    return QRect(10 + screen * (kGridWidth + 20), kGridTop - 40, kGridWidth, kGridHeight);
}

QRect GridCellRect(const QRect& a, int row, int column)
{
    const int w = a.width() / 9 + 5, h = a.height() / 9 + 5;
    return QRect(a.left() + column * (w - 5), a.top() + row * (h - 5), w, h);
}

QRect CWarpParamPage::cellRect(int screen, int row, int column) const
{
    return GridCellRect(gridArea(screen), row, column);
}

std::array<QRect, 4> CWarpParamPage::BandLabelRects(const QRect& cell, bool firstColumn, bool lastColumn, bool firstRow,
                                                    bool lastRow, const QFontMetrics& metrics, const BlendBands& b)
{
    // Neighbouring cells overlap by 5 pixels: a side shared with a neighbour
    // keeps its number clear of the neighbour's; the row lines stay clear.
    const QRect in = cell.adjusted(firstColumn ? 2 : 7, firstRow ? 2 : 6, lastColumn ? -2 : -7, lastRow ? -2 : -6);
    // The advance and the ink, whichever is larger: drawText clips to the
    // rectangle, so a number never reaches beyond it.
    auto sized = [&](uint16_t v) {
        const QString text = QString::number(v);
        return metrics.size(0, text).expandedTo(metrics.boundingRect(text).size());
    };
    const QSize l = sized(b.left), t = sized(b.top), r = sized(b.right), bo = sized(b.bottom);
    const int midY = in.center().y();
    const std::array<QRect, 4> wanted = {QRect(QPoint(in.left(), midY - l.height() / 2), l),
                                         QRect(QPoint(in.center().x() - t.width() / 2, in.top()), t),
                                         QRect(QPoint(in.right() - r.width() + 1, midY - r.height() / 2), r),
                                         QRect(QPoint(in.center().x() - bo.width() / 2, in.bottom() - bo.height() + 1), bo)};
    // Left and right first, then top, bottom last: the rules keep a band's
    // width equal on both cells it joins, so inside the grid the number left
    // out is still shown by the neighbour (a cell's bottom is the top of the
    // cell below).
    std::array<QRect, 4> placed{};
    for (const std::size_t side : {0u, 2u, 1u, 3u}) {
        const QRect& want = wanted[side];
        bool clear = in.contains(want);
        for (const QRect& other : placed)
            clear = clear && !other.intersects(want);
        if (clear)
            placed[side] = want;
    }
    return placed;
}

std::vector<std::array<QRect, 4>> DrawBandGrid(QPainter& p, const QFont& font, const QRect& area,
                                               const ScreenLayout& L, int rows, int columns)
{
    p.save();
    p.setFont(font);
    // The painter's own metrics: the font the request resolved to on this
    // machine, at the device's resolution.
    const QFontMetrics metrics = p.fontMetrics();
    std::vector<std::array<QRect, 4>> out;
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c) {
            const QRect cell = GridCellRect(area, r, c);
            p.setPen(Qt::black);
            p.setBrush(Qt::NoBrush);
            p.drawRect(cell);
            const BlendBands& b = L.band(r, c);
            const auto at = CWarpParamPage::BandLabelRects(cell, c == 0, c + 1 == columns, r == 0, r + 1 == rows,
                                                           metrics, b);
            const uint16_t values[4] = {b.left, b.top, b.right, b.bottom};
            for (std::size_t i = 0; i < 4; ++i)
                if (!at[i].isNull())
                    p.drawText(at[i], Qt::AlignCenter, QString::number(values[i]));
            out.push_back(at);
        }
    p.restore();
    return out;
}

void CWarpParamPage::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const WarpForm f = form();
    QFont font(QStringLiteral("Arial"));
    font.setPointSize(7);
    for (int s = 0; s < (f.screenType == 1 ? 2 : 1); ++s)
        DrawBandGrid(p, font, gridArea(s), settings_.screens[std::size_t(s)], f.rows[std::size_t(s)],
                     f.columns[std::size_t(s)]);
}

void CWarpParamPage::mouseDoubleClickEvent(QMouseEvent* e)
{
    const WarpForm f = form();
    for (int s = 0; s < (f.screenType == 1 ? 2 : 1); ++s)
        for (int r = 0; r < f.rows[std::size_t(s)]; ++r)
            for (int c = 0; c < f.columns[std::size_t(s)]; ++c)
                if (cellRect(s, r, c).contains(e->position().toPoint())) {
                    CWarpParam dialog(language_, this);
                    if (dialog.exec() != QDialog::Accepted)
                        return;
                    ScreenLayout& L = settings_.screens[std::size_t(s)];
                    // The edit works within the grid the combos show now.
                    const uint16_t rows = L.rows, columns = L.columns;
                    L.rows = uint16_t(f.rows[std::size_t(s)]);
                    L.columns = uint16_t(f.columns[std::size_t(s)]);
                    ApplyBandEdit(L, r, c, dialog.type, dialog.side, uint16_t(std::clamp(dialog.width, 0, 960)));
                    L.rows = rows;
                    L.columns = columns;
                    update();
                    return;
                }
}

}  // namespace calib
