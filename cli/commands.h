#pragma once

#include <string>
// The ldic commands. Each takes its arguments in UTF-8, argv[0] being the command's
// name, and returns the process's exit status.

int RunConvertCommand(int argc, char** argv);
int RunRegisterCommand(int argc, char** argv);

// Adds a package that convert has just written to LumoDict's list, as the dialog does when
// its box is ticked; iniPath empty means LumoDict's own settings file. Returns the exit
// status: 0 registered, 1 refused or not written.
int RegisterConvertedPackage(const std::wstring& packagePath, const std::wstring& iniPath);

// Prints "ldic: " and the message on stderr.
void PrintError(const char* utf8Message);
