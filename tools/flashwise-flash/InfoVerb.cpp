// --info: what a release holds, for a person or (--json) a script. The image units are
// reported as the image tool reports them.

#include <string>
#include <vector>

#include "tools/flashwise-flash/Verbs.h"
#include "tools/flashwise-image/ImageReport.h"

namespace flashwise::flash {

namespace {

const std::u16string kTxt = u"TXT";


std::string LanguageList(const std::vector<std::uint16_t>& languages, bool json) {
    std::string out;
    for (std::size_t i = 0; i < languages.size(); ++i) {
        if (i > 0) out += json ? "," : ", ";
        out += std::to_string(languages[i]);
        if (!json) out += languages[i] == 0 ? " (neutral)" : languages[i] == 1028 ? " (base)" : "";
    }
    return out;
}

std::vector<std::uint16_t> StringLanguages(const package::ReleaseFile& file) {
    std::vector<std::uint16_t> languages;
    for (const auto& e : file.Entries()) {
        if (!e.typeName.empty() || e.typeId != package::kStringTableType) continue;
        bool seen = false;
        for (const auto l : languages) seen = seen || l == e.language;
        if (!seen) languages.push_back(e.language);
    }
    return languages;
}

// The image tool's report of one image, or the reason there is none.
bool Report(const ReleaseImage& image, tool::ImageReport* report) {
    std::string error;
    return image.present && tool::MakeImageReport(image.path, u"", report, &error);
}

std::string ImageJson(const ReleaseImage& image) {
    if (!image.present) return "null";
    tool::ImageReport report;
    std::string j = "{\"whole\":" + std::string(image.whole ? "true" : "false");
    j += ",\"check\":" + tool::JsonString(image.whole ? "" : image.failure);
    if (Report(image, &report)) {
        report.file = image.path.filename().string();   // the private copy is gone when this prints
        std::string r = tool::ReportAsJson(report);
        while (!r.empty() && r.back() == '\n') r.pop_back();
        j += ",\"report\":" + r;
    }
    return j + "}";
}

void ImageText(const char* title, const ReleaseImage& image, std::FILE* out) {
    if (!image.present) {
        std::fprintf(out, "\n%s: none in this release\n", title);
        return;
    }
    std::fprintf(out, "\n%s: %s, %llu bytes, %s%s\n", title, image.path.filename().string().c_str(),
                 static_cast<unsigned long long>(image.length), image.whole ? "whole" : "fails its check: ",
                 image.whole ? "" : image.failure.c_str());
    tool::ImageReport report;
    if (!Report(image, &report)) return;
    // The units, one line each, as the image tool lists them.
    for (const auto& u : report.units) {
        std::fprintf(out, "  unit %d  offset %llu  length %u  word checksum 0x%08X  byte checksum 0x%08X\n", u.code,
                     static_cast<unsigned long long>(u.offset), u.length, u.wordChecksum, u.byteChecksum);
    }
    if (report.units.empty()) std::fprintf(out, "  no unit\n");
}

}  // namespace

int RunInfo(const Options& options, const ShippedRelease& release, std::FILE* out, std::FILE*) {
    const package::ReleaseFile& file = release.File();
    if (options.json) {
        std::string j = "{\"release\":" + tool::JsonString(options.release);
        j += ",\"model\":" + tool::JsonString(release.Text(160));
        j += ",\"display_name\":" + tool::JsonString(release.Text(161));
        j += ",\"language\":" + tool::JsonString(release.Text(159));
        j += ",\"text_languages\":[" + LanguageList(file.Languages(kTxt), true) + "]";
        j += ",\"string_languages\":[" + LanguageList(StringLanguages(file), true) + "]";
        j += ",\"rom_version\":" + tool::JsonString(release.Text(156));
        j += ",\"radio_version\":" + tool::JsonString(release.Text(157));
        j += ",\"image\":" + ImageJson(release.Main());
        j += ",\"boot_loader_image\":" + ImageJson(release.BootLoader());
        j += "}\n";
        std::fputs(j.c_str(), out);
        return release.Main().whole ? kExitWritten : kExitNotARelease;
    }
    std::fprintf(out, "release         %s\n", options.release.c_str());
    std::fprintf(out, "model           %s\n", release.Text(160).c_str());
    std::fprintf(out, "display name    %s\n", release.Text(161).c_str());
    std::fprintf(out, "language        %s\n", release.Text(159).c_str());
    std::fprintf(out, "text layers     %s\n", LanguageList(file.Languages(kTxt), false).c_str());
    std::fprintf(out, "string table    %s\n", LanguageList(StringLanguages(file), false).c_str());
    std::fprintf(out, "ROM version     %s\n", release.Text(156).c_str());
    std::fprintf(out, "radio version   %s\n", release.Text(157).c_str());
    ImageText("firmware image", release.Main(), out);
    ImageText("boot-loader image", release.BootLoader(), out);
    // Printed either way; the status tells a script that this release cannot be flashed.
    return release.Main().whole ? kExitWritten : kExitNotARelease;
}

}  // namespace flashwise::flash
