#pragma once
// The commands of `zerimo-cli script`. Each area registers its own from a file of its own with a
// static ScriptRegistrar, so adding commands never touches the interpreter.

#include "document/DocHost.h"
#include "document/ZerimoDoc.h"

#include <functional>
#include <string>
#include <vector>

namespace cli {

struct ScriptContext {
    zerimo::CZerimoDoc& doc;
    zerimo::CHeadlessHost& host;
};

struct ScriptCommand {
    std::string name;
    /// The menu command whose enabling rule decides whether it runs; 0 for none.
    unsigned commandId = 0;
    /// Words after the name: at least minArgs, at most maxArgs (-1: any number).
    int minArgs = 0;
    int maxArgs = 0;
    /// `args` are the words after the name; `rest` is the line after the name as written. False
    /// when the arguments are not usable (the line then counts as an error).
    std::function<bool(ScriptContext&, const std::vector<std::string>& args, const std::string& rest)> run;
    std::string help; // one line for --help, e.g. "rotate DEG"
};

std::vector<ScriptCommand>& ScriptCommands();

struct ScriptRegistrar {
    explicit ScriptRegistrar(std::vector<ScriptCommand> commands) {
        for (auto& c : commands) ScriptCommands().push_back(std::move(c));
    }
};

} // namespace cli
