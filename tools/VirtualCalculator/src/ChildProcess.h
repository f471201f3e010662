#pragma once

#include <string>
#include <vector>

// The environment that makes `program` find the testbed at `testbedRoot`: the umockdev
// preload library ahead of any LD_PRELOAD already set, and for a program built with
// AddressSanitizer its runtime ahead of that, since ASan must come first; `alsoPreload`, if
// any, right after umockdev's, and `variables` ("NAME=VALUE") on top.
std::vector<std::string> childEnvironment(const std::string& testbedRoot,
                                          const std::string& program,
                                          const std::string& alsoPreload = "",
                                          const std::vector<std::string>& variables = {});

// Runs `command` (looked up in PATH) with `environment`, sharing our standard streams,
// and waits in a GLib main loop while umockdev's worker thread serves the device.
// SIGINT, SIGTERM and SIGHUP are passed on to the command, which also gets SIGTERM if we
// die first. The result is the command's exit status, 128+N when signal N ended it, or
// -1 when it could not be started (`error` says why).
int runChild(const std::vector<std::string>& command, const std::vector<std::string>& environment,
             std::string& error);
