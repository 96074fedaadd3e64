# Demo release of Flashwise for the Krov Q512, French.
# Firmware image: generated at build time (tools/make_firmware_image.py).
set(RELEASE_FIRMWARE_IMAGE generate)
# No boot-loader image: the base layer's placeholder stays.
set(RELEASE_BOOT_LOADER_IMAGE "")
# The helper programs this tree builds: wcestest.exe, and the phone-side helpers built
# for the simulated phone (they run only against the simulated phone's libraries).
set(RELEASE_HELPERS simulated-phone)
