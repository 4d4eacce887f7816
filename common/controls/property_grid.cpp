#include "common/controls/property_grid.h"

#include "platform/dialogs.h"

#include <QColorDialog>
#include <QComboBox>
#include <QEvent>
#include <QFont>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kNameColumn = 0;
constexpr int kValueColumn = 1;

QString colourText(const QColor& colour)
{
    return colour.isValid() ? colour.name(QColor::HexRgb).toUpper() : QString();
}

QIcon colourSwatch(const QColor& colour)
{
    QPixmap swatch(14, 14);
    swatch.fill(Qt::transparent);
    QPainter painter(&swatch);
    painter.setPen(Qt::black);
    painter.setBrush(colour);
    painter.drawRect(0, 0, 13, 13);
    return QIcon(swatch);
}

// The editor of colour and folder rows: the value as text and a "..." button
// that opens the picker. While the picker is open the text box loses the
// focus; that must not close the editor under the picker.
class PickerEditor : public QWidget {
public:
    explicit PickerEditor(QWidget* parent) : QWidget(parent)
    {
        auto* layout = new QHBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
        edit = new QLineEdit(this);
        edit->setFrame(false);
        button = new QToolButton(this);
        button->setText(QStringLiteral("..."));
        button->setObjectName(QStringLiteral("picker"));
        layout->addWidget(edit, 1);
        layout->addWidget(button);
        setFocusProxy(edit);
        setAutoFillBackground(true);
    }
    // A second button that sets a fixed value (a colour row's automatic
    // colour); hidden unless the row has one.
    QToolButton* addFixedButton(const QString& label)
    {
        auto* fixed = new QToolButton(this);
        fixed->setText(label);
        fixed->setObjectName(QStringLiteral("automatic"));
        static_cast<QHBoxLayout*>(layout())->insertWidget(1, fixed);
        return fixed;
    }
    QLineEdit* edit;
    QToolButton* button;
    bool picking = false;
    bool finished = false;  // committed once; a later focus loss is not a second edit
};

}  // namespace

// ---------------------------------------------------------------- items

PropertyItem::PropertyItem(PropertyGrid* grid, Kind kind, const QString& name, quintptr data,
                           const QString& description)
    : grid_(grid), kind_(kind), name_(name), description_(description.isEmpty() ? name : description), data_(data)
{
    QTreeWidgetItem::setText(kNameColumn, name);
    setToolTip(kNameColumn, description_);
    setToolTip(kValueColumn, description_);
    updateFlags();
}

void PropertyItem::updateFlags()
{
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (kind_ == Kind::Check && !readOnly_)
        flags |= Qt::ItemIsUserCheckable;
    else if (kind_ != Kind::Group && kind_ != Kind::Check && !readOnly_)
        flags |= Qt::ItemIsEditable;
    setFlags(flags);
}

PropertyItem* PropertyItem::parentItem() const
{
    return static_cast<PropertyItem*>(parent());
}

PropertyItem* PropertyItem::childAt(int index) const
{
    return static_cast<PropertyItem*>(child(index));
}

PropertyItem* PropertyItem::findByData(quintptr data) const
{
    for (int i = 0; i < childCount(); ++i) {
        PropertyItem* item = childAt(i);
        if (item->data_ == data)
            return item;
        if (PropertyItem* below = item->findByData(data))
            return below;
    }
    return nullptr;
}

QString PropertyItem::valueText() const
{
    switch (kind_) {
    case Kind::Group:
    case Kind::Check:
        return QString();
    case Kind::Number:
        return QString::number(value_.toLongLong());
    case Kind::Real:
        return decimals_ < 0 ? QString::number(value_.toDouble()) : QString::number(value_.toDouble(), 'f', decimals_);
    case Kind::Colour:
        return colourText(value_.value<QColor>());
    default:
        return value_.toString();
    }
}

