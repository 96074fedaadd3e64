#include "update/win/SystemPackagePayloads.h"

#include "package/Package.h"
#include "res/ResourceIds.h"

namespace flashwise::update {

bool SystemPackagePayloads::ReadBinary(unsigned id, const std::uint8_t** data, std::size_t* size) {
    package::Binary binary;
    if (!package::ReadBinary(id, binary)) return false;
    *data = static_cast<const std::uint8_t*>(binary.data);
    *size = binary.size;
    return true;
}

std::u16string SystemPackagePayloads::Text(unsigned id) {
    std::wstring text;
    package::LoadPackageString(id, text);
    return package::FromWide(text);
}

std::u16string SystemPackagePayloads::NewRomVersion() {
    return package::FromWide(package::ReadReleaseText(IDTXT_NEW_ROM_VERSION, package::ReleaseTextRule::NewVersion));
}

}  // namespace flashwise::update
