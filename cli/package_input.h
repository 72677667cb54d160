#pragma once
// The package a reading command opens: a file named on the command line, or "-" for one on
// standard input. A package is read at places of the reader's choosing, which a pipe
// cannot give, so standard input is first copied whole into a file of our own in the
// system's temporary folder (ldic-stdin.ldic, or ldic-stdin-2.ldic, ... when the name is
// taken), created exclusively and removed again when the command ends, also when it is
// stopped: a request to stop waits until the copy is gone.

#include <optional>
#include <string>

#include "platform/console.h"

class CPackageInput {
 public:
  explicit CPackageInput(std::string argument) : m_argument(std::move(argument)) {}
  // Removes the copy of standard input. Declare the input before the reader that opens
  // it, so that the file is closed first (Windows removes no open file).
  ~CPackageInput();
  CPackageInput(const CPackageInput&) = delete;
  CPackageInput& operator=(const CPackageInput&) = delete;

  bool FromStandardInput() const { return m_argument == "-"; }
  // How messages name the package: as the user gave it ("-" for standard input).
  const std::string& Name() const { return m_argument; }
  // The file to open: the argument's, or the copy of standard input once Fetch made it.
  std::wstring Path() const;

  // Copies standard input into the file Path() names, when the argument is "-". Returns
  // -1 to go on, or the exit status to stop with once the failure has been told: a
  // terminal as standard input (nobody types a package), a copy that cannot be written,
  // more than any package holds, or a request to stop.
  int Fetch();

 private:
  std::string m_argument;
  std::wstring m_copy;  // the copy of standard input, once made
  std::optional<platform::CHoldInterrupts> m_hold;
};