QVariant PropertyItem::normalised(const QVariant& value, bool* ok) const
{
    *ok = true;
    switch (kind_) {
    case Kind::Group:
        *ok = false;
        return QVariant();
    case Kind::Text:
    case Kind::Folder:
        return value.toString();
    case Kind::Check:
        return value.toBool();
    case Kind::Number: {
        bool parsed = false;
        const qint64 number = value.typeId() == QMetaType::QString ? value.toString().trimmed().toLongLong(&parsed)
                                                                   : value.toLongLong(&parsed);
        *ok = parsed && number >= min_ && number <= max_;
        return QVariant::fromValue<qint64>(number);
    }
    case Kind::Real: {
        bool parsed = false;
        const double number = value.typeId() == QMetaType::QString ? value.toString().trimmed().toDouble(&parsed)
                                                                   : value.toDouble(&parsed);
        *ok = parsed && std::isfinite(number);
        return number;
    }
    case Kind::List: {
        const QString text = value.toString();
        *ok = freeText_ || text.isEmpty() || options_.contains(text);
        return text;
    }
    case Kind::Colour: {
        const QColor colour =
            value.typeId() == QMetaType::QString ? QColor::fromString(value.toString().trimmed()) : value.value<QColor>();
        *ok = colour.isValid();
        return colour;
    }
    }
    *ok = false;
    return QVariant();
}

void PropertyItem::setValue(const QVariant& value)
{
    bool ok = false;
    QVariant stored = normalised(value, &ok);
    if (kind_ == Kind::Group)
        return;
    // The owner's own values are taken as given, but a number is kept in its
    // range and a colour stays a colour.
    if (kind_ == Kind::Number)
        stored = QVariant::fromValue<qint64>(qBound(min_, stored.toLongLong(), max_));
    if (kind_ == Kind::Real && !ok)
        stored = 0.0;
    if (kind_ == Kind::Colour && !stored.value<QColor>().isValid())
        stored = QColor(Qt::black);
    value_ = stored;
    refresh();
    if (grid_)
        grid_->syncEditor(this);
}

bool PropertyItem::isModified() const
{
    return kind_ != Kind::Group && value_ != original_;
}

void PropertyItem::resetOriginal()
{
    original_ = value_;
    refresh();
}

void PropertyItem::setReadOnly(bool readOnly)
{
    readOnly_ = readOnly;
    if (grid_)
        ++grid_->refreshing_;
    updateFlags();
    if (grid_)
        --grid_->refreshing_;
    refresh();
}

void PropertyItem::setAutomaticColour(const QColor& colour, const QString& label)
{
    autoColour_ = colour;
    autoLabel_ = label;
}

void PropertyItem::setOptions(const QStringList& options)
{
    options_ = options;
}

int PropertyItem::currentIndex() const
{
    if (kind_ != Kind::List)
        return -1;
    return int(options_.indexOf(value_.toString()));
}

void PropertyItem::setCurrentIndex(int index)
{
    if (kind_ != Kind::List)
        return;
    // A stored number beyond the options shows nothing rather than reading
    // past the list.
    value_ = (index >= 0 && index < options_.size()) ? options_.at(index) : QString();
    refresh();
    if (grid_)
        grid_->syncEditor(this);
}

void PropertyItem::refresh()
{
    if (!grid_)
        return;
    ++grid_->refreshing_;
    // Fonts start from the grid's own, so that a font the owner gives the
    // grid reaches every row.
    const QFont base = grid_->tree_->font();
    if (kind_ == Kind::Group) {
        QFont bold = base;
        bold.setBold(true);
        setFont(kNameColumn, bold);
        setBackground(kNameColumn, grid_->palette().brush(QPalette::Button));
    } else {
        QTreeWidgetItem::setText(kValueColumn, valueText());
        if (kind_ == Kind::Check)
            setCheckState(kValueColumn, value_.toBool() ? Qt::Checked : Qt::Unchecked);
        if (kind_ == Kind::Colour)
            setIcon(kValueColumn, colourSwatch(value_.value<QColor>()));
        QFont valueFont = base;
        valueFont.setBold(grid_->markModified_ && isModified());
        setFont(kValueColumn, valueFont);
        const QPalette palette = grid_->palette();
        setForeground(kValueColumn, readOnly_ ? palette.brush(QPalette::Disabled, QPalette::Text)
                                              : palette.brush(QPalette::Active, QPalette::Text));
    }
    --grid_->refreshing_;
}

