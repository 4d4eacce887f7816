#pragma once
// PropertyGrid: a two-column list of named, typed values in groups, edited in
// place: the shared editor of settings documents (serial protocol, play
// modes, on-screen text, wizard pages, lidar).
//
// Rows are PropertyItem objects owned by the grid. A row is a group (which
// holds rows and further groups) or a value of one kind:
//
//   kind     value (QVariant)   editor
//   Text     QString            line edit
//   Number   qint64             line edit taking digits (and a minus when the
//                               range allows); out of range or not a number
//                               is refused and the old value stays
//   Real     double             line edit taking a decimal number, shown
//                               with the row's number of decimals
//   List     QString            drop-down of options; with free text the
//                               user may also type a text not in the list
//   Check    bool               check box
//   Colour   QColor             "#RRGGBB" text, a "..." colour picker and,
//                               when the row has one, a button that sets its
//                               automatic (default) colour
//   Folder   QString            path text and a "..." folder picker
//                               (through platform::fileDialog)
//
// Every row carries a data number of its owner's choosing (the number by
// which a change handler knows the row) and a description shown in the
// description pane (the name when none is given).
//
// Values change in two ways:
//  - the user edits a row: every editor ends in applyUserValue, which checks
//    the value against the row's kind and, when it differs from the current
//    one, stores it and emits propertyChanged(item, data, old, new). A
//    handler may refuse or rewrite the value by calling setValue on the item
//    (setting a value back) before it returns.
//  - the owner calls PropertyItem::setValue: stored and shown, no signal.
//
// With modified marking on, a row whose value differs from its original
// value (the value it was created with, or the one resetOriginal stored)
// shows the value in bold.
//
// A list row's option index: currentIndex() is the position of the value in
// the options, or -1 when the value is not one of them; setCurrentIndex with
// a position outside the options shows nothing (empty value) and never reads
// past the list.
//
// In use:
//   auto* grid = new PropertyGrid(this);
//   grid->setObjectName("2602");
//   PropertyItem* serial = grid->addGroup(nullptr, tr("Serial Configuration"), 0);
//   grid->addListText(serial, "BaudRate", {"9600", "19200"}, "9600", false, 1);
//   grid->addText(serial, "Play", record.play, 2);
//   connect(grid, &PropertyGrid::propertyChanged, this,
//           [this](PropertyItem* item, quintptr data, const QVariant& old, const QVariant& now) {
//               if (!store(data, now))
//                   item->setValue(old);  // refused: the row shows the old value again
//           });
// The grid rebuilds by clear() and adding again; row pointers die with it.

#include <QColor>
#include <QString>
#include <QStringList>
#include <QTreeWidget>
#include <QTreeWidgetItem>
#include <QVariant>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <limits>

class QLabel;
class PropertyDelegate;
class PropertyGrid;

class PropertyItem : public QTreeWidgetItem {
public:
    enum class Kind { Group, Text, Number, Real, List, Check, Colour, Folder };

    Kind kind() const { return kind_; }
    bool isGroup() const { return kind_ == Kind::Group; }
    PropertyGrid* grid() const { return grid_; }

    QString name() const { return name_; }
    QString description() const { return description_; }
    quintptr dataNumber() const { return data_; }
    void setDataNumber(quintptr data) { data_ = data; }

    // The group that holds this row (null at the top level).
    PropertyItem* parentItem() const;
    int childCount() const { return QTreeWidgetItem::childCount(); }
    PropertyItem* childAt(int index) const;
    // The first row below this one (depth first) with that data number.
    PropertyItem* findByData(quintptr data) const;

    QVariant value() const { return value_; }
    QString valueText() const;  // the value as shown (empty for a check box)
    // Stores and shows `value` (converted to the row's kind), also in an
    // editor open on the row; no signal.
    void setValue(const QVariant& value);

    QVariant originalValue() const { return original_; }
    bool isModified() const;
    // Makes the current value the original one (clears the marking).
    void resetOriginal();

    bool isReadOnly() const { return readOnly_; }
    void setReadOnly(bool readOnly);

    // Lists.
    QStringList options() const { return options_; }
    void setOptions(const QStringList& options);
    bool allowsFreeText() const { return freeText_; }
    int currentIndex() const;
    void setCurrentIndex(int index);

    // Numbers.
    qint64 minimum() const { return min_; }
    qint64 maximum() const { return max_; }
    // Real numbers: decimals shown (-1: as few as the value needs).
    int decimals() const { return decimals_; }

    // Colours: the colour the editor's automatic button sets, and its label
    // (no button while the colour is not valid).
    void setAutomaticColour(const QColor& colour, const QString& label);
    QColor automaticColour() const { return autoColour_; }
    QString automaticLabel() const { return autoLabel_; }

private:
    friend class PropertyGrid;
    PropertyItem(PropertyGrid* grid, Kind kind, const QString& name, quintptr data, const QString& description);
    QVariant normalised(const QVariant& value, bool* ok) const;
    void updateFlags();
    void refresh();

    PropertyGrid* grid_;
    Kind kind_;
    QString name_;
    QString description_;
    quintptr data_;
    QVariant value_;
    QVariant original_;
    bool readOnly_ = false;
    QStringList options_;
    bool freeText_ = false;
    qint64 min_ = std::numeric_limits<qint64>::min();
    qint64 max_ = std::numeric_limits<qint64>::max();
    int decimals_ = -1;
    QColor autoColour_;
    QString autoLabel_;
};

class PropertyGrid : public QWidget {
    Q_OBJECT
public:
    explicit PropertyGrid(QWidget* parent = nullptr);
    ~PropertyGrid() override;

