#include <windows.h>

#include "helpers/phone/HelperEntry.h"

#ifdef UNDER_CE
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
#else
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
#endif
{
    return flashwise::phone::HelperMain();
}