// ---------------------------------------------------------------- editors

class PropertyDelegate : public QStyledItemDelegate {
public:
    explicit PropertyDelegate(PropertyGrid* grid) : QStyledItemDelegate(grid->tree()), grid_(grid) {}

    // The grid going away: an editor still open may commit as the window
    // hides (it loses the focus); that commit goes nowhere.
    void detach() { grid_ = nullptr; }

    PropertyItem* itemAt(const QModelIndex& index) const
    {
        if (!grid_)
            return nullptr;
        return static_cast<PropertyItem*>(grid_->tree()->itemFromIndex(index));
    }

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem&, const QModelIndex& index) const override
    {
        PropertyItem* item = itemAt(index);
        if (!item || index.column() != kValueColumn || item->isReadOnly())
            return nullptr;
        switch (item->kind()) {
        case PropertyItem::Kind::Group:
        case PropertyItem::Kind::Check:
            return nullptr;
        case PropertyItem::Kind::Text: {
            auto* edit = new QLineEdit(parent);
            edit->setFrame(false);
            return edit;
        }
        case PropertyItem::Kind::Number: {
            auto* edit = new QLineEdit(parent);
            edit->setFrame(false);
            const QString pattern = item->minimum() < 0 ? QStringLiteral("-?[0-9]{0,19}") : QStringLiteral("[0-9]{0,20}");
            edit->setValidator(new QRegularExpressionValidator(QRegularExpression(pattern), edit));
            return edit;
        }
        case PropertyItem::Kind::Real: {
            auto* edit = new QLineEdit(parent);
            edit->setFrame(false);
            edit->setValidator(new QRegularExpressionValidator(
                QRegularExpression(QStringLiteral("[-+]?[0-9]{0,15}([.][0-9]{0,15})?")), edit));
            return edit;
        }
        case PropertyItem::Kind::List: {
            auto* combo = new QComboBox(parent);
            combo->addItems(item->options());
            combo->setEditable(item->allowsFreeText());
            // Choosing from the list ends the edit at once.
            auto* self = const_cast<PropertyDelegate*>(this);
            connect(combo, &QComboBox::activated, this, [self, combo] {
                if (combo->property("finished").toBool())
                    return;
                combo->setProperty("finished", true);
                emit self->commitData(combo);
                emit self->closeEditor(combo);
            });
            return combo;
        }
        case PropertyItem::Kind::Colour:
        case PropertyItem::Kind::Folder: {
            auto* editor = new PickerEditor(parent);
            QPointer<PickerEditor> guard(editor);
            auto* self = const_cast<PropertyDelegate*>(this);
            connect(editor->edit, &QLineEdit::editingFinished, this, [self, guard] {
                if (guard && !guard->picking && !guard->finished) {
                    guard->finished = true;
                    emit self->commitData(guard);
                    emit self->closeEditor(guard);
                }
            });
            const bool folder = item->kind() == PropertyItem::Kind::Folder;
            if (!folder && item->automaticColour().isValid()) {
                const QString automatic = colourText(item->automaticColour());
                QToolButton* fixed = editor->addFixedButton(item->automaticLabel());
                connect(fixed, &QToolButton::clicked, this, [self, guard, automatic] {
                    if (!guard || guard->finished)
                        return;
                    guard->edit->setText(automatic);
                    guard->finished = true;
                    emit self->commitData(guard);
                    emit self->closeEditor(guard);
                });
            }
            connect(editor->button, &QToolButton::clicked, this, [self, guard, folder] {
                if (!guard || !self->grid_)
                    return;
                guard->picking = true;
                const QString start = guard->edit->text();
                QString chosen;
                if (folder) {
                    chosen = self->grid_->pickFolder(start);
                } else {
                    const QColor colour = self->grid_->pickColour(QColor::fromString(start));
                    chosen = colour.isValid() ? colourText(colour) : QString();
                }
                if (!guard || !self->grid_)
                    return;
                guard->picking = false;
                if (chosen.isEmpty())
                    return;
                guard->edit->setText(chosen);
                guard->finished = true;
                emit self->commitData(guard);
                emit self->closeEditor(guard);
            });
            return editor;
        }
        }
        return nullptr;
    }

    void setEditorData(QWidget* editor, const QModelIndex& index) const override
    {
        PropertyItem* item = itemAt(index);
        if (!item)
            return;
        if (auto* combo = qobject_cast<QComboBox*>(editor)) {
            const int at = item->currentIndex();
            if (at >= 0)
                combo->setCurrentIndex(at);
            else if (combo->isEditable())
                combo->setEditText(item->valueText());
            else
                combo->setCurrentIndex(-1);
        } else if (auto* picker = dynamic_cast<PickerEditor*>(editor)) {
            picker->edit->setText(item->valueText());
        } else if (auto* edit = qobject_cast<QLineEdit*>(editor)) {
            edit->setText(item->valueText());
        }
    }

    void setModelData(QWidget* editor, QAbstractItemModel*, const QModelIndex& index) const override
    {
        PropertyItem* item = itemAt(index);
        if (!item)
            return;
        QString typed;
        if (auto* combo = qobject_cast<QComboBox*>(editor)) {
            if (!combo->isEditable() && combo->currentIndex() < 0)
                return;
            typed = combo->currentText();
        } else if (auto* picker = dynamic_cast<PickerEditor*>(editor)) {
            typed = picker->edit->text();
        } else if (auto* edit = qobject_cast<QLineEdit*>(editor)) {
            typed = edit->text();
        } else {
            return;
        }
        grid_->applyUserValue(item, typed);
    }

    void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option, const QModelIndex&) const override
    {
        editor->setGeometry(option.rect);
    }

