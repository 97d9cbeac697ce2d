// DES block cipher.
