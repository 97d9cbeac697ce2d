/*
 * ciphon.h - single-block DES on hex text.
 *
 * Blocks and keys are 8 bytes written as 16 hex characters, in either case.
 * Only the first 16 characters of input and key are read, and none past a
 * NUL: a shorter text reads as if padded with '0'. Key parity bits are
 * ignored, so any 8-byte value is a key.
 * output receives 16 uppercase hex characters and a NUL (17 bytes of room).
 * Both return 0.
 *
 * Calling convention: the platform's default C convention.
 */
#ifndef CIPHON_H
#define CIPHON_H

#if defined(_WIN32)
#define CIPHON_API
#else
#define CIPHON_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

CIPHON_API int DESencrypt(const char *input, char *output, const char *key);
CIPHON_API int DESdecrypt(const char *input, char *output, const char *key);

#ifdef __cplusplus
}
#endif

#endif /* CIPHON_H */
