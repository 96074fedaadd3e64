# Demo release of Flashwise for the Krov Q512, French.
# Firmware image: generated at build time (tools/make_firmware_image.py).
set(RELEASE_FIRMWARE_IMAGE generate)
# Boot-loader image: generated at build time too (make_firmware_image.py --boot-loader),
# so that a phone with the older system gets a boot-loader pass that sends something.
set(RELEASE_BOOT_LOADER_IMAGE generate)
# The helper programs this tree builds: wcestest.exe, and the phone-side helpers built
# for the simulated phone (they run only against the simulated phone's libraries).
set(RELEASE_HELPERS simulated-phone)
