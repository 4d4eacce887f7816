#include "core/views/layout_tree_view.h"

#include "common/controls/dialog_keys.h"
#include "core/command_registry.h"
#include "core/command_table.h"
#include "core/document.h"
#include "core/layout/layout_commands.h"
#include "core/layout/layout_transfer.h"
#include "platform/home.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>

#include <memory>

CLayoutTreeView::CLayoutTreeView(unsigned language, QWidget* parent) : QTreeWidget(parent), language_(language)
{
    setHeaderHidden(true);
    setRootIsDecorated(true);
    setDragDropMode(QAbstractItemView::NoDragDrop);
    setSelectionMode(QAbstractItemView::SingleSelection);
    // A selected item keeps showing while the tree has no focus: white on a
    // deeper blue, framed in the pane's own blue.
    setStyleSheet(QStringLiteral("QTreeWidget { background: rgb(0, 160, 232); }"
                                 "QTreeWidget::item:selected:!active { color: white; background: rgb(0, 128, 220);"
                                 " border: 1px solid rgb(0, 160, 232); }"));
    connect(this, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        if (document_)
            document_->layoutTransfer().selectedName = item ? item->text(0) : QString();
    });
}

CLayoutTreeView::~CLayoutTreeView()
{
    SetDocument(nullptr);
}

void CLayoutTreeView::SetDocument(CvelunaDoc* document)
{
    if (document_)
        document_->layoutTransfer().listChanged = nullptr;
    document_ = document;
    if (document_)
        document_->layoutTransfer().listChanged = [this] { Refill(); };
    Refill();
}

void CLayoutTreeView::Refill()
{
    const QSignalBlocker block(this);
    clear();
    if (!document_)
        return;
    const layout::LayoutTransfer& t = document_->layoutTransfer();
    for (int i = 0; i < t.names().size(); ++i) {
        auto* item = new QTreeWidgetItem(this, QStringList{t.names()[i]});
        if (i == t.currentIndex()) {
            setCurrentItem(item);
            item->setSelected(true);
        }
    }
}

void CLayoutTreeView::OpenLayout(const QString& text)
{
    if (!document_ || text.isEmpty())
        return;
    layout::LayoutTransfer& t = document_->layoutTransfer();
    // The layout already opened from here is not fetched again.
    if (text == t.lastOpened)
        return;
    t.lastOpened = text;
    if (document_->setStatusPaneText)
        document_->setStatusPaneText(layout::kProgressPane, QStringLiteral("0%"));
    t.FetchLayout(text);
}

void CLayoutTreeView::RunCommand(int id)
{
    if (!document_)
        return;
    if (const core::CommandEntry* entry = core::findCommand(id)) {
        if (core::IsCommandEnabled(*document_, id))
            entry->run(*document_);
    }
}

void CLayoutTreeView::keyPressEvent(QKeyEvent* event)
{
    if (controls::SwallowEnterEsc(event))
        return;
    switch (event->key()) {
    case Qt::Key_Delete:
        if (document_ && currentItem() && !currentItem()->text(0).isEmpty()) {
            document_->layoutTransfer().selectedName = currentItem()->text(0);
            layout::DeleteSelectedLayout(*document_);
        }
        event->accept();
        return;
    case Qt::Key_F5:
        if (document_)
            document_->layoutTransfer().RequestLayoutList();
        event->accept();
        return;
    default:
        QTreeWidget::keyPressEvent(event);
    }
}

void CLayoutTreeView::mouseDoubleClickEvent(QMouseEvent* event)
{
    QTreeWidgetItem* item = itemAt(event->position().toPoint());
    if (item) {
        setCurrentItem(item);
        OpenLayout(item->text(0));
    }
    event->accept();
}

QMenu* CLayoutTreeView::BuildContextMenu(QWidget* parent)
{
    auto* menu = new QMenu(parent);
    for (int id : {kImportCommand, kDeleteCommand}) {
        const core::CommandRow* row = core::FindCommandRow(id);
        QAction* a = menu->addAction(platform::pickText(language_, row->english, row->chinese));
        a->setData(id);
        a->setEnabled(document_ && core::IsCommandEnabled(*document_, id));
        connect(a, &QAction::triggered, this, [this, id] { RunCommand(id); });
    }
    return menu;
}

void CLayoutTreeView::contextMenuEvent(QContextMenuEvent* event)
{
    std::unique_ptr<QMenu> menu(BuildContextMenu(this));
    menu->exec(event->globalPos());
}