private:
    PropertyGrid* grid_;
};

// ---------------------------------------------------------------- grid

PropertyGrid::PropertyGrid(QWidget* parent) : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);

    tree_ = new QTreeWidget(this);
    tree_->setObjectName(QStringLiteral("propertyTree"));
    tree_->setColumnCount(2);
    tree_->setHeaderLabels({tr("Property"), tr("Value")});
    tree_->setRootIsDecorated(true);
    // A narrow step per level, so that names fit a name column of the widths
    // the dialogs give (120 to 150 pixels).
    tree_->setIndentation(12);
    tree_->setUniformRowHeights(true);
    tree_->setAlternatingRowColors(false);
    tree_->setSelectionMode(QAbstractItemView::SingleSelection);
    tree_->setSelectionBehavior(QAbstractItemView::SelectRows);
    // Editing starts from a click on the value (as in the grids this stands
    // in for) or from F2; the handlers below decide which rows edit.
    tree_->setEditTriggers(QAbstractItemView::EditKeyPressed);
    delegate_ = new PropertyDelegate(this);
    tree_->setItemDelegate(delegate_);
    tree_->header()->setStretchLastSection(true);
    tree_->header()->setSectionResizeMode(kNameColumn, QHeaderView::Interactive);
    layout->addWidget(tree_, 1);

    descriptionPane_ = new QWidget(this);
    descriptionPane_->setObjectName(QStringLiteral("descriptionPane"));
    auto* paneLayout = new QVBoxLayout(descriptionPane_);
    paneLayout->setContentsMargins(4, 2, 4, 2);
    descriptionTitle_ = new QLabel(descriptionPane_);
    QFont bold = descriptionTitle_->font();
    bold.setBold(true);
    descriptionTitle_->setFont(bold);
    descriptionText_ = new QLabel(descriptionPane_);
    descriptionText_->setWordWrap(true);
    descriptionText_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    paneLayout->addWidget(descriptionTitle_);
    paneLayout->addWidget(descriptionText_, 1);
    descriptionPane_->setMinimumHeight(48);
    descriptionPane_->setVisible(false);
    layout->addWidget(descriptionPane_);

    connect(tree_, &QTreeWidget::currentItemChanged, this, [this] { onCurrentChanged(); });
    connect(tree_, &QTreeWidget::itemSelectionChanged, this, [this] { onCurrentChanged(); });
    connect(tree_, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int column) {
        onItemChanged(item, column);
    });
    connect(tree_, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item, int column) {
        onItemClicked(item, column);
    });
    // A double click on a group opens or closes it (the view's own rule).
    tree_->setExpandsOnDoubleClick(true);
}

