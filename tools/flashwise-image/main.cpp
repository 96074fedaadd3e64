// flashwise-image: shows what the updater would send for an image file, unit by unit,
// with the checksums the boot loader checks. For release engineering; never shipped.
//
//   flashwise-image [--json] [--name NAME] IMAGE
//
// Exit status: 0 when the image is whole, 2 when it is damaged (warnings on stderr),
// 1 when it cannot be read or the command line is wrong.

#include <cstdio>
#include <filesystem>
#include <string>

#include "tools/flashwise-image/ImageReport.h"

namespace {

constexpr const char* kUsage = "usage: flashwise-image [--json] [--name NAME] IMAGE\n";

template <typename Char>
int Run(int argc, Char** argv) {
    using Str = std::basic_string<Char>;
    bool json = false;
    std::u16string name;
    std::filesystem::path file;
    bool haveFile = false;
    for (int i = 1; i < argc; ++i) {
        const Str arg = argv[i];
        if (arg == Str{'-', '-', 'j', 's', 'o', 'n'}) {
            json = true;
        } else if (arg == Str{'-', '-', 'n', 'a', 'm', 'e'}) {
            if (++i >= argc) {
                std::fputs(kUsage, stderr);
                return 1;
            }
            name = std::filesystem::path(Str(argv[i])).u16string();
        } else if (!haveFile && !(arg.size() > 1 && arg[0] == '-')) {
            file = std::filesystem::path(arg);
            haveFile = true;
        } else {
            std::fputs(kUsage, stderr);
            return 1;
        }
    }
    if (!haveFile) {
        std::fputs(kUsage, stderr);
        return 1;
    }
    flashwise::tool::ImageReport report;
    std::string error;
    if (!flashwise::tool::MakeImageReport(file, name, &report, &error)) {
        std::fprintf(stderr, "flashwise-image: %s\n", error.c_str());
        return 1;
    }
    for (const std::string& w : report.warnings) std::fprintf(stderr, "flashwise-image: warning: %s\n", w.c_str());
    const std::string out = json ? flashwise::tool::ReportAsJson(report) : flashwise::tool::ReportAsText(report);
    std::fwrite(out.data(), 1, out.size(), stdout);
    return report.warnings.empty() ? 0 : 2;
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) { return Run(argc, argv); }
#else
int main(int argc, char** argv) { return Run(argc, argv); }
#endif
