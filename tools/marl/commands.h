// The marl tool's commands. Each takes the command's own argv (argv[0] is the command's name)
// and returns the exit status.
#ifndef MARL_TOOL_COMMANDS_H
#define MARL_TOOL_COMMANDS_H

namespace MarlTool {

int RunPrint(int argc, char** argv);
int RunCheck(int argc, char** argv);
int RunGet(int argc, char** argv);
int RunSet(int argc, char** argv);
int RunAdd(int argc, char** argv);
int RunRemove(int argc, char** argv);

}  // namespace MarlTool

#endif  // MARL_TOOL_COMMANDS_H
