// What bodies ask of the host's services object, the module global `tavro`.
// It is read at each use, so a host that rebinds it is heard at the next call.
#pragma once

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

// tavro.commands.execute, read now and called with (commandId, args...).
// Python reads the method before it works out the arguments, so a body reads
// it first and builds the arguments afterwards:
//     BoundMethod execute = hostExecute();
//     Object paths = callMethod(panel, names::selection);
//     return execute(copyFilesCommand, paths);
// A host whose registry lacks `execute` then sees the AttributeError Python
// raises, not an error of whatever the arguments would have run.
inline BoundMethod hostExecute() { return methodOf(hostCommands(), services::execute); }

}  // namespace explorerview
