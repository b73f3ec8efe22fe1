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
int RunRename(int argc, char** argv);
int RunList(int argc, char** argv);
int RunJson(int argc, char** argv);
int RunFromJson(int argc, char** argv);

// Each command's help, as 'marl COMMAND --help' prints it. Its first line,
// "usage: marl NAME [OPTION]... OPERANDS", is also the command's line in the top-level help.
extern const char kPrintUsage[];
extern const char kCheckUsage[];
extern const char kGetUsage[];
extern const char kSetUsage[];
extern const char kAddUsage[];
extern const char kRemoveUsage[];
extern const char kRenameUsage[];
extern const char kListUsage[];
extern const char kJsonUsage[];
extern const char kFromJsonUsage[];

}  // namespace MarlTool

#endif  // MARL_TOOL_COMMANDS_H
