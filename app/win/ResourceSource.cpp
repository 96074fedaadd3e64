#include "app/win/ResourceSource.h"

#include "package/Package.h"

namespace flashwise::app {

HMODULE ResourceModuleFor(LPCWSTR type, LPCWSTR name) {
    HMODULE active = package::StringSource();
    if (FindResourceW(active, name, type) != nullptr) {
        return active;
    }
    HMODULE program = GetModuleHandleW(nullptr);
    if (active != program && FindResourceW(program, name, type) != nullptr) {
        return program;
    }
    return nullptr;
}

}  // namespace flashwise::app
