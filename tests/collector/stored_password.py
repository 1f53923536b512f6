"""Computes stored POP3 password values independently of the C++ code: Blowfish from libcrypto's
low-level key set-up and single-block encryption, a plain CFB-8 loop, and two Base64 layers.
Arguments: passphrase, then each password as hex; prints one stored value per line."""
import base64, ctypes, hashlib, sys

crypto = ctypes.CDLL("libcrypto.so.3")
key_schedule = (ctypes.c_ubyte * 4168)()  # BF_KEY: 18 + 4 * 256 words
key = hashlib.sha1(sys.argv[1].encode("latin-1")).digest()
crypto.BF_set_key(ctypes.byref(key_schedule), len(key), key)

def encrypt_block(block):
    out = ctypes.create_string_buffer(8)
    crypto.BF_ecb_encrypt(bytes(block), out, ctypes.byref(key_schedule), 1)
    return out.raw

for arg in sys.argv[2:]:
    plain = bytes.fromhex(arg)
    register = encrypt_block(bytes(8))  # initial vector: E(zero block)
    cipher = bytearray()
    for byte in plain:
        c = byte ^ encrypt_block(register)[0]
        cipher.append(c)
        register = register[1:] + bytes([c])
    inner = base64.b64encode(bytes(cipher))
    print(base64.b64encode(inner).decode("ascii") if plain else "")
