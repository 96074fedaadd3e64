#include "sim/bridge/ResultFiles.h"

#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

namespace flashwise::bridge {

bool ResultFiles::Prepare(std::string* error) const {
    std::error_code ec;
    std::filesystem::create_directories(folder_, ec);
    if (ec || !std::filesystem::is_directory(folder_)) {
        *error = "cannot make the results folder " + folder_.string();
        return false;
    }
    return true;
}

bool ResultFiles::WriteFile(const std::string& name, const void* data, std::size_t size) const {
    const auto target = folder_ / name;
    auto temporary = target;
    temporary += ".part";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) return false;
        out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
        if (!out) return false;
    }
    std::error_code ec;
    std::filesystem::rename(temporary, target, ec);
    if (ec) {
        std::filesystem::remove(temporary, ec);
        return false;
    }
    return true;
}

bool ResultFiles::WriteResults(const sim::BootLoaderSim& device) const {
    bool ok = true;
    const sim::FlashStore& store = device.Store();
    std::ostringstream list;
    for (int code : store.Codes()) {
        const sim::StoredUnit* unit = store.Find(code);
        char crc[16];
        std::snprintf(crc, sizeof crc, "%08x", static_cast<unsigned>(unit->crc32));
        list << code << ' ' << unit->length << ' ' << crc << ' ' << unit->writes << ' ' << unit->imageType << ' '
             << unit->fileName << '\n';
        if (store.GetMode() == sim::FlashStore::Mode::Bytes) {
            ok = WriteFile("unit-" + std::to_string(code) + ".bin", unit->data.data(), unit->data.size()) && ok;
        }
    }
    const std::string storeText = list.str();
    ok = WriteFile("store.txt", storeText.data(), storeText.size()) && ok;

    std::ostringstream verdicts;
    for (const auto& v : device.Verdicts()) {
        verdicts << v.ordinal << ' ' << v.code << ' ' << v.result << ' ' << v.dataLength << '\n';
    }
    const std::string verdictText = verdicts.str();
    ok = WriteFile("verdicts.txt", verdictText.data(), verdictText.size()) && ok;

    std::string errors;
    for (const auto& e : device.ProtocolErrors()) errors += e + "\n";
    ok = WriteFile("errors.txt", errors.data(), errors.size()) && ok;

    const std::string summary = "announcements=" + std::to_string(device.Announcements()) +
                                "\nend-transfers=" + std::to_string(device.EndTransfers()) +
                                "\ngone=" + (device.IsGone() ? "1" : "0") + "\n";
    ok = WriteFile("summary.txt", summary.data(), summary.size()) && ok;
    return ok;
}

bool ResultFiles::WriteCapture(sim::BootLoaderSim& device) const {
    auto& capture = device.Capture();
    if (!capture.Enabled()) return true;
    const std::string text = capture.Text();
    return WriteFile("capture.txt", text.data(), text.size());
}

}  // namespace flashwise::bridge
