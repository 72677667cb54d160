#pragma once
// The ldic commands. Each takes its arguments in UTF-8, argv[0] being the command's
// name, and returns the process's exit status.

int RunConvertCommand(int argc, char** argv);

// Prints "ldic: " and the message on stderr.
void PrintError(const char* utf8Message);