PropertyGrid::~PropertyGrid()
{
    delegate_->detach();
}

PropertyItem* PropertyGrid::add(PropertyItem* parent, PropertyItem* item)
{
    if (parent)
        parent->addChild(item);
    else
        tree_->addTopLevelItem(item);
    if (item->isGroup()) {
        item->setFirstColumnSpanned(true);
        item->setExpanded(true);
    }
    item->original_ = item->value_;
    item->refresh();
    refitNameColumn();
    return item;
}

PropertyItem* PropertyGrid::addGroup(PropertyItem* parent, const QString& name, quintptr data)
{
    return add(parent, new PropertyItem(this, PropertyItem::Kind::Group, name, data, QString()));
}

PropertyItem* PropertyGrid::addText(PropertyItem* parent, const QString& name, const QString& value, quintptr data,
                                    const QString& description)
{
    auto* item = new PropertyItem(this, PropertyItem::Kind::Text, name, data, description);
    item->value_ = value;
    return add(parent, item);
}

PropertyItem* PropertyGrid::addNumber(PropertyItem* parent, const QString& name, qint64 value, qint64 minimum,
                                      qint64 maximum, quintptr data, const QString& description)
{
    auto* item = new PropertyItem(this, PropertyItem::Kind::Number, name, data, description);
    item->min_ = qMin(minimum, maximum);
    item->max_ = qMax(minimum, maximum);
    item->value_ = QVariant::fromValue<qint64>(qBound(item->min_, value, item->max_));
    return add(parent, item);
}

PropertyItem* PropertyGrid::addReal(PropertyItem* parent, const QString& name, double value, int decimals,
                                    quintptr data, const QString& description)
{
    auto* item = new PropertyItem(this, PropertyItem::Kind::Real, name, data, description);
    item->decimals_ = decimals;
    item->value_ = std::isfinite(value) ? value : 0.0;
    return add(parent, item);
}

PropertyItem* PropertyGrid::addList(PropertyItem* parent, const QString& name, const QStringList& options, int index,
                                    bool allowFreeText, quintptr data, const QString& description)
{
    auto* item = new PropertyItem(this, PropertyItem::Kind::List, name, data, description);
    item->options_ = options;
    item->freeText_ = allowFreeText;
    item->value_ = (index >= 0 && index < options.size()) ? options.at(index) : QString();
    return add(parent, item);
}

PropertyItem* PropertyGrid::addListText(PropertyItem* parent, const QString& name, const QStringList& options,
                                        const QString& value, bool allowFreeText, quintptr data,
                                        const QString& description)
{
    auto* item = new PropertyItem(this, PropertyItem::Kind::List, name, data, description);
    item->options_ = options;
    item->freeText_ = allowFreeText;
    item->value_ = value;
    return add(parent, item);
}

PropertyItem* PropertyGrid::addCheck(PropertyItem* parent, const QString& name, bool value, quintptr data,
                                     const QString& description)
{
    auto* item = new PropertyItem(this, PropertyItem::Kind::Check, name, data, description);
    item->value_ = value;
    return add(parent, item);
}

PropertyItem* PropertyGrid::addColour(PropertyItem* parent, const QString& name, const QColor& value, quintptr data,
                                      const QString& description)
{
    auto* item = new PropertyItem(this, PropertyItem::Kind::Colour, name, data, description);
    item->value_ = value.isValid() ? value : QColor(Qt::black);
    return add(parent, item);
}

PropertyItem* PropertyGrid::addFolder(PropertyItem* parent, const QString& name, const QString& value, quintptr data,
                                      const QString& description)
{
    auto* item = new PropertyItem(this, PropertyItem::Kind::Folder, name, data, description);
    item->value_ = value;
    return add(parent, item);
}

void PropertyGrid::clear()
{
    tree_->setCurrentItem(nullptr);
    tree_->clear();
    onCurrentChanged();
    refitNameColumn();
}

