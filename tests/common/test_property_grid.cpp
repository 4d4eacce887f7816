// The property grid: what each kind of row takes from the user, the change
// signal and setting a value back, list indexes beyond the options, groups,
// read-only rows, modified marking, the description pane and the pickers.
#include "common/controls/property_grid.h"
#include "platform/dialogs.h"
#include "tests/support/test_support.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <vector>

namespace {

using namespace Qt::StringLiterals;
using Kind = PropertyItem::Kind;

struct Change {
    quintptr data;
    QVariant oldValue, newValue;
};

// A grid with one row of each kind in a group, a nested group and a
// recorder of change signals.
struct GridFixture {
    PropertyGrid grid;
    std::vector<Change> changes;
    PropertyItem *group, *nested, *text, *number, *real, *list, *freeList, *check, *colour, *folder;

    GridFixture()
    {
        grid.resize(420, 360);
        group = grid.addGroup(nullptr, u"Settings"_s, 100);
        text = grid.addText(group, u"Name"_s, u"first"_s, 1, u"The name"_s);
        number = grid.addNumber(group, u"Port"_s, 8192, 0, 65535, 2);
        real = grid.addReal(group, u"Left"_s, 0.5, 4, 8);
        list = grid.addList(group, u"Mode"_s, {u"Off"_s, u"On"_s}, 0, false, 3);
        freeList = grid.addListText(group, u"Baud"_s, {u"9600"_s, u"19200"_s}, u"9600"_s, true, 4);
        nested = grid.addGroup(group, u"More"_s, 101);
        check = grid.addCheck(nested, u"Enabled"_s, false, 5);
        colour = grid.addColour(nested, u"Colour"_s, QColor(255, 0, 0), 6);
        folder = grid.addFolder(nested, u"Folder"_s, u"/tmp"_s, 7);
        QObject::connect(&grid, &PropertyGrid::propertyChanged, &grid,
                         [this](PropertyItem*, quintptr data, const QVariant& o, const QVariant& n) {
                             changes.push_back({data, o, n});
                         });
        // Not shown: editors work on a hidden grid, and nothing is painted,
        // so Qt's own painting threads (which the thread checker cannot
        // follow) stay out of the tests that do not look at pixels.
    }
};

TEST(PropertyGrid, UserValuesByKind)
{
    GridFixture f;
    const struct { const char* name; PropertyItem* GridFixture::*row; QVariant input; bool accepted; QString shown; bool signalled; } cases[] = {
        {"text", &GridFixture::text, u"second"_s, true, u"second"_s, true},
        {"same text: no signal", &GridFixture::text, u"second"_s, true, u"second"_s, false},
        {"number as text", &GridFixture::number, u" 5005 "_s, true, u"5005"_s, true},
        {"number above range", &GridFixture::number, u"65536"_s, false, u"5005"_s, false},
        {"number below range", &GridFixture::number, u"-1"_s, false, u"5005"_s, false},
        {"number not a number", &GridFixture::number, u"12a"_s, false, u"5005"_s, false},
        {"number empty", &GridFixture::number, u""_s, false, u"5005"_s, false},
        {"real", &GridFixture::real, u" 0.25 "_s, true, u"0.2500"_s, true},
        {"real out of the unit range: the handler's to judge", &GridFixture::real, u"-3"_s, true, u"-3.0000"_s, true},
        {"real not a number", &GridFixture::real, u"0,5"_s, false, u"-3.0000"_s, false},
        {"real overflowing", &GridFixture::real, u"1e999"_s, false, u"-3.0000"_s, false},
        {"list option", &GridFixture::list, u"On"_s, true, u"On"_s, true},
        {"list text not an option", &GridFixture::list, u"Maybe"_s, false, u"On"_s, false},
        {"free list option", &GridFixture::freeList, u"19200"_s, true, u"19200"_s, true},
        {"free list own text", &GridFixture::freeList, u"115200"_s, true, u"115200"_s, true},
        {"check", &GridFixture::check, true, true, u""_s, true},
        {"colour text", &GridFixture::colour, u"#00ff00"_s, true, u"#00FF00"_s, true},
        {"colour not a colour", &GridFixture::colour, u"green-ish"_s, false, u"#00FF00"_s, false},
        {"folder", &GridFixture::folder, u"/srv/videos"_s, true, u"/srv/videos"_s, true},
        {"group takes nothing", &GridFixture::group, u"x"_s, false, u""_s, false},
    };
    for (const auto& c : cases) {
        f.changes.clear();
        PropertyItem* row = f.*(c.row);
        const QVariant before = row->value();
        EXPECT_EQ(f.grid.applyUserValue(row, c.input), c.accepted) << c.name;
        EXPECT_EQ(row->valueText(), c.shown) << c.name;
        EXPECT_EQ(row->text(1), c.shown) << c.name;
        ASSERT_EQ(f.changes.size(), c.signalled ? 1u : 0u) << c.name;
        if (c.signalled) {
            EXPECT_EQ(f.changes[0].data, row->dataNumber()) << c.name;
            EXPECT_EQ(f.changes[0].oldValue, before) << c.name;
            EXPECT_EQ(f.changes[0].newValue, row->value()) << c.name;
        }
    }
    EXPECT_EQ(f.number->value().toLongLong(), 5005);
    EXPECT_TRUE(f.check->value().toBool());
    EXPECT_EQ(f.check->checkState(1), Qt::Checked);
}

TEST(PropertyGrid, ListIndexBeyondOptionsShowsNothing)
{
    PropertyGrid grid;
    const QStringList options{u"Single Loop"_s, u"Folder Loop"_s};
    const struct { int index; QString shown; int readBack; } cases[] = {
        {0, u"Single Loop"_s, 0}, {1, u"Folder Loop"_s, 1}, {2, u""_s, -1}, {1000000, u""_s, -1}, {-1, u""_s, -1},
    };
    for (const auto& c : cases) {
        PropertyItem* created = grid.addList(nullptr, u"Mode"_s, options, c.index, false);
        EXPECT_EQ(created->valueText(), c.shown) << c.index;
        EXPECT_EQ(created->currentIndex(), c.readBack) << c.index;
        PropertyItem* set = grid.addList(nullptr, u"Mode"_s, options, 1, false);
        set->setCurrentIndex(c.index);
        EXPECT_EQ(set->valueText(), c.shown) << c.index;
        EXPECT_EQ(set->currentIndex(), c.readBack) << c.index;
    }
    // The drop-down of such a row opens with nothing chosen and, closed
    // without a choice, leaves the row empty and quiet.
    int signals_ = 0;
    QObject::connect(&grid, &PropertyGrid::propertyChanged, &grid, [&] { ++signals_; });
    PropertyItem* beyond = grid.addList(nullptr, u"Mode"_s, options, 5, false);
    auto* combo = qobject_cast<QComboBox*>(grid.editItem(beyond));
    ASSERT_NE(combo, nullptr);
    EXPECT_EQ(combo->currentIndex(), -1);
    grid.commitOpenEditor();
    EXPECT_EQ(beyond->valueText(), u""_s);
    EXPECT_EQ(signals_, 0);
}

TEST(PropertyGrid, EditorsCommitAndHandlerSetsValueBack)
{
    GridFixture f;
    // A handler that refuses lower-case text by setting the old value back.
    QObject::connect(&f.grid, &PropertyGrid::propertyChanged, &f.grid,
                     [](PropertyItem* item, quintptr data, const QVariant& o, const QVariant& n) {
                         if (data == 1 && n.toString() != n.toString().toUpper())
                             item->setValue(o);
                     });
    auto typeInto = [&](PropertyItem* row, const QString& typed) {
        QWidget* editor = f.grid.editItem(row);
        auto* edit = editor ? editor->findChild<QLineEdit*>() : nullptr;
        if (!edit)
            edit = qobject_cast<QLineEdit*>(editor);
        ASSERT_NE(edit, nullptr) << row->name().toStdString();
        edit->selectAll();
        QTest::keyClicks(edit, typed);
        QTest::keyClick(edit, Qt::Key_Return);
        QApplication::processEvents();
    };
    const struct { const char* name; PropertyItem* GridFixture::*row; QString typed; QString shown; size_t signals_; } cases[] = {
        {"upper-case text kept", &GridFixture::text, u"ABC"_s, u"ABC"_s, 1},
        {"lower-case text set back", &GridFixture::text, u"abc"_s, u"ABC"_s, 1},
        {"number typed", &GridFixture::number, u"1025"_s, u"1025"_s, 1},
        {"letters never reach a number", &GridFixture::number, u"x7"_s, u"7"_s, 1},
        {"free text in a free list", &GridFixture::freeList, u"38400"_s, u"38400"_s, 1},
        {"folder typed", &GridFixture::folder, u"/var/x"_s, u"/var/x"_s, 1},
    };
    for (const auto& c : cases) {
        f.changes.clear();
        PropertyItem* row = f.*(c.row);
        typeInto(row, c.typed);
        EXPECT_EQ(row->valueText(), c.shown) << c.name;
        EXPECT_EQ(row->text(1), c.shown) << c.name;
        EXPECT_EQ(f.changes.size(), c.signals_) << c.name;
    }

    // A drop-down without free text commits on the choice itself.
    f.changes.clear();
    auto* combo = qobject_cast<QComboBox*>(f.grid.editItem(f.list));
    ASSERT_NE(combo, nullptr);
    EXPECT_FALSE(combo->isEditable());
    combo->setCurrentIndex(1);
    emit combo->activated(1);
    QApplication::processEvents();
    EXPECT_EQ(f.list->valueText(), u"On"_s);
    ASSERT_EQ(f.changes.size(), 1u);
    EXPECT_EQ(f.changes[0].data, 3u);
    EXPECT_EQ(f.changes[0].oldValue.toString(), u"Off"_s);
}

TEST(PropertyGrid, OwnerValuesReachOpenEditorsAndHandlersHaveTheLastWord)
{
    GridFixture f;
    // The owner sets a row whose editor is open: closing the editor later
    // does not write the old text back.
    auto* edit = qobject_cast<QLineEdit*>(f.grid.editItem(f.text));
    ASSERT_NE(edit, nullptr);
    f.text->setValue(u"from the owner"_s);
    EXPECT_EQ(edit->text(), u"from the owner"_s);
    f.grid.commitOpenEditor();
    EXPECT_EQ(f.text->valueText(), u"from the owner"_s);
    EXPECT_TRUE(f.changes.empty());

    // A user value arriving while a handler runs (an editor committing again
    // as a message box takes its focus) is not a second edit.
    bool nestedAccepted = true;
    QObject::connect(&f.grid, &PropertyGrid::propertyChanged, &f.grid, [&](PropertyItem* item) {
        nestedAccepted = f.grid.applyUserValue(item, u"nested"_s);
    });
    EXPECT_TRUE(f.grid.applyUserValue(f.text, u"typed"_s));
    EXPECT_FALSE(nestedAccepted);
    EXPECT_EQ(f.changes.size(), 1u);
    EXPECT_EQ(f.text->valueText(), u"typed"_s);
}

TEST(PropertyGrid, HandlerMayRebuildTheGrid)
{
    // A handler that rebuilds the grid deletes the row being edited: nothing
    // may touch it afterwards (the address-checked build watches this).
    for (PropertyItem* GridFixture::*row : {&GridFixture::text, &GridFixture::folder, &GridFixture::check}) {
        GridFixture f;
        QObject::connect(&f.grid, &PropertyGrid::propertyChanged, &f.grid, [&] {
            f.grid.clear();
            f.grid.addText(nullptr, u"Rebuilt"_s, u"x"_s, 9);
        });
        PropertyItem* item = f.*row;
        if (item->kind() == Kind::Check) {
            item->setCheckState(1, Qt::Checked);
        } else {
            QWidget* editor = f.grid.editItem(item);
            auto* edit = editor ? editor->findChild<QLineEdit*>() : nullptr;
            if (!edit)
                edit = qobject_cast<QLineEdit*>(editor);
            ASSERT_NE(edit, nullptr);
            edit->setText(u"new"_s);
            QTest::keyClick(edit, Qt::Key_Return);
        }
        QApplication::processEvents();
        ASSERT_EQ(f.grid.topLevelCount(), 1);
        EXPECT_EQ(f.grid.topLevelAt(0)->name(), u"Rebuilt"_s);
    }
}

TEST(PropertyGrid, CheckBoxesReadOnlyRowsAndGroups)
{
    GridFixture f;
    // The user flips the box: the row's value follows and the signal goes.
    f.check->setCheckState(1, Qt::Checked);
    EXPECT_TRUE(f.check->value().toBool());
    ASSERT_EQ(f.changes.size(), 1u);
    EXPECT_EQ(f.changes[0].data, 5u);

    // A read-only row: no editor, no user value, the box stays as it is.
    f.changes.clear();
    for (PropertyItem* row : {f.text, f.check, f.number}) {
        row->setReadOnly(true);
        EXPECT_EQ(f.grid.editItem(row), nullptr) << row->name().toStdString();
        EXPECT_FALSE(f.grid.applyUserValue(row, u"1"_s)) << row->name().toStdString();
    }
    f.check->setCheckState(1, Qt::Unchecked);
    EXPECT_TRUE(f.check->value().toBool());
    EXPECT_EQ(f.check->checkState(1), Qt::Checked);
    EXPECT_TRUE(f.changes.empty());
    // The owner still sets values of read-only rows; numbers stay in range.
    f.number->setValue(70000);
    EXPECT_EQ(f.number->valueText(), u"65535"_s);

    // Groups nest, find rows by data number and start expanded.
    EXPECT_EQ(f.grid.topLevelCount(), 1);
    EXPECT_EQ(f.grid.findByData(6), f.colour);
    EXPECT_EQ(f.group->findByData(101), f.nested);
    EXPECT_EQ(f.colour->parentItem(), f.nested);
    EXPECT_EQ(f.nested->parentItem(), f.group);
    EXPECT_EQ(f.group->parentItem(), nullptr);
    EXPECT_EQ(f.nested->childAt(2), f.folder);
    EXPECT_TRUE(f.nested->isExpanded());
    EXPECT_EQ(f.grid.findByData(999), nullptr);
    f.grid.clear();
    EXPECT_EQ(f.grid.topLevelCount(), 0);
    EXPECT_EQ(f.grid.selectedItem(), nullptr);
}

TEST(PropertyGrid, ModifiedMarkingAndDescription)
{
    GridFixture f;
    f.grid.setModifiedMarking(true);
    EXPECT_FALSE(f.text->isModified());
    f.grid.applyUserValue(f.text, u"changed"_s);
    EXPECT_TRUE(f.text->isModified());
    EXPECT_TRUE(f.text->font(1).bold());
    f.grid.applyUserValue(f.text, u"first"_s);  // back to the original
    EXPECT_FALSE(f.text->font(1).bold());
    f.text->setValue(u"again"_s);
    EXPECT_TRUE(f.text->font(1).bold());
    f.grid.resetOriginalValues();
    EXPECT_FALSE(f.text->isModified());
    EXPECT_FALSE(f.text->font(1).bold());
    f.grid.setModifiedMarking(false);
    f.text->setValue(u"later"_s);
    EXPECT_TRUE(f.text->isModified());
    EXPECT_FALSE(f.text->font(1).bold());

    // The pane shows the selected row's name and description (the name when
    // none was given); nothing without a selection.
    f.grid.setDescriptionVisible(true);
    EXPECT_TRUE(f.grid.descriptionVisible());
    const struct { PropertyItem* GridFixture::*row; QString title, text; } cases[] = {
        {&GridFixture::text, u"Name"_s, u"The name"_s},
        {&GridFixture::number, u"Port"_s, u"Port"_s},
        {&GridFixture::group, u"Settings"_s, u""_s},
    };
    for (const auto& c : cases) {
        f.grid.setSelectedItem(f.*(c.row));
        EXPECT_EQ(f.grid.selectedItem(), f.*(c.row));
        EXPECT_EQ(f.grid.descriptionTitle(), c.title);
        EXPECT_EQ(f.grid.descriptionText(), c.text);
    }
    f.grid.clearSelection();
    EXPECT_EQ(f.grid.selectedItem(), nullptr);
    EXPECT_EQ(f.grid.descriptionTitle(), u""_s);
}

TEST(PropertyGrid, ColourPickerAndAutomaticColour)
{
    GridFixture f;
    QColor picked(0, 0, 255);
    QColor started;
    f.grid.setColourPicker([&](const QColor& start) {
        started = start;
        return picked;
    });
    f.colour->setAutomaticColour(QColor(0xFF, 0xFF, 0), u"default"_s);
    const struct { const char* name; const char* button; QColor answer; QString shown; std::size_t signals_; } cases[] = {
        {"picked", "picker", QColor(0, 0, 255), u"#0000FF"_s, 1},
        {"picker cancelled", "picker", QColor(), u"#0000FF"_s, 0},
        {"automatic", "automatic", QColor(), u"#FFFF00"_s, 1},
    };
    for (const auto& c : cases) {
        f.changes.clear();
        picked = c.answer;
        QWidget* editor = f.grid.editItem(f.colour);
        ASSERT_NE(editor, nullptr) << c.name;
        auto* button = editor->findChild<QToolButton*>(QString::fromLatin1(c.button));
        ASSERT_NE(button, nullptr) << c.name;
        button->click();
        QApplication::processEvents();
        EXPECT_EQ(f.colour->valueText(), c.shown) << c.name;
        EXPECT_EQ(f.changes.size(), c.signals_) << c.name;
        f.grid.commitOpenEditor();
    }
    EXPECT_EQ(started, QColor(0, 0, 255));
    // A row without an automatic colour has no such button.
    f.colour->setAutomaticColour(QColor(), QString());
    EXPECT_EQ(f.grid.editItem(f.colour)->findChild<QToolButton*>(u"automatic"_s), nullptr);
}

TEST(PropertyGrid, GridFontReachesEveryRow)
{
    GridFixture f;
    f.grid.setModifiedMarking(true);
    f.grid.applyUserValue(f.text, u"changed"_s);
    QFont big = f.grid.font();
    big.setPointSize(big.pointSize() + 6);
    f.grid.setFont(big);
    EXPECT_EQ(f.group->font(0).pointSize(), big.pointSize());
    EXPECT_TRUE(f.group->font(0).bold());
    EXPECT_EQ(f.text->font(1).pointSize(), big.pointSize());
    EXPECT_TRUE(f.text->font(1).bold());
    EXPECT_EQ(f.number->font(1).pointSize(), big.pointSize());
    EXPECT_FALSE(f.number->font(1).bold());
    f.grid.setDescriptionVisible(true);
    f.grid.setDescriptionRows(1);
    const int one = f.grid.findChild<QWidget*>(u"descriptionPane"_s)->height();
    f.grid.setDescriptionRows(3);
    EXPECT_GT(f.grid.findChild<QWidget*>(u"descriptionPane"_s)->height(), one);
}

TEST(PropertyGrid, FolderPicker)
{
    GridFixture f;
    f.grid.setFolderPickerCaption(u"Choose a folder"_s);
    std::vector<platform::FileDialogCall> asked;
    QString answer = u"/srv/chosen"_s;
    platform::setFileDialogAnswerer([&](const platform::FileDialogCall& call) {
        asked.push_back(call);
        return answer;
    });
    for (const QString& given : {u"/srv/chosen"_s, QString()}) {
        answer = given;
        f.changes.clear();
        QWidget* editor = f.grid.editItem(f.folder);
        ASSERT_NE(editor, nullptr);
        auto* button = editor->findChild<QToolButton*>(u"picker"_s);
        ASSERT_NE(button, nullptr);
        button->click();
        QApplication::processEvents();
        EXPECT_EQ(f.folder->valueText(), u"/srv/chosen"_s);  // a cancelled pick keeps the value
        EXPECT_EQ(f.changes.size(), given.isEmpty() ? 0u : 1u);
        f.grid.commitOpenEditor();
    }
    platform::setFileDialogAnswerer({});
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[0].kind, platform::FileDialogKind::Folder);
    EXPECT_EQ(asked[0].caption, u"Choose a folder"_s);
    EXPECT_EQ(asked[0].folder, u"/tmp"_s);
}

