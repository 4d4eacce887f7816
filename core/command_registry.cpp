#include "core/command_registry.h"

#include <map>

namespace core {
namespace {

// UI thread only, like every menu command.
std::map<int, CommandEntry>& table()
{
    static std::map<int, CommandEntry> commands;
    return commands;
}

}  // namespace

void registerCommand(int id, CommandEntry entry)
{
    table()[id] = std::move(entry);
}

const CommandEntry* findCommand(int id)
{
    auto it = table().find(id);
    return it == table().end() ? nullptr : &it->second;
}

std::vector<int> registeredCommands()
{
    std::vector<int> ids;
    for (const auto& [id, entry] : table())
        ids.push_back(id);
    return ids;
}

bool isChecked(int id, const CvelunaDoc& doc)
{
    const CommandEntry* entry = findCommand(id);
    return entry && entry->checked && entry->checked(doc);
}

void clearCommands()
{
    table().clear();
}

}  // namespace core
