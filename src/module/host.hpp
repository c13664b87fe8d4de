// What bodies ask of the host's services object, the module global `tavro`.
// It is read at each use, so a host that rebinds it is heard at the next call.
#pragma once

#include <utility>

#include "module/names.hpp"
#include "module/runtime.hpp"

namespace explorerview {

// The services object and its parts: only this header reaches them.
namespace services {
inline const Name tavro{"tavro"}, commands{"commands"}, execute{"execute"}, window{"window"};
inline const Name workspace{"workspace"};
}  // namespace services

// tavro.commands: the registry that runs the host's commands.
inline Object hostCommands() { return getAttr(global(services::tavro), services::commands); }

// tavro.window: the host's main window (prompts, error messages, toolbars).
inline Object hostWindow() { return getAttr(global(services::tavro), services::window); }

// tavro.workspace: the host's workspace, which knows the working folder.
inline Object hostWorkspace() { return getAttr(global(services::tavro), services::workspace); }

// commands.execute(commandId, args...); the command's result is returned.
// The registry is a parameter because some bodies fetch it before they work
// out the arguments, as the Python they stand for does:
//     Object commands = hostCommands();
//     Object paths = callMethod(panel, names::selection);
//     return runHostCommand(commands, copyFilesCommand, paths);
template <class... A>
Object runHostCommand(py::handle commands, const Name& commandId, A&&... args) {
    return callMethod(commands, services::execute, commandId, std::forward<A>(args)...);
}

}  // namespace explorerview
