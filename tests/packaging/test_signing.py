"""The signing step: a build configured with a throwaway self-signed certificate (made here with
openssl, its key encrypted, the password given only in the environment at build time) signs the
released exe and the MSI with Authenticode; osslsigncode verifies both, and fails both once a
byte of either is changed; the exe the build makes stays unsigned and as an unsigned build
makes it. A key inside the source tree is refused."""

import os
import subprocess
import sys
import tempfile
import unittest
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.normpath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, os.path.join(SOURCE, "tests", "resources"))
sys.path.insert(0, os.path.join(SOURCE, "packaging"))
import peresources  # noqa: E402
import sign  # noqa: E402

EXE = os.environ.get("TRIMBOLT_EXE", "")
VERSION = os.environ.get("TRIMBOLT_VERSION", "")
PASSWORD = "throwaway password"
CERTIFICATE_TABLE = 4


def verify(path, ca):
    """(passed, osslsigncode's report) for the signature of `path`, trusting only `ca`."""
    result = subprocess.run(["osslsigncode", "verify", "-CAfile", ca, "-in", path],
                            capture_output=True, text=True)
    report = result.stdout + result.stderr
    return result.returncode == 0 and "Signature verification: ok" in report, report


def certificate_table(path):
    return peresources.PeFile(path).directories[CERTIFICATE_TABLE]


def extract(msi, directory):
    """The exe the MSI installs, as msiextract unpacks it (into the install folder's name)."""
    subprocess.run(["msiextract", "-C", directory, msi], check=True, capture_output=True)
    with open(os.path.join(directory, "Trimbolt", "Trimbolt64.exe"), "rb") as f:
        return f.read()


def read(path):
    with open(path, "rb") as f:
        return f.read()


class SigningTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.TemporaryDirectory(prefix="trimbolt-signing-")
        scratch = cls.scratch.name
        cls.certificate = os.path.join(scratch, "certificate.pem")
        cls.key = os.path.join(scratch, "key.pem")
        subprocess.run(
            ["openssl", "req", "-x509", "-newkey", "rsa:2048", "-sha256", "-days", "2",
             "-subj", "/CN=Trimbolt throwaway test signer",
             "-addext", "keyUsage=critical,digitalSignature",
             "-addext", "extendedKeyUsage=codeSigning",
             "-addext", "basicConstraints=critical,CA:FALSE",
             "-keyout", cls.key, "-out", cls.certificate, "-passout", "pass:" + PASSWORD],
            check=True, capture_output=True)
        cls.build = os.path.join(scratch, "build")
        subprocess.run(
            ["cmake", "-S", SOURCE, "-B", cls.build, "-G", "Ninja",
             "-DCMAKE_TOOLCHAIN_FILE=" + os.path.join(SOURCE, "cmake", "mingw-w64-x86_64.cmake"),
             "-DCMAKE_BUILD_TYPE=Release", "-DTRIMBOLT_E2E_FULL=OFF",
             "-DTRIMBOLT_SIGN_CERT=" + cls.certificate, "-DTRIMBOLT_SIGN_KEY=" + cls.key],
            check=True, stdout=subprocess.DEVNULL)
        env = dict(os.environ, **{sign.PASSWORD_VARIABLE: PASSWORD})
        subprocess.run(["cmake", "--build", cls.build, "--target", "package"], check=True,
                       stdout=subprocess.DEVNULL, env=env)
        cls.signed_exe = os.path.join(cls.build, "signed", "Trimbolt64.exe")
        cls.msi = os.path.join(cls.build, f"Trimbolt64-{VERSION}-win64.msi")
        cls.zip = os.path.join(cls.build, f"Trimbolt64-{VERSION}-win64.zip")

    @classmethod
    def tearDownClass(cls):
        cls.scratch.cleanup()

    def test_the_release_exe_and_msi_are_signed_and_the_signatures_hold(self):
        for path in (self.signed_exe, self.msi):
            passed, report = verify(path, self.certificate)
            self.assertTrue(passed, report)
            self.assertIn("SHA256", report)
        # Both release files carry the signed exe.
        signed = read(self.signed_exe)
        with tempfile.TemporaryDirectory(prefix="trimbolt-extract-") as directory:
            self.assertEqual(extract(self.msi, directory), signed)
        with zipfile.ZipFile(self.zip) as archive:
            self.assertEqual(archive.read("Trimbolt64.exe"), signed)
        # Trusting another certificate instead, the chain does not hold.
        other = os.path.join(self.scratch.name, "other.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                        "-subj", "/CN=someone else", "-keyout", other + ".key", "-out", other],
                       check=True, capture_output=True)
        self.assertFalse(verify(self.signed_exe, other)[0])

    def test_a_changed_byte_breaks_each_signature(self):
        exe = bytearray(read(self.signed_exe))
        text = next(s for s in peresources.PeFile(self.signed_exe).sections if s["name"] == ".text")
        exe[text["raw_offset"] + 100] ^= 0x01
        msi = bytearray(read(self.msi))
        # A byte of the embedded cabinet, which starts a sector of its own, within that sector.
        cabinet = msi.find(b"MSCF")
        self.assertGreater(cabinet, 0)
        msi[cabinet + 300] ^= 0x01
        with tempfile.TemporaryDirectory(prefix="trimbolt-changed-") as directory:
            for name, data in (("Trimbolt64.exe", exe), ("Trimbolt64.msi", msi)):
                path = os.path.join(directory, name)
                with open(path, "wb") as f:
                    f.write(data)
                passed, report = verify(path, self.certificate)
                self.assertFalse(passed, f"{name} still verifies:\n{report}")
                self.assertIn("MISMATCH", report)

    def test_signing_leaves_the_built_exe_unsigned_and_as_it_was(self):
        built = os.path.join(self.build, "Trimbolt64.exe")
        self.assertEqual(read(built), read(EXE))  # as the unsigned build makes it
        self.assertEqual(certificate_table(built)[1], 0)
        self.assertGreater(certificate_table(self.signed_exe)[1], 0)

    def test_a_key_inside_the_source_tree_stops_the_configuration(self):
        tracked = os.path.join(SOURCE, "LICENSE")  # stands in for a key someone put there
        result = subprocess.run(
            ["cmake", "-S", SOURCE, "-B", os.path.join(self.scratch.name, "refused"), "-G", "Ninja",
             "-DCMAKE_TOOLCHAIN_FILE=" + os.path.join(SOURCE, "cmake", "mingw-w64-x86_64.cmake"),
             "-DTRIMBOLT_SIGN_CERT=" + self.certificate, "-DTRIMBOLT_SIGN_KEY=" + tracked],
            capture_output=True, text=True)
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("Keep signing files out of the source tree", result.stderr)

    def test_an_encrypted_key_without_its_password_signs_nothing(self):
        output = os.path.join(self.scratch.name, "unsigned.exe")
        env = {k: v for k, v in os.environ.items() if k != sign.PASSWORD_VARIABLE}
        result = subprocess.run([sys.executable, os.path.join(SOURCE, "packaging", "sign.py"),
                                 "--cert", self.certificate, "--key", self.key, EXE, output],
                                env=env, capture_output=True, text=True, stdin=subprocess.DEVNULL)
        self.assertNotEqual(result.returncode, 0)
        self.assertFalse(os.path.exists(output))


if __name__ == "__main__":
    unittest.main()