    // Adding rows. `parent` is a group, or null for the top level. An empty
    // description means the name. Groups start expanded.
    PropertyItem* addGroup(PropertyItem* parent, const QString& name, quintptr data = 0);
    PropertyItem* addText(PropertyItem* parent, const QString& name, const QString& value, quintptr data = 0,
                          const QString& description = QString());
    PropertyItem* addNumber(PropertyItem* parent, const QString& name, qint64 value, qint64 minimum, qint64 maximum,
                            quintptr data = 0, const QString& description = QString());
    // A decimal number; any finite number is taken (range checks belong to
    // the change handler, which may set the old value back).
    PropertyItem* addReal(PropertyItem* parent, const QString& name, double value, int decimals, quintptr data = 0,
                          const QString& description = QString());
    // A drop-down: the value is the option at `index` (empty when `index`
    // lies outside the options).
    PropertyItem* addList(PropertyItem* parent, const QString& name, const QStringList& options, int index,
                          bool allowFreeText, quintptr data = 0, const QString& description = QString());
    // A drop-down whose value is a text (which need not be an option when
    // free text is allowed).
    PropertyItem* addListText(PropertyItem* parent, const QString& name, const QStringList& options,
                              const QString& value, bool allowFreeText, quintptr data = 0,
                              const QString& description = QString());
    PropertyItem* addCheck(PropertyItem* parent, const QString& name, bool value, quintptr data = 0,
                           const QString& description = QString());
    PropertyItem* addColour(PropertyItem* parent, const QString& name, const QColor& value, quintptr data = 0,
                            const QString& description = QString());
    PropertyItem* addFolder(PropertyItem* parent, const QString& name, const QString& value, quintptr data = 0,
                            const QString& description = QString());

    // Removes every row.
    void clear();
    int topLevelCount() const;
    PropertyItem* topLevelAt(int index) const;
    // The first row anywhere (depth first) with that data number.
    PropertyItem* findByData(quintptr data) const;

    // The user's way in: what every editor calls. Refused (false, nothing
    // changes) for groups, read-only rows and values the kind does not take
    // (a number out of range, a list text not among the options without
    // free text, a colour that is not valid), and while a change handler
    // runs (its own setValue has the last word). A value equal to the
    // current one is accepted without a signal.
    bool applyUserValue(PropertyItem* item, const QVariant& value);

    PropertyItem* selectedItem() const;
    // Selects a row (null clears the selection).
    void setSelectedItem(PropertyItem* item);
    void clearSelection() { setSelectedItem(nullptr); }

    // Opens the in-place editor of a value row (no-op for groups, check
    // boxes and read-only rows); returns the editor widget or null.
    QWidget* editItem(PropertyItem* item);
    // Closes an open editor, keeping what it holds (as a click elsewhere).
    void commitOpenEditor();

    void setModifiedMarking(bool on);
    bool modifiedMarking() const { return markModified_; }
    void resetOriginalValues();

    void setDescriptionVisible(bool visible);
    bool descriptionVisible() const;
    // Height of the pane: the name line and `rows` lines of description.
    void setDescriptionRows(int rows);
    // The texts the description pane shows now (selected row's name and
    // description; empty without a selection).
    QString descriptionTitle() const;
    QString descriptionText() const;

    void setHeaderVisible(bool visible);
    void setHeaderLabels(const QString& name, const QString& value);
    void setNameColumnWidth(int width);
    int nameColumnWidth() const;
    // Every label whole, in any language: from now on the name column is
    // `usualWidth` or, when the longest label (its indentation included)
    // needs more, that much; the tree stays wide enough to keep `valueRoom`
    // beside it (a vertical scroll bar included). Refitted as rows come and go.
    void fitNameColumnToLabels(int usualWidth, int valueRoom);
    // The name column width the longest label needs now.
    int widestLabelWidth() const;

    // Texts of the pickers' dialogs.
    void setFolderPickerCaption(const QString& caption) { folderCaption_ = caption; }
    // Replaces the colour dialog behind "..." (tests, or a palette of the
    // owner's); it returns an invalid colour when the user cancelled.
    using ColourPicker = std::function<QColor(const QColor& start)>;
    void setColourPicker(ColourPicker picker) { colourPicker_ = std::move(picker); }

    QTreeWidget* tree() const { return tree_; }

signals:
    void propertyChanged(PropertyItem* item, quintptr data, const QVariant& oldValue, const QVariant& newValue);

protected:
    void changeEvent(QEvent* event) override;

private:
    friend class PropertyItem;
    friend class PropertyDelegate;
    void refreshAll();
    PropertyItem* add(PropertyItem* parent, PropertyItem* item);
    void syncEditor(PropertyItem* item);
    void onCurrentChanged();
    void onItemChanged(QTreeWidgetItem* item, int column);
    void onItemClicked(QTreeWidgetItem* item, int column);
    QString pickFolder(const QString& start);
    QColor pickColour(const QColor& start);

    QTreeWidget* tree_;
    PropertyDelegate* delegate_;
    QWidget* descriptionPane_;
    QLabel* descriptionTitle_;
    QLabel* descriptionText_;
    void refitNameColumn();

    bool markModified_ = false;
    int fitUsualWidth_ = -1;  // < 0: the name column keeps the width it is given
    int fitValueRoom_ = 0;
    int refreshing_ = 0;  // > 0 while the grid itself sets check states
    int notifying_ = 0;   // > 0 while a change handler runs
    QString folderCaption_;
    ColourPicker colourPicker_;
};
