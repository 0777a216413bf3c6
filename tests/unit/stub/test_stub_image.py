"""The finished stub image: a loadable PE32 GUI program that holds its record marker once and
none of the ZIP record signatures (the stub assembles those at run time, so the record walk
over an attached archive can never be misled by its own bytes)."""
import os
import struct
import unittest

STUB = os.environ.get("TVSFX_STUB", os.path.join(os.path.dirname(__file__), "../../../build/tvsfx32.exe"))
MARKER = bytes([0x54, 0x56, 0x4B, 0x01, 0x73, 0x66, 0x78, 0x02])
SIGNATURES = [bytes([0x50, 0x4B, a, b]) for a, b in
              [(3, 4), (1, 2), (5, 6), (5, 5), (0x30, 0x30), (7, 8)]]


class StubImageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with open(STUB, "rb") as f:
            cls.image = f.read()

    def test_is_pe32_gui_for_i386(self):
        image = self.image
        self.assertEqual(image[:2], b"MZ")
        pe = struct.unpack_from("<I", image, 0x3C)[0]
        self.assertEqual(image[pe:pe + 4], b"PE\0\0")
        machine, sections = struct.unpack_from("<HH", image, pe + 4)
        self.assertEqual(machine, 0x14C)
        magic = struct.unpack_from("<H", image, pe + 24)[0]
        self.assertEqual(magic, 0x10B, "PE32 optional header")
        subsystem = struct.unpack_from("<H", image, pe + 24 + 68)[0]
        self.assertEqual(subsystem, 2, "Windows GUI subsystem")

    def test_holds_the_marker_exactly_once(self):
        self.assertEqual(self.image.count(MARKER), 1)

    def test_holds_no_zip_signature(self):
        for signature in SIGNATURES:
            self.assertNotIn(signature, self.image, signature.hex())

    def test_requests_common_controls_6(self):
        self.assertIn(b"Microsoft.Windows.Common-Controls", self.image)
        self.assertIn(b'version="6.0.0.0"', self.image)
        self.assertIn(b'processorArchitecture="x86"', self.image)


# DllCharacteristics bits.
HIGH_ENTROPY_VA = 0x0020
DYNAMIC_BASE = 0x0040
NX_COMPAT = 0x0100
TERMINAL_SERVER_AWARE = 0x8000
RELOCS_STRIPPED = 0x0001  # a file header characteristic
STUB64 = os.environ.get("TVSFX_STUB64", os.path.join(os.path.dirname(STUB), "wine64", "tvsfx32.exe"))


def image_layout(image):
    """(file characteristics, DllCharacteristics, relocation directory (rva, size), sections as
    (name, rva, virtual size)) of a PE32 or PE32+ image."""
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    sections, optional_size, characteristics = struct.unpack_from("<H12xHH", image, pe + 6)
    optional = pe + 24
    plus = struct.unpack_from("<H", image, optional)[0] == 0x20B
    dll_characteristics = struct.unpack_from("<H", image, optional + 70)[0]
    relocations = struct.unpack_from("<II", image, optional + (112 if plus else 96) + 5 * 8)
    table = optional + optional_size
    layout = [struct.unpack_from("<8sII", image, table + 40 * i) for i in range(sections)]
    return (characteristics, dll_characteristics, relocations,
            [(name.rstrip(b"\0").decode(), rva, size) for name, size, rva in layout])


class HardenedImageTest(unittest.TestCase):
    """Both builds of the stub can be loaded at any base and carry the system's mitigations."""

    def check_image(self, path, wanted_flags):
        with open(path, "rb") as f:
            characteristics, flags, (rva, size), sections = image_layout(f.read())
        self.assertEqual(flags & wanted_flags, wanted_flags, f"DllCharacteristics {flags:#06x}")
        self.assertFalse(characteristics & RELOCS_STRIPPED, "relocations stripped")
        self.assertGreater(size, 8, "no base relocations")
        holder = [name for name, start, length in sections if start <= rva and rva + size <= start + length]
        self.assertEqual(holder, [".reloc"])

    def test_32_bit_stub(self):
        self.check_image(STUB, DYNAMIC_BASE | NX_COMPAT | TERMINAL_SERVER_AWARE)

    def test_x86_64_stub(self):
        if not os.path.exists(STUB64):
            self.skipTest(f"{STUB64} is not built (make wine64)")
        self.check_image(STUB64, DYNAMIC_BASE | NX_COMPAT | TERMINAL_SERVER_AWARE | HIGH_ENTROPY_VA)


if __name__ == "__main__":
    unittest.main()