int PropertyGrid::topLevelCount() const
{
    return tree_->topLevelItemCount();
}

PropertyItem* PropertyGrid::topLevelAt(int index) const
{
    return static_cast<PropertyItem*>(tree_->topLevelItem(index));
}

PropertyItem* PropertyGrid::findByData(quintptr data) const
{
    for (int i = 0; i < topLevelCount(); ++i) {
        PropertyItem* item = topLevelAt(i);
        if (item->dataNumber() == data)
            return item;
        if (PropertyItem* below = item->findByData(data))
            return below;
    }
    return nullptr;
}

bool PropertyGrid::applyUserValue(PropertyItem* item, const QVariant& value)
{
    if (!item || item->grid_ != this || item->isGroup() || item->readOnly_ || notifying_ > 0)
        return false;
    bool ok = false;
    const QVariant next = item->normalised(value, &ok);
    if (!ok) {
        item->refresh();
        return false;
    }
    if (next == item->value_) {
        item->refresh();
        return true;
    }
    const QVariant old = item->value_;
    item->value_ = next;
    item->refresh();
    // A handler that shows a message box takes the focus from the editor,
    // which then commits once more: that second commit is not a new edit.
    ++notifying_;
    emit propertyChanged(item, item->data_, old, next);
    --notifying_;
    return true;
}

PropertyItem* PropertyGrid::selectedItem() const
{
    const QList<QTreeWidgetItem*> selected = tree_->selectedItems();
    return selected.isEmpty() ? nullptr : static_cast<PropertyItem*>(selected.first());
}

void PropertyGrid::setSelectedItem(PropertyItem* item)
{
    if (!item) {
        tree_->clearSelection();
        tree_->setCurrentItem(nullptr);
    } else {
        tree_->setCurrentItem(item, kValueColumn);
        item->setSelected(true);
    }
    onCurrentChanged();
}

QWidget* PropertyGrid::editItem(PropertyItem* item)
{
    if (!item || item->grid_ != this || item->isGroup() || item->readOnly_ || item->kind() == PropertyItem::Kind::Check)
        return nullptr;
    tree_->setCurrentItem(item, kValueColumn);
    tree_->editItem(item, kValueColumn);
    return tree_->indexWidget(tree_->indexFromItem(item, kValueColumn));
}

void PropertyGrid::commitOpenEditor()
{
    const QModelIndex index = tree_->currentIndex();
    QWidget* editor = tree_->indexWidget(index.siblingAtColumn(kValueColumn));
    if (!editor)
        return;
    if (auto* picker = dynamic_cast<PickerEditor*>(editor))
        picker->finished = true;
    auto* delegate = delegate_;
    emit delegate->commitData(editor);
    emit delegate->closeEditor(editor);
}

void PropertyGrid::syncEditor(PropertyItem* item)
{
    // An editor open on the row would later write back what it held before
    // the owner set the value: it shows the new value instead.
    const QModelIndex index = tree_->indexFromItem(item, kValueColumn);
    if (QWidget* editor = tree_->indexWidget(index))
        tree_->itemDelegate()->setEditorData(editor, index);
}

void PropertyGrid::setModifiedMarking(bool on)
{
    markModified_ = on;
    refreshAll();
}

void PropertyGrid::refreshAll()
{
    QTreeWidgetItemIterator it(tree_);
    for (; *it; ++it)
        static_cast<PropertyItem*>(*it)->refresh();
}

void PropertyGrid::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        QFont bold = font();
        bold.setBold(true);
        descriptionTitle_->setFont(bold);
        refreshAll();
    }
}

void PropertyGrid::resetOriginalValues()
{
    QTreeWidgetItemIterator it(tree_);
    for (; *it; ++it)
        static_cast<PropertyItem*>(*it)->resetOriginal();
}

void PropertyGrid::setDescriptionVisible(bool visible)
{
    descriptionPane_->setVisible(visible);
}

