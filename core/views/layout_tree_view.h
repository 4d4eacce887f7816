#pragma once
// CLayoutTreeView: the right-hand pane of the main window, the layouts
// stored on the connected player. Double-click opens one, F5 asks for the
// list again, Delete deletes the selected one (with the checks of the Del
// Layout command), the context menu offers Import and Del Layout; Enter and
// Escape are swallowed.

#include <QTreeWidget>

class CvelunaDoc;
class QMenu;

class CLayoutTreeView : public QTreeWidget {
    Q_OBJECT
public:
    static constexpr int kImportCommand = 32797;
    static constexpr int kDeleteCommand = 32798;

    explicit CLayoutTreeView(unsigned language, QWidget* parent = nullptr);
    ~CLayoutTreeView() override;

    // Binds the tree to the document's layout list (null: forgets it).
    void SetDocument(CvelunaDoc* document);
    // Rebuilds the items from the document's last list.
    void Refill();
    // What a double-click on the item `text` does.
    void OpenLayout(const QString& text);
    // The context menu's commands (run through the command table).
    void RunCommand(int id);
    // The context menu "ImPort" / "Del Layout", enabled by the table's rules
    // (the caller owns it).
    QMenu* BuildContextMenu(QWidget* parent);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    unsigned language_;
    CvelunaDoc* document_ = nullptr;
};