// Shown on the (offscreen) screen and painted: Qt paints large areas on
// threads of its own, which the thread checker cannot follow (Qt is not
// built for it); this runs in the other builds.
TEST(PropertyGrid, ClicksAndScreenshot)
{
    if (testsupport::kUnderThreadChecker)
        GTEST_SKIP() << "Qt paints on threads the thread checker cannot follow";
    GridFixture f;
    f.grid.show();
    // A click on a value opens its editor; a click on a name only selects.
    QTreeWidget* tree = f.grid.tree();
    const QModelIndex portValue = tree->indexFromItem(f.number, 1);
    const QModelIndex portName = tree->indexFromItem(f.number, 0);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualRect(portName).center());
    EXPECT_EQ(f.grid.selectedItem(), f.number);
    EXPECT_EQ(tree->indexWidget(portValue), nullptr);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualRect(portValue).center());
    EXPECT_NE(tree->indexWidget(portValue), nullptr);
    f.grid.commitOpenEditor();

    f.grid.setDescriptionVisible(true);
    f.grid.setNameColumnWidth(150);
    EXPECT_EQ(f.grid.nameColumnWidth(), 150);
    f.grid.setSelectedItem(f.text);
    f.grid.setModifiedMarking(true);
    f.grid.applyUserValue(f.number, 5005);
    const QString folder = testsupport::binDir() + u"/../screenshots"_s;
    QDir().mkpath(folder);
    EXPECT_TRUE(f.grid.grab().save(folder + u"/property_grid.png"_s));
}

}  // namespace

