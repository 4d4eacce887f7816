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

std::map<int, std::function<bool(const CvelunaDoc&)>>& checks()
{
    static std::map<int, std::function<bool(const CvelunaDoc&)>> marks;
    return marks;
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

void registerCheck(int id, std::function<bool(const CvelunaDoc&)> checked)
{
    checks()[id] = std::move(checked);
}

bool isChecked(int id, const CvelunaDoc& doc)
{
    auto it = checks().find(id);
    return it != checks().end() && it->second && it->second(doc);
}

void clearCommands()
{
    table().clear();
    checks().clear();
}

}  // namespace core
