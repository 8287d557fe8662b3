"""Signs a release file (the exe or the MSI) with Authenticode, through osslsigncode.

    sign.py --cert CERT --key KEY [--timestamp-url URL] [--osslsigncode PATH] INPUT OUTPUT

CERT is the code-signing certificate (with its chain, if any), KEY its private key, both PEM or
DER. A key that is encrypted takes its password from the environment variable
TRIMBOLT_SIGN_PASSWORD, which is read here, at build time, and handed to osslsigncode in a
private temporary file, never on a command line. With --timestamp-url the signature is also
time-stamped (RFC 3161), so that it stays valid after the certificate expires. The input is left
as it is; OUTPUT is written anew.
"""

import argparse
import os
import subprocess
import sys
import tempfile

PASSWORD_VARIABLE = "TRIMBOLT_SIGN_PASSWORD"
DESCRIPTION = "Trimbolt"


def sign(cert, key, source, output, timestamp_url="", osslsigncode="osslsigncode"):
    command = [osslsigncode, "sign", "-certs", cert, "-key", key, "-h", "sha256",
               "-n", DESCRIPTION]
    if timestamp_url:
        command += ["-ts", timestamp_url]
    # osslsigncode does not overwrite what is there.
    if os.path.exists(output):
        os.remove(output)
    with tempfile.TemporaryDirectory(prefix="trimbolt-sign-") as private:
        password = os.environ.get(PASSWORD_VARIABLE)
        if password is not None:
            password_file = os.path.join(private, "password")
            descriptor = os.open(password_file, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600)
            with os.fdopen(descriptor, "w") as f:
                f.write(password)
            command += ["-readpass", password_file]
        # In a session of its own, without a terminal: an encrypted key with no password given
        # then fails at once instead of asking for one.
        result = subprocess.run(command + ["-in", source, "-out", output], capture_output=True,
                                text=True, stdin=subprocess.DEVNULL, start_new_session=True)
    if result.returncode != 0 or not os.path.exists(output):
        if os.path.exists(output):
            os.remove(output)
        raise RuntimeError(f"osslsigncode could not sign {source}:\n{result.stdout}{result.stderr}")


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--cert", required=True)
    parser.add_argument("--key", required=True)
    parser.add_argument("--timestamp-url", default="")
    parser.add_argument("--osslsigncode", default="osslsigncode")
    parser.add_argument("input")
    parser.add_argument("output")
    args = parser.parse_args(argv)
    sign(args.cert, args.key, args.input, args.output, args.timestamp_url, args.osslsigncode)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
