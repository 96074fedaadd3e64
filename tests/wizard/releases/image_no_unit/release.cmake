# The demo release with an image that has no unit to send.
set(RELEASE_TEXT_DIR ../../../../releases/demo/text)
set(RELEASE_FIRMWARE_IMAGE generate:no-unit)
set(RELEASE_BOOT_LOADER_IMAGE generate)
set(RELEASE_HELPERS simulated-phone)
