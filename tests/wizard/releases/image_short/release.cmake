# The demo release with an image that ends one byte before its section does.
set(RELEASE_TEXT_DIR ../../../../releases/demo/text)
set(RELEASE_FIRMWARE_IMAGE generate:short)
set(RELEASE_BOOT_LOADER_IMAGE generate)
set(RELEASE_HELPERS simulated-phone)
