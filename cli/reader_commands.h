#pragma once
// The ldic commands that read packages back. Each takes its arguments in UTF-8, argv[0]
// being the command's name, and returns the process's exit status: 0 on success, 1 when
// the package has problems or a word was not found, 2 for a usage error or a failure.

int RunInfoCommand(int argc, char** argv);
int RunVerifyCommand(int argc, char** argv);
int RunDumpCommand(int argc, char** argv);
int RunLookupCommand(int argc, char** argv);
int RunExportCommand(int argc, char** argv);

// The lines for ldic --help that describe these commands, each with an example.
extern const char kReaderCommandsHelp[];
