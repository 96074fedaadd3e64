# A release laid out to exercise the layer rule through real resource lookups.
set(RELEASE_FIRMWARE_IMAGE image.bin)
set(RELEASE_BOOT_LOADER_IMAGE "")
set(RELEASE_HELPERS stand-ins)