void PropertyGrid::setDescriptionRows(int rows)
{
    const QFontMetrics metrics(descriptionText_->font());
    const QMargins margins = descriptionPane_->layout()->contentsMargins();
    descriptionPane_->setFixedHeight(metrics.lineSpacing() * (qMax(rows, 0) + 1) + margins.top() + margins.bottom() +
                                     descriptionPane_->layout()->spacing());
}

bool PropertyGrid::descriptionVisible() const
{
    return !descriptionPane_->isHidden();
}

QString PropertyGrid::descriptionTitle() const
{
    return descriptionTitle_->text();
}

QString PropertyGrid::descriptionText() const
{
    return descriptionText_->text();
}

void PropertyGrid::setHeaderVisible(bool visible)
{
    tree_->setHeaderHidden(!visible);
}

void PropertyGrid::setHeaderLabels(const QString& name, const QString& value)
{
    tree_->setHeaderLabels({name, value});
}

void PropertyGrid::setNameColumnWidth(int width)
{
    tree_->setColumnWidth(kNameColumn, width);
}

int PropertyGrid::nameColumnWidth() const
{
    return tree_->columnWidth(kNameColumn);
}

int PropertyGrid::widestLabelWidth() const
{
    // A label starts one indentation step in per level, the first for the
    // branch sign; the delegate's margins and the focus frame take the rest.
    constexpr int kTextMargins = 12;
    int widest = 0;
    const auto visit = [&](auto&& self, QTreeWidgetItem* item, int depth) -> void {
        const QVariant font = item->data(kNameColumn, Qt::FontRole);
        const QFontMetrics metrics(font.isValid() ? font.value<QFont>() : tree_->font());
        const int steps = depth + (tree_->rootIsDecorated() ? 1 : 0);
        widest = std::max(widest, steps * tree_->indentation() + metrics.horizontalAdvance(item->text(kNameColumn)) +
                                      kTextMargins);
        for (int i = 0; i < item->childCount(); ++i)
            self(self, item->child(i), depth + 1);
    };
    for (int i = 0; i < tree_->topLevelItemCount(); ++i)
        visit(visit, tree_->topLevelItem(i), 0);
    return widest;
}

void PropertyGrid::fitNameColumnToLabels(int usualWidth, int valueRoom)
{
    fitUsualWidth_ = usualWidth;
    fitValueRoom_ = valueRoom;
    refitNameColumn();
}

void PropertyGrid::refitNameColumn()
{
    if (fitUsualWidth_ < 0)
        return;
    const int nameWidth = std::max(fitUsualWidth_, widestLabelWidth());
    setNameColumnWidth(nameWidth);
    tree_->setMinimumWidth(nameWidth + fitValueRoom_ + tree_->frameWidth() * 2 +
                           tree_->style()->pixelMetric(QStyle::PM_ScrollBarExtent));
}

void PropertyGrid::onCurrentChanged()
{
    PropertyItem* item = selectedItem();
    descriptionTitle_->setText(item ? item->name() : QString());
    descriptionText_->setText(item && !item->isGroup() ? item->description() : QString());
}

void PropertyGrid::onItemChanged(QTreeWidgetItem* changed, int column)
{
    if (refreshing_ > 0 || column != kValueColumn)
        return;
    auto* item = static_cast<PropertyItem*>(changed);
    if (item->kind() != PropertyItem::Kind::Check)
        return;
    // The view flipped the box; the row's value decides what is shown.
    const bool wanted = item->checkState(kValueColumn) == Qt::Checked;
    item->refresh();
    applyUserValue(item, wanted);
}

void PropertyGrid::onItemClicked(QTreeWidgetItem* clicked, int column)
{
    auto* item = static_cast<PropertyItem*>(clicked);
    if (column == kValueColumn)
        editItem(item);
}

QString PropertyGrid::pickFolder(const QString& start)
{
    platform::FileDialogCall call;
    call.kind = platform::FileDialogKind::Folder;
    call.caption = folderCaption_;
    call.folder = start;
    return platform::fileDialog(call, this);
}

QColor PropertyGrid::pickColour(const QColor& start)
{
    const QColor from = start.isValid() ? start : QColor(Qt::black);
    if (colourPicker_)
        return colourPicker_(from);
    return QColorDialog::getColor(from, this);
}
