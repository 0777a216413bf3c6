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


if __name__ == "__main__":
    unittest.main()