namespace {

// A grid fitted to its labels shows each whole, at any depth, and keeps its
// usual width for short ones; unfitted, the same long label is cut.
TEST(PropertyGrid, NameColumnFitsItsLabels)
{
    if (testsupport::kUnderThreadChecker)
        GTEST_SKIP() << "shown: Qt paints on threads the thread checker cannot follow";
    const QString longEnglish = u"Bottom right abscissa of screen"_s;
    const struct {
        const char* what;
        QString label;
        bool grouped;
        bool fitted;
        bool widened;  // the column grows past its usual 120
    } rows[] = {
        {"short, usual width kept", u"Port"_s, false, true, false},
        {"long at the top level", longEnglish, false, true, true},
        {"long one level in", longEnglish, true, true, true},
        {"Chinese", u"屏幕右下角横坐标屏幕右下角纵坐标"_s, true, true, true},
        {"unfitted: cut", longEnglish, true, false, false},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        PropertyGrid grid;
        grid.setNameColumnWidth(120);
        if (r.fitted)
            grid.fitNameColumnToLabels(120, 100);
        PropertyItem* group = r.grouped ? grid.addGroup(nullptr, u"Radar1"_s) : nullptr;
        grid.addText(group, r.label, u"0.90"_s);
        grid.resize(200, 200);  // narrower than the fitted tree: its minimum holds
        grid.show();
        QApplication::processEvents();
        EXPECT_EQ(testsupport::cutTreeLabels(*grid.tree()).contains(r.label), !r.fitted);
        EXPECT_EQ(grid.nameColumnWidth() > 120, r.widened);
        if (r.fitted) {
            EXPECT_GE(grid.tree()->width() - grid.nameColumnWidth(), 100);
        }
        // Emptied, the grid comes back to its usual width.
        grid.clear();
        if (r.fitted) {
            EXPECT_EQ(grid.nameColumnWidth(), 120);
        }
    }
}

}  // namespace
