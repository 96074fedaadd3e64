# Demo release of Flashwise for the Krov Q512, French.
# Firmware image: generated at build time (tools/make_firmware_image.py).
set(RELEASE_FIRMWARE_IMAGE generate)
# No boot-loader image: the base layer's placeholder stays.
set(RELEASE_BOOT_LOADER_IMAGE "")
# The helper programs are not built yet: carry the stand-ins.
set(RELEASE_HELPERS stand-ins)
