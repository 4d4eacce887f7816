#include "core/editor_hooks.h"

#include "core/document.h"

#include <map>

namespace core {

namespace {
std::map<uint8_t, SetupEditorOpener>& openers()
{
    static std::map<uint8_t, SetupEditorOpener> table;
    return table;
}
}  // namespace

void registerSetupEditor(uint8_t product, SetupEditorOpener opener)
{
    if (opener)
        openers()[product] = std::move(opener);
    else
        openers().erase(product);
}

bool openSetupEditor(CvelunaDoc& doc)
{
    const auto it = openers().find(doc.product());
    if (it == openers().end())
        return false;
    // A copy: the editor may run a modal loop in which the table could change.
    const SetupEditorOpener opener = it->second;
    opener(doc);
    return true;
}

}  // namespace core
