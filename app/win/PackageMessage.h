#pragma once
// Every message box of the program: a string-table text, caption IDS_MESSAGE_CAPTION
// with the model display name filled in.

#include <windows.h>

#include <string>

#include "res/ResourceIds.h"

namespace flashwise::app {

// Text `id` of the active source (empty when missing); the template token of the
// text itself is left alone: only the caption is filled.
std::wstring PackageText(unsigned id);

// PackageText(id) with the template token replaced by the model display name.
std::wstring FilledPackageText(unsigned id);

// Shows text `textId` with the caption filled with the application's display name;
// `owner` null for no owner. Returns the button the user chose.
int ShowPackageMessage(HWND owner, unsigned textId, UINT buttons);

// The same with the text's own template filled too.
int ShowFilledPackageMessage(HWND owner, unsigned textId, UINT buttons);

// The same with the caption filled with `displayName`.
int ShowPackageMessage(HWND owner, unsigned textId, UINT buttons, const std::wstring& displayName);

}  // namespace flashwise::app
