#pragma once
// The verbs of flashwise-flash, one file each.

#include <cstdio>

#include "tools/flashwise-flash/FlashTool.h"
#include "tools/flashwise-flash/Options.h"
#include "tools/flashwise-flash/ShippedRelease.h"

namespace flashwise::flash {

int RunInfo(const Options& options, const ShippedRelease& release, std::FILE* out, std::FILE* err);
int RunFlash(const Options& options, const ShippedRelease& release, std::FILE* out, std::FILE* err,
             const Environment& env);

}  // namespace flashwise::flash
