// The compiler's side of the compiler link: "zpkit zp", started by the runtime in the game folder.
// It compiles project.txt and script/*.zs of the working folder in memory and hands the compiled
// files over through the runtime's shared objects (shell/complink.h gives the layout).
#pragma once
#include <string>
#include <vector>

#include "common/types.h"
#include "kit/script_compiler.h"

// The second object's bytes for these files: per file {u32 n, name with its zero, u32 m, data}.
std::vector<u8> KitHandoverBuild(const std::vector<KitCompiledFile>& files);
// Runs the exchange in the current folder. Exit status: 0 handed over; 1 a compile error (shown
// through the message box, before ready), a wrong version, or the runtime went away.
int KitZpRun();
