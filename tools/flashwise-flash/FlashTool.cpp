#include "tools/flashwise-flash/FlashTool.h"

#include "tools/flashwise-flash/Verbs.h"

namespace flashwise::flash {

int RunFlashTool(const std::vector<std::string>& args, std::FILE* out, std::FILE* err, const Environment& env) {
    Options options;
    std::string error;
    if (!ParseOptions(args, &options, &error)) {
        std::fprintf(err, "flashwise-flash: %s (--help for usage)\n", error.c_str());
        return kExitUsage;
    }
    if (options.help) {
        std::fputs(kHelpText, out);
        return kExitWritten;
    }
    ShippedRelease release;
    if (!release.Open(options.release, &error)) {
        std::fprintf(err, "flashwise-flash: %s is not a release: %s\n", options.release.c_str(), error.c_str());
        return kExitNotARelease;
    }
    if (options.info) return RunInfo(options, release, out, err);
    return RunFlash(options, release, out, err, env);
}

}  // namespace flashwise::flash
