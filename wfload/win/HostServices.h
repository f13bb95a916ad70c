// Platform services the settings window hands to the dialog logic: the
// registry value, the host's command-line words and the system directory.
#pragma once

#include <string>
#include <vector>

#include "wfload/FormHost.h"

// Reads the string value `name` of `key` under HKEY_LOCAL_MACHINE, opening
// the key read-only. A leading backslash in `key` is ignored. Only REG_SZ
// counts as text.
TRegRead ReadLocalMachineString(const std::string& key, const std::string& name,
                                std::string& value);

// Words of `commandLine` after the program's own name, split as
// CommandLineToArgvW splits them, converted to the ANSI code page.
std::vector<std::string> SplitCommandLineWords(const wchar_t* commandLine);

// Words of a parameter string that carries no program name (what a Control
// Panel host passes with CPL_STARTWPARMS), split as command-line words.
std::vector<std::string> SplitParameterWords(const wchar_t* parameters);

// Numbers of the serial ports Windows lists: the data ("COMn") of the values
// of HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM, which the serial port
// drivers keep (under Wine its device manager, from Software\Wine\Ports).
std::vector<int> ListedSerialPorts();

// GetSystemDirectoryA, whatever its length.
std::string SystemDirectoryPath();
